// quorrel-split run as a real process on real files: each case gets its own
// fresh folder, the tool's stdout and stderr are captured apart, and the
// pieces it leaves on disk are compared byte for byte with what the rules
// say they must hold.

#include "split_process.h"

namespace {

using namespace quorrel::cli_testing;

// ---------------------------------------------------------------------------
// A successful run

TEST(cli, WritesEachChapterAsANumberedPiece) {
  const novel over_the_buffers = [] {
    novel book;
    const char* ends[] = {"\n", "\r\n", "\r"};
    for (int n = 0; book.source.size() < 3 * 1024 * 1024; ++n) {
      if (n % 40 == 0) book.heading("第" + std::to_string(n / 40 + 1) + "章", ends[n % 3]);
      else if (n % 7 == 0) book.blank("　\t ", ends[n % 3]);
      else book.line("一行正文，编号 " + std::to_string(n), ends[n % 3]);
    }
    return book;
  }();
  // A CR LF cut in two wherever a read block of 4 KiB to 4 MiB would end:
  // the CR is the last byte of the block, the LF the first of the next.
  const novel split_line_ends = [] {
    novel book;
    for (std::size_t block = 4096; block <= 4 * 1024 * 1024; block *= 2) {
      book.heading("第" + std::to_string(block) + "章", "\r\n");
      book.line("甲乙丙", "\r\n");
      const std::size_t cr_at = block - 1;
      book.line(std::string(cr_at - book.source.size(), 'x'), "\r\n");
    }
    book.line("尾声", "\r\n");
    return book;
  }();
  const std::string long_line = repeat("很长的一行", 250000);  // 3.75 MB, longer than any buffer

  struct row {
    const char* name;
    std::string source;
    std::vector<std::string> pieces;
  };
  const row rows[] = {
      {"CR LF line ends; blank lines of spaces, tabs and ideographic spaces are dropped",
       "第一章 起\r\n  \r\n甲\r\n\t\r\n　\r\n\r\n乙\r\n第二章 承\r\n丙\r\n",
       {"第一章 起\r\n甲\r\n乙\r\n", "第二章 承\r\n丙\r\n"}},
      {"LF alone ends a line, and the last line needs no line end",
       "第一章\n甲\n第二章\n乙\n第三章\n丙",
       {"第一章\r\n甲\r\n", "第二章\r\n乙\r\n", "第三章\r\n丙\r\n"}},
      {"CR alone ends a line", "第一章\r甲\r第二章\r乙\r", {"第一章\r\n甲\r\n", "第二章\r\n乙\r\n"}},
      {"text before the first heading is piece 0000 and starts with CR LF",
       "序言\r\n前言二\r\n第一章\r\n甲\r\n",
       {"\r\n序言\r\n前言二\r\n", "第一章\r\n甲\r\n"}},
      {"a source without a heading gives one piece", "甲\n乙\n", {"\r\n甲\r\n乙\r\n"}},
      {"a heading holds every keyword, anywhere, and keeps its blanks",
       "第一节\n甲\n本章完\n乙\n　第三章　\n丙\n章在第前\n丁\n",
       {"\r\n第一节\r\n甲\r\n本章完\r\n乙\r\n", "　第三章　\r\n丙\r\n", "章在第前\r\n丁\r\n"}},
      {"a UTF-8 byte-order mark starts every piece",
       "\xEF\xBB\xBF第一章\r\n甲\r\n第二章\r\n乙\r\n",
       {"\xEF\xBB\xBF第一章\r\n甲\r\n", "\xEF\xBB\xBF第二章\r\n乙\r\n"}},
      {"UTF-16LE with its mark: CR LF in two-byte units",
       "\xFF\xFE" + utf16le("第一章\r\n甲\n　\n第二章\r乙\r\n"),
       {"\xFF\xFE" + utf16le("第一章\r\n甲\r\n"), "\xFF\xFE" + utf16le("第二章\r\n乙\r\n")}},
      {"UTF-16BE with its mark",
       "\xFE\xFF" + utf16be("序\n第一章\n甲\n第二章\n乙"),
       {"\xFE\xFF" + utf16be("\r\n序\r\n"), "\xFE\xFF" + utf16be("第一章\r\n甲\r\n"),
        "\xFE\xFF" + utf16be("第二章\r\n乙\r\n")}},
      {"a GBK source keeps its bytes, invalid ones included",
       gbk("第一章\r\n坏") + "\xFF\x80" + gbk("字\r\n第二章\r\n乙\r\n"),
       {gbk("第一章\r\n坏") + "\xFF\x80" + gbk("字\r\n"), gbk("第二章\r\n乙\r\n")}},
      {"a line longer than the read buffer is kept whole",
       "第一章\n" + long_line + "\n第二章\n乙\n",
       {"第一章\r\n" + long_line + "\r\n", "第二章\r\n乙\r\n"}},
      {"lines and headings across many read blocks", over_the_buffers.source, over_the_buffers.pieces},
      {"a CR LF cut by the end of a read block", split_line_ends.source, split_line_ends.pieces},
      {"a CR alone at the very end", "第一章\r\n甲\r", {"第一章\r\n甲\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    ASSERT_TRUE(make_folder(dir / "out"));
    const listing before = folder_contents(dir.path());
    const outcome o = run({dir / "book.txt", dir / "out/"});
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    EXPECT_EQ(o.err, "");
    expect_contents(dir.path(), with_pieces(before, "out/", r.pieces));
  }
}

TEST(cli, NumbersPiecesWithoutAGapPastFourDigits) {
  novel book;
  for (int chapter = 1; chapter <= 10001; ++chapter) {
    book.heading("第" + std::to_string(chapter) + "章");
    book.line("正文" + std::to_string(chapter));
  }
  temp_folder dir;
  write_file(dir / "book.txt", book.source);
  const listing before = folder_contents(dir.path());
  const outcome o = run({dir / "book.txt", dir / "p"});
  EXPECT_EQ(o.exit_code, 0) << o;
  EXPECT_EQ(o.out, saved);
  const listing expected = with_pieces(before, "p", book.pieces);
  EXPECT_TRUE(expected.contains("p9999.txt") && expected.contains("p10000.txt"));
  expect_contents(dir.path(), expected);
}

// ---------------------------------------------------------------------------
// Input problems

TEST(cli, ReportsInputProblemsInOrderAndWritesNothing) {
  struct row {
    const char* name;
    std::string source, destination;
    std::string message;  // "{dir}" stands for the case's folder
  };
  const row rows[] = {
      {"no source, no destination", "", "", "请选择要分割的文件"},
      {"a source of blanks only is a name like any other", " \t　", "{dir}/out", "文件“ \t　”不存在"},
      {"the source is checked before the destination", "", "{dir}/missing/", "请选择要分割的文件"},
      {"no destination", "{dir}/book.txt", "", "请选择要保存分割文件的目录"},
      {"the destination is checked before the source exists", "{dir}/nothing.txt", "",
       "请选择要保存分割文件的目录"},
      {"a missing source", "{dir}/nothing.txt", "{dir}/out", "文件“{dir}/nothing.txt”不存在"},
      {"blanks around the source are part of its name", " book.txt", "out", "文件“ book.txt”不存在"},
      {"so are ideographic spaces and tabs", "{dir}/book.txt　\t", "out", "文件“{dir}/book.txt　\t”不存在"},
      {"a folder as source", "{dir}/sub", "{dir}/out", "文件“{dir}/sub”不存在"},
      {"wildcards are not expanded", "{dir}/book.*", "{dir}/out", "文件“{dir}/book.*”不存在"},
      {"the source is piece 0001 of the destination", "{dir}/out0001.txt", "{dir}/out",
       "分割文件会覆盖原始文件“{dir}/out0001.txt”，请选择其他存放目录"},
      {"the same piece spelt another way", "{dir}/./out0001.txt", "{dir}/sub/../out",
       "分割文件会覆盖原始文件“{dir}/./out0001.txt”，请选择其他存放目录"},
      {"a five-digit piece number", "{dir}/out10000.txt", "{dir}/out",
       "分割文件会覆盖原始文件“{dir}/out10000.txt”，请选择其他存放目录"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    write_file(dir / "out0001.txt", three_chapters);
    write_file(dir / "out10000.txt", three_chapters);
    ASSERT_TRUE(make_folder(dir / "sub"));
    const listing before = folder_contents(dir.path());

    launch how;
    how.cwd = dir.path();
    const outcome o = run(in_folder({r.source, r.destination}, dir), how);
    EXPECT_EQ(o.exit_code, 1) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, replace_all(r.message, "{dir}", dir.path()) + "\n");
    expect_contents(dir.path(), before);
  }
}

struct runs_row {
  const char* name;
  std::string source, destination, prefix;  // prefix: where the pieces go, within the folder
};

void expect_runs(const std::vector<runs_row>& rows) {
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "out0001.txt", three_chapters);
    write_file(dir / "out01234.txt", three_chapters);
    ASSERT_TRUE(make_folder(dir / "sub"));
    const listing before = folder_contents(dir.path());
    const outcome o = run(in_folder({r.source, r.destination}, dir));
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    expect_contents(dir.path(), with_pieces(before, r.prefix, three_pieces));
  }
}

TEST(cli, RunsWhenNoPieceCanBeTheSource) {
  expect_runs({
      {"a piece-like name in another folder", "{dir}/out0001.txt", "{dir}/sub/out", "sub/out"},
      {"a number with a leading zero past four digits", "{dir}/out01234.txt", "{dir}/out", "out"},
  });
}

// Only where file names are case-sensitive.
TEST(cli, RunsWhenThePrefixDiffersFromTheSourceInCaseOnly) {
  expect_runs({{"a piece-like name under another prefix", "{dir}/out0001.txt", "{dir}/Out", "Out"}});
}

// ---------------------------------------------------------------------------
// Keywords and encodings

TEST(cli, KeywordsChooseTheHeadings) {
  const std::string source = "序\n第一卷 风起\n甲\n第一章 初\n乙\nChapter 2\n丙\nCHAPTER 3\n丁\n卷末 第二章\n戊\n";
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> pieces;
  };
  const row rows[] = {
      {"第 and 章 by default",
       {},
       {"\r\n序\r\n第一卷 风起\r\n甲\r\n", "第一章 初\r\n乙\r\nChapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n",
        "卷末 第二章\r\n戊\r\n"}},
      {"one keyword replaces the default ones",
       {"-k", "卷"},
       {"\r\n序\r\n", "第一卷 风起\r\n甲\r\n第一章 初\r\n乙\r\nChapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n",
        "卷末 第二章\r\n戊\r\n"}},
      {"repeated keywords must all occur",
       {"-k", "卷", "-k", "风"},
       {"\r\n序\r\n",
        "第一卷 风起\r\n甲\r\n第一章 初\r\n乙\r\nChapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n卷末 第二章\r\n戊\r\n"}},
      {"three keywords, long and short forms mixed",
       {"--keyword=第", "-k", "章", "--keyword", "末"},
       {"\r\n序\r\n第一卷 风起\r\n甲\r\n第一章 初\r\n乙\r\nChapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n",
        "卷末 第二章\r\n戊\r\n"}},
      {"keywords are case-sensitive",
       {"--keyword=Chapter"},
       {"\r\n序\r\n第一卷 风起\r\n甲\r\n第一章 初\r\n乙\r\n",
        "Chapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n卷末 第二章\r\n戊\r\n"}},
      {"a keyword attached to its option",
       {"-k一"},
       {"\r\n序\r\n", "第一卷 风起\r\n甲\r\n",
        "第一章 初\r\n乙\r\nChapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n卷末 第二章\r\n戊\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", source);
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / "第");
    const outcome o = run(args);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    expect_contents(dir.path(), with_pieces(before, "第", r.pieces));
  }
}

TEST(cli, EncodingOptionDecidesHowTheSourceIsRead) {
  const std::string gbk_text = "前言\r\n第一章 乗\r\n甲乙\r\n第二章\r\n丙\r\n";  // 乗 is 81 5C in GBK
  const std::vector<std::string> gbk_pieces = {gbk("\r\n前言\r\n"), gbk("第一章 乗\r\n甲乙\r\n"),
                                               gbk("第二章\r\n丙\r\n")};
  const std::string gbk_whole = gbk("\r\n" + gbk_text);
  const std::string stray = "第一章\n坏\xFF字\n第二章\n乙\n";
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string source;
    std::vector<std::string> pieces;
  };
  const row rows[] = {
      {"a GBK source detected", {}, gbk(gbk_text), gbk_pieces},
      {"a GBK source forced as GB18030", {"-e", "GB18030"}, gbk(gbk_text), gbk_pieces},
      {"a GBK source forced as gbk, any case", {"--encoding=gbk"}, gbk(gbk_text), gbk_pieces},
      {"a GBK source forced as UTF-8: the keywords never match", {"-e", "UTF-8"}, gbk(gbk_text), {gbk_whole}},
      {"a keyword matches only on a character boundary", {"-e", "GBK", "-k", "\\"}, gbk(gbk_text),
       {gbk_whole}},
      {"a keyword written in the source's encoding", {"-e", "GBK", "-k", "乗"}, gbk(gbk_text),
       {gbk("\r\n前言\r\n"), gbk("第一章 乗\r\n甲乙\r\n第二章\r\n丙\r\n")}},
      {"a Big5 source forced as Big5", {"--encoding", "Big5"}, big5("序\r\n第一章\r\n甲\r\n第二章\r\n乙\r\n"),
       {big5("\r\n序\r\n"), big5("第一章\r\n甲\r\n"), big5("第二章\r\n乙\r\n")}},
      {"UTF-16LE without a mark, forced", {"-e", "UTF-16LE"}, utf16le("第一章\r\n甲\r\n第二章\n乙\n"),
       {utf16le("第一章\r\n甲\r\n"), utf16le("第二章\r\n乙\r\n")}},
      {"a stray byte makes a UTF-8 file a legacy one", {}, stray,
       {"\r\n第一章\r\n坏\xFF字\r\n第二章\r\n乙\r\n"}},
      {"forced UTF-8 splits it and keeps the stray byte", {"-e", "UTF-8"}, stray,
       {"第一章\r\n坏\xFF字\r\n", "第二章\r\n乙\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / "out");
    const outcome o = run(args);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    EXPECT_EQ(o.err, "");
    expect_contents(dir.path(), with_pieces(before, "out", r.pieces));
  }
}

TEST(cli, RefusesAnEncodingItCannotRead) {
  struct row {
    const char* name;
    std::vector<std::string> args;
    std::string shown;  // the name as the message quotes it
  };
  const row rows[] = {
      {"an unknown name", {"-e", "no-such-charset", "{dir}/book.txt", "{dir}/out"}, "no-such-charset"},
      {"an empty name", {"--encoding=", "{dir}/book.txt", "{dir}/out"}, ""},
      {"a stateful encoding", {"-e", "ISO-2022-JP", "{dir}/book.txt", "{dir}/out"}, "ISO-2022-JP"},
      {"EBCDIC: line ends are other bytes", {"-e", "IBM037", "{dir}/book.txt", "{dir}/out"}, "IBM037"},
      {"UTF-32", {"-e", "UTF-32LE", "{dir}/book.txt", "{dir}/out"}, "UTF-32LE"},
      {"checked before the paths", {"--encoding=nope", "", ""}, "nope"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    const listing before = folder_contents(dir.path());
    const outcome o = run(in_folder(r.args, dir));
    EXPECT_EQ(o.exit_code, 1) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "quorrel-split: 不支持的编码“" + r.shown + "”\n");
    expect_contents(dir.path(), before);
  }
}

// ---------------------------------------------------------------------------
// File-system failures

TEST(cli, FileSystemFailureStopsTheRunAndKeepsCompletePieces) {
  novel book;
  book.heading("第一章");
  book.line("甲");
  book.heading("第二章");
  const std::string long_line = repeat("乙", 1024 * 1024);  // 3 MiB: written in parts
  book.line(long_line);
  book.heading("第三章");
  book.line("丙");

  struct row {
    const char* name;
    std::vector<std::string> args;     // "{dir}" stands for the case's folder
    std::vector<std::string> folders;  // made before the run
    std::uint64_t file_size_limit;  // bytes
    std::string message;
    std::size_t pieces_kept;  // at "out", from 0000
  };
  const row rows[] = {
      {"a missing destination folder", {"{dir}/book.txt", "{dir}/missing/out"}, {}, no_limit,
       "写入文件“{dir}/missing/out0000.txt”失败：No such file or directory", 0},
      {"a missing destination folder, with a trailing slash", {"{dir}/book.txt", "{dir}/missing/"}, {},
       no_limit, "写入文件“{dir}/missing/0000.txt”失败：No such file or directory", 0},
      {"a folder where the second piece goes", {"{dir}/book.txt", "{dir}/out"}, {"out0001.txt"},
       no_limit, "写入文件“{dir}/out0001.txt”失败：Is a directory", 1},
      {"the disk refuses a piece half-way", {"{dir}/book.txt", "{dir}/out"}, {}, 2 * 1024 * 1024,
       "写入文件“{dir}/out0001.txt”失败：File too large", 1},
      {"the disk refuses the first piece", {"{dir}/book.txt", "{dir}/out"}, {}, 4,
       "写入文件“{dir}/out0000.txt”失败：File too large", 0},
      // A regular file whose first bytes cannot be read: the tool's own
      // memory at address 0.
      {"a source that cannot be read", {"/proc/self/mem", "{dir}/out"}, {}, no_limit,
       "读取文件“/proc/self/mem”失败：Input/output error", 0},
      {"a source that cannot be read, encoding given", {"-e", "GBK", "/proc/self/mem", "{dir}/out"}, {},
       no_limit, "读取文件“/proc/self/mem”失败：Input/output error", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    for (const auto& f : r.folders) ASSERT_TRUE(make_folder(dir / f));
    const listing before = folder_contents(dir.path());
    launch how;
    how.file_size_limit = r.file_size_limit;
    const outcome o = run(in_folder(r.args, dir), how);
    EXPECT_EQ(o.exit_code, 2) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, replace_all(r.message, "{dir}", dir.path()) + "\n");
    const std::vector<std::string> kept(book.pieces.begin(),
                                        book.pieces.begin() + static_cast<std::ptrdiff_t>(r.pieces_kept));
    expect_contents(dir.path(), with_pieces(before, "out", kept));
  }
}

// ---------------------------------------------------------------------------
// --list

struct listed_piece {
  std::string path, size, first_line;
};

// The lines "PATH<TAB>SIZE<TAB>FIRST LINE", then the total line, apart.
std::vector<listed_piece> parse_list(const std::string& out, std::string& total) {
  std::vector<listed_piece> pieces;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const auto tab1 = line.find('\t');
    const auto tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) {
      total = line;
      continue;
    }
    pieces.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
  }
  return pieces;
}

TEST(cli, ListShowsThePiecesARunWouldWriteAndWritesNothing) {
  const std::string long_heading = "第" + repeat("一", 199) + "章";  // 603 bytes
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string source;
    bool folder_exists;  // during the listing; a real run needs it
    std::vector<std::string> first_lines;
  };
  const row rows[] = {
      {"chapters after a preamble", {"--list"}, "序\n\n第一章 甲\n天\n地\n第二章 乙\n人\n", true,
       {"序", "第一章 甲", "第二章 乙"}},
      {"sizes count the byte-order mark, first lines do not show it", {"-l"},
       "\xEF\xBB\xBF第一章\r\n甲\r\n第二章\r\n乙\r\n", true, {"第一章", "第二章"}},
      {"a GBK source is shown in UTF-8", {"-l", "-e", "GBK"}, gbk("第一章 乗\r\n甲\r\n第二章 乙\r\n丙\r\n"),
       true, {"第一章 乗", "第二章 乙"}},
      {"a long first line is cut on a character boundary", {"--list"}, long_heading + "\n正文\n", true,
       {"第" + repeat("一", 169)}},
      {"the destination folder need not exist", {"--list"}, three_chapters, false,
       {"第一章 起", "第二章 承", "第三章 转"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    if (r.folder_exists) {
      ASSERT_TRUE(make_folder(dir / "out 目录"));
    }
    const std::string destination = dir / "out 目录/卷";
    const listing before_list = folder_contents(dir.path());

    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(destination);
    const outcome listed = run(args);
    EXPECT_EQ(listed.exit_code, 0) << listed;
    EXPECT_EQ(listed.err, "");
    expect_contents(dir.path(), before_list);
    std::string total;
    const std::vector<listed_piece> pieces = parse_list(listed.out, total);

    // Then split for real, and hold the list against the files.
    if (!r.folder_exists) {
      ASSERT_TRUE(make_folder(dir / "out 目录"));
    }
    std::vector<std::string> real_args;
    for (const auto& a : r.options)
      if (a != "--list" && a != "-l") real_args.push_back(a);
    real_args.push_back(dir / "book.txt");
    real_args.push_back(destination);
    const outcome written = run(real_args);
    ASSERT_EQ(written.exit_code, 0) << written;

    ASSERT_EQ(pieces.size(), r.first_lines.size()) << listed.out;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const std::string path = destination + piece_name(i);
      EXPECT_EQ(pieces[i].path, path);
      std::error_code missing;
      const auto size = fs::file_size(utf8_path(path), missing);
      EXPECT_FALSE(missing) << path;
      EXPECT_EQ(pieces[i].size, std::to_string(size)) << path;
      EXPECT_EQ(pieces[i].first_line, r.first_lines[i]);
      sum += size;
    }
    EXPECT_FALSE(fs::exists(utf8_path(destination + piece_name(pieces.size()))));
    EXPECT_EQ(total, "合计：" + std::to_string(pieces.size()) + "个文件，" + std::to_string(sum) + "字节");
    EXPECT_TRUE(listed.out.ends_with("字节\n")) << listed.out;
  }
}

// ---------------------------------------------------------------------------
// Progress, help, version, the command line

struct progress_row {
  const char* name;
  std::vector<std::string> options;
  bool terminal;
  bool progress;
};

void expect_progress(const std::vector<progress_row>& rows) {
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / "out");
    launch how;
    how.stderr_terminal = r.terminal;
    const outcome o = run(args, how);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    expect_contents(dir.path(), with_pieces(before, "out", three_pieces));
    if (r.progress) {
      // The last count shown is the total, so it never under-reports.
      const auto last = o.err.rfind("已经保存");
      ASSERT_NE(last, std::string::npos) << o.err;
      EXPECT_TRUE(o.err.substr(last).starts_with("已经保存3章")) << o.err;
    } else if (r.terminal) {
      EXPECT_EQ(o.err.find("已经保存"), std::string::npos) << o.err;
      EXPECT_EQ(o.err, "");
    } else {
      EXPECT_EQ(o.err, "");
    }
  }
}

TEST(cli, ShowsNoProgressOnAPipe) {
  expect_progress({{"stderr is a pipe", {}, false, false}, {"quiet, stderr a pipe", {"-q"}, false, false}});
}

// A pseudo-terminal: POSIX only.
TEST(cli, ShowsProgressOnATerminalButNotWhenQuiet) {
  expect_progress({{"stderr is a terminal", {}, true, true},
                   {"quiet, stderr a terminal", {"--quiet"}, true, false},
                   {"quiet in short form, stderr a terminal", {"-q"}, true, false}});
}

TEST(cli, HelpAndVersionAnswerAndExit) {
  struct row {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> mentions;
    const char* starts_with;
  };
  const row rows[] = {
      {"help", {"--help"}, {"--keyword", "--encoding", "--list", "--quiet", "--version"}, ""},
      {"help among operands", {"{dir}/book.txt", "{dir}/out", "--help"}, {"--keyword"}, ""},
      {"version", {"--version"}, {}, "quorrel-split "},
      {"version among operands", {"{dir}/book.txt", "--version", "{dir}/out"}, {}, "quorrel-split "},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    const listing before = folder_contents(dir.path());
    const outcome o = run(in_folder(r.args, dir));
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(o.out.starts_with(r.starts_with)) << o.out;
    EXPECT_TRUE(o.out.ends_with("\n")) << o.out;
    for (const auto& m : r.mentions) EXPECT_NE(o.out.find(m), std::string::npos) << m;
    if (std::string_view(r.starts_with) == "quorrel-split ") {
      EXPECT_GT(o.out.size(), std::string_view(r.starts_with).size() + 1) << "no version number";
      EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 1) << o.out;
    }
    expect_contents(dir.path(), before);
  }
}

TEST(cli, RejectsABadCommandLine) {
  struct row {
    const char* name;
    std::vector<std::string> args;
  };
  const row rows[] = {
      {"no operand", {}},
      {"one operand", {"{dir}/book.txt"}},
      {"three operands", {"{dir}/book.txt", "{dir}/out", "{dir}/more"}},
      {"an unknown long option", {"--bogus", "{dir}/book.txt", "{dir}/out"}},
      {"an unknown short option", {"-x", "{dir}/book.txt", "{dir}/out"}},
      {"a keyword option without its word", {"{dir}/book.txt", "{dir}/out", "-k"}},
      {"an encoding option without its name", {"{dir}/book.txt", "{dir}/out", "--encoding"}},
      {"a value given to --list", {"--list=yes", "{dir}/book.txt", "{dir}/out"}},
      {"a value given to --quiet", {"--quiet=1", "{dir}/book.txt", "{dir}/out"}},
      {"only options", {"-q", "-k", "第"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    const listing before = folder_contents(dir.path());
    const outcome o = run(in_folder(r.args, dir));
    EXPECT_EQ(o.exit_code, 1) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(o.err.ends_with(usage_hint)) << o.err;
    expect_contents(dir.path(), before);
  }
}

// ---------------------------------------------------------------------------
// Paths

TEST(cli, TakesPathsThatBeginWithADashAfterDoubleDash) {
  struct row {
    const char* name;
    std::vector<std::string> args;  // run in the case's folder
    int exit_code;
    std::string prefix;  // where the pieces go, when it succeeds
  };
  const row rows[] = {
      {"a source beginning with -", {"--", "-book.txt", "out/"}, 0, "out/"},
      {"a destination beginning with - too", {"-q", "--", "-book.txt", "-part"}, 0, "-part"},
      {"options before --", {"-k", "章", "--", "-book.txt", "-"}, 0, "-"},
      {"without --, the source is taken for options", {"-book.txt", "out/"}, 1, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "-book.txt", three_chapters);
    ASSERT_TRUE(make_folder(dir / "out"));
    const listing before = folder_contents(dir.path());
    launch how;
    how.cwd = dir.path();
    const outcome o = run(r.args, how);
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    if (r.exit_code == 0) {
      EXPECT_EQ(o.out, saved);
      expect_contents(dir.path(), with_pieces(before, r.prefix, three_pieces));
    } else {
      EXPECT_EQ(o.out, "");
      EXPECT_TRUE(o.err.ends_with(usage_hint)) << o.err;
      expect_contents(dir.path(), before);
    }
  }
}

struct path_row {
  const char* name;
  std::string source_file;           // created, relative to the case's folder
  std::vector<std::string> folders;  // created
  std::string source, destination;   // as given
  std::string prefix;                // where the pieces go
};

void expect_paths_work(const std::vector<path_row>& rows) {
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    for (const auto& f : r.folders) ASSERT_TRUE(make_folder(dir / f));
    write_file(dir / r.source_file, three_chapters);
    const listing before = folder_contents(dir.path());
    launch how;
    how.cwd = dir.path();
    const outcome o = run(in_folder({r.source, r.destination}, dir), how);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    EXPECT_EQ(o.err, "");
    expect_contents(dir.path(), with_pieces(before, r.prefix, three_pieces));
  }
}

TEST(cli, HandlesPathsWithSpacesAndChineseCharacters) {
  expect_paths_work({
      {"into a folder", "我的 小说.txt", {"输出 目录"}, "{dir}/我的 小说.txt", "{dir}/输出 目录/", "输出 目录/"},
      {"a Chinese prefix with spaces", "书 名.txt", {"卷 一"}, "{dir}/书 名.txt", "{dir}/卷 一/第 一 部",
       "卷 一/第 一 部"},
      {"both in Chinese folders", "上 卷/原 文.txt", {"上 卷", "下 卷"}, "{dir}/上 卷/原 文.txt", "{dir}/下 卷/章节",
       "下 卷/章节"},
      {"blanks inside a name are kept", "小说.txt", {}, "{dir}/小说.txt", "{dir}/卷　一 ", "卷　一 "},
  });
}

// Names with a tab, or ending in a blank: Windows allows neither.
TEST(cli, HandlesPathsWithBlanksAroundThem) {
  expect_paths_work({{"blanks around both paths are part of them", "　小说.txt \t", {" 输出"}, "　小说.txt \t",
                      " 输出/　", " 输出/　"}});
}

TEST(cli, UsesTheDestinationAsAPrefixExactlyAsGiven) {
  struct row {
    const char* name;
    std::vector<std::string> folders;
    std::string destination;  // run in the case's folder
    std::string prefix;
  };
  const row rows[] = {
      {"no trailing slash: a name prefix", {"out"}, "{dir}/out", "out"},
      {"a trailing slash: inside the folder", {"out"}, "{dir}/out/", "out/"},
      {"a relative prefix", {}, "part", "part"},
      {"a relative folder and a Chinese prefix", {"sub"}, "sub/第", "sub/第"},
      {"a prefix ending in a dot", {}, "{dir}/book.", "book."},
      {"a prefix ending in a dash, in a nested folder", {"a", "a/b"}, "{dir}/a/b/ch-", "a/b/ch-"},
      {"a trailing blank is part of the prefix", {"out"}, "out/x ", "out/x "},
      {"a prefix of blanks only", {}, "　 ", "　 "},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    for (const auto& f : r.folders) ASSERT_TRUE(make_folder(dir / f));
    write_file(dir / "book.txt", three_chapters);
    const listing before = folder_contents(dir.path());
    launch how;
    how.cwd = dir.path();
    const outcome o = run(in_folder({"book.txt", r.destination}, dir), how);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    expect_contents(dir.path(), with_pieces(before, r.prefix, three_pieces));
  }
}

// ---------------------------------------------------------------------------
// Standard output

struct output_row {
  const char* name;
  std::vector<std::string> options;
  std::string source;
  bool disk_full;  // stdout is /dev/full; otherwise a pipe its reader has closed
  int exit_code;
  std::string err;
  bool split;  // the pieces are written
};

void expect_output_handled(const std::vector<output_row>& rows) {
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / "out");
    launch how;
    if (r.disk_full) how.stdout_file = "/dev/full";
    else how.stdout_reader_gone = true;
    const outcome o = run(args, how);
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    EXPECT_EQ(o.err, r.err);
    expect_contents(dir.path(), r.split ? with_pieces(before, "out", three_pieces) : before);
  }
}

// A listing longer than stdout's buffer: it fails mid-run.
std::string long_list() {
  novel book;
  for (int chapter = 1; chapter <= 500; ++chapter) book.heading("第" + std::to_string(chapter) + "章");
  return book.source;
}

// /dev/full, and Linux's wording of the failure.
TEST(cli, ReportsOutputThatCannotBeWritten) {
  const std::string disk_full = "quorrel-split: 写入标准输出失败：No space left on device\n";
  expect_output_handled({
      {"a split: 保存完毕 to a full disk", {}, three_chapters, true, 2, disk_full, true},
      {"a listing to a full disk", {"--list"}, three_chapters, true, 2, disk_full, false},
      {"a long listing to a full disk", {"-l"}, long_list(), true, 2, disk_full, false},
      {"help to a full disk", {"--help"}, three_chapters, true, 2, disk_full, false},
      {"version to a full disk", {"--version"}, three_chapters, true, 2, disk_full, false},
  });
}

TEST(cli, DoesNotReportAnOutputReaderThatLeftEarly) {
  expect_output_handled({
      {"a split whose reader left: the split is done", {}, three_chapters, false, 0, "", true},
      {"a listing whose reader left", {"--list"}, three_chapters, false, 0, "", false},
      {"a long listing whose reader left", {"-l"}, long_list(), false, 0, "", false},
      {"help whose reader left", {"--help"}, three_chapters, false, 0, "", false},
  });

  // A listing stops reading once its reader has gone: behind chapters that
  // fill stdout's buffer lies a terabyte (sparse) that a listing reading on
  // would not get through before the watchdog. The mark spares the check of
  // every byte.
  temp_folder dir;
  write_file(dir / "book.txt", "\xEF\xBB\xBF" + long_list());
  fs::resize_file(utf8_path(dir / "book.txt"), std::uintmax_t{1} << 40);
  launch how;
  how.stdout_reader_gone = true;
  how.deadline = std::chrono::seconds(60);
  const outcome o = run({"--list", dir / "book.txt", dir / "out"}, how);
  EXPECT_FALSE(o.hung) << o;
  EXPECT_EQ(o.exit_code, 0) << o;
}

}  // namespace
