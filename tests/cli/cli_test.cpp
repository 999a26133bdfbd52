// quorrel-split run as a real process on real files: each case gets its own
// fresh folder, the tool's stdout and stderr are captured apart, and the
// pieces it leaves on disk are compared byte for byte with what the rules
// say they must hold. Its command line is read in-process.

#include "cli/options.h"
#include "core/checks.h"        // default_keywords
#include "core/heading_form.h"  // numeral_ceiling
#include "core/messages.h"
#include "core/path.h"
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
  const std::string hint(quorrel::messages::usage_hint);
  struct row {
    const char* name;
    std::string source, destination;
    std::string message;          // "{dir}" stands for the case's folder
    std::string on_windows = "";  // the message there where it differs: no name there holds a tab or "*"
    std::vector<std::string> options = {};
  };
  const row rows[] = {
      {"no source, no destination", "", "", "请选择要分割的文件"},
      {"a source of blanks only is a name like any other", " \t　", "{dir}/out", "文件“ \t　”不存在",
       "路径“ \t　”中有文件名不能包含的控制字符 U+0009"},
      {"the source is checked before the destination", "", "{dir}/missing/", "请选择要分割的文件"},
      {"no destination", "{dir}/book.txt", "", "请选择要保存分割文件的目录"},
      {"the destination is checked before the source exists", "{dir}/nothing.txt", "",
       "请选择要保存分割文件的目录"},
      {"a missing source", "{dir}/nothing.txt", "{dir}/out", "文件“{dir}/nothing.txt”不存在"},
      {"blanks around the source are part of its name", " book.txt", "out", "文件“ book.txt”不存在"},
      {"so are ideographic spaces and tabs", "{dir}/book.txt　\t", "out", "文件“{dir}/book.txt　\t”不存在",
       "路径“{dir}/book.txt　\t”中有文件名不能包含的控制字符 U+0009"},
      {"a folder as source", "{dir}/sub", "{dir}/out", "文件“{dir}/sub”不存在"},
      {"wildcards are not expanded", "{dir}/book.*", "{dir}/out", "文件“{dir}/book.*”不存在",
       "路径“{dir}/book.*”中有文件名不能包含的字符“*”"},
      {"the source is piece 0001 of the destination", "{dir}/out0001.txt", "{dir}/out",
       "分割文件会覆盖原始文件“{dir}/out0001.txt”，请选择其他存放目录"},
      {"the same piece spelt another way", "{dir}/./out0001.txt", "{dir}/sub/../out",
       "分割文件会覆盖原始文件“{dir}/./out0001.txt”，请选择其他存放目录"},
      {"a five-digit piece number", "{dir}/out10000.txt", "{dir}/out",
       "分割文件会覆盖原始文件“{dir}/out10000.txt”，请选择其他存放目录"},
      // The command line is refused first: exit status 1, nothing written.
      {"an option the parser refuses",
       "{dir}/book.txt",
       "{dir}/out",
       "quorrel-split: 无效的选项“-x”\n" + hint,
       "",
       {"-x"}},
      {"a value refused once the options are read",
       "{dir}/book.txt",
       "{dir}/out",
       "quorrel-split: 无效的大小“0”（例如 300K、2M 或字节数，至多 1048576M）\n" + hint,
       "",
       {"--max-size=0"}},
      {"an encoding, checked before the paths, without the hint",
       "",
       "",
       "quorrel-split: 不支持的编码“nope”",
       "",
       {"--encoding=nope"}},
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
    std::vector<std::string> args = r.options;
    args.push_back(r.source);
    args.push_back(r.destination);
    const outcome o = run(in_folder(args, dir), how);
    EXPECT_EQ(o.exit_code, 1) << o;
    EXPECT_EQ(o.out, "");
    const std::string& message = quorrel::windows_names && !r.on_windows.empty() ? r.on_windows : r.message;
    EXPECT_EQ(o.err, replace_all(message, "{dir}", dir.path()) + "\n");
    expect_contents(dir.path(), before);
  }
}

// ---------------------------------------------------------------------------
// Keywords and encodings

TEST(cli, KeywordsChooseTheHeadings) {
  const std::string source =
      "序\n第一卷 风起\n甲\n第一章 初\n乙\nChapter 2\n丙\nCHAPTER 3\n丁\n卷末 第二章\n戊\n";
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
      {"keywords are case-sensitive",
       {"--keyword=Chapter"},
       {"\r\n序\r\n第一卷 风起\r\n甲\r\n第一章 初\r\n乙\r\n",
        "Chapter 2\r\n丙\r\nCHAPTER 3\r\n丁\r\n卷末 第二章\r\n戊\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_split(r.options, source, r.pieces, "第");
  }
}

TEST(cli, HeadingRulesAndSizeLimitChooseThePieces) {
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string source;
    std::vector<std::string> pieces;
  };
  const row rows[] = {
      {"a volume's title, and its subtitle, open its first chapter's piece",
       {"--headings=auto"},
       "书名\n第一卷 风起\n\n　\n第一章 初\n甲\n第二章\n乙\n卷二\n引\n第三章\n丙\n第三卷\n",
       {"\r\n书名\r\n", "第一卷 风起\r\n第一章 初\r\n甲\r\n", "第二章\r\n乙\r\n",
        "卷二\r\n引\r\n第三章\r\n丙\r\n第三卷\r\n"}},
      {"guards keep prose out",
       {"--headings=auto"},
       "第一章\n他翻到第三章，看了很久。\n“第三章写得真好。”\n第一节课很无聊\n楔子：旧事\n丁\n",
       {"第一章\r\n他翻到第三章，看了很久。\r\n“第三章写得真好。”\r\n第一节课很无聊\r\n",
        "楔子：旧事\r\n丁\r\n"}},
      {"a regular expression",
       {"--pattern=^Chapter \\d+$"},
       "Intro\nChapter 1\na\nChapter 2 and more\nChapter 22\nb\n",
       {"\r\nIntro\r\n", "Chapter 1\r\na\r\nChapter 2 and more\r\n", "Chapter 22\r\nb\r\n"}},
      {"a size limit cuts a text without headings",
       {"--max-size=10"},
       "一二三四\n五六七八\n九十\n",
       {"\r\n一二三四\r\n", "\r\n五六七八\r\n", "\r\n九十\r\n"}},
      {"a size limit with the rule by form",
       {"--headings=auto", "--max-size=1K"},
       "第一章\n" + std::string(1020, 'a') + "\nb\n第二章\nc\n",
       {"第一章\r\n" + std::string(1020, 'a') + "\r\n", "\r\nb\r\n", "第二章\r\nc\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_split(r.options, r.source, r.pieces, "p");
  }

  // A line the pattern cannot decide in time ends the run there, naming it:
  // the piece before stays, the one it was in is removed.
  temp_folder dir;
  write_file(dir / "book.txt", "第一章\n甲\n第二章\n乙\n" + std::string(40, 'a') + "b\n第三章\n");
  listing expected = folder_contents(dir.path());
  const outcome o = run({"--pattern=^第|(a+)+$", dir / "book.txt", dir / "p"});
  EXPECT_EQ(o.exit_code, 1) << o;
  EXPECT_EQ(o.err, quorrel::messages::pattern_undecided(dir / "book.txt", 5) + "\n");
  expected["p0000.txt"] = "第一章\r\n甲\r\n";
  expect_contents(dir.path(), expected);
}

TEST(cli, CheckReportsWhatAReaderWouldTripOverAndWritesNothing) {
  temp_folder dir;
  // A table of contents, a repeat, a jump, a near miss in the book's own
  // style (and a sentence that only starts like a heading, not reported),
  // a new start at 1, sections numbered within their chapter.
  write_file(
      dir / "book.txt",
      "目录\n第一章 甲\n第二章 乙\n第三章 丙\n第一章 甲\n正文\n正文\n第二章 乙\n正文\n正文\n第二章 乙\n正文\n"
      "正文\n第五章 丁\n正文\n正文\n第六章 他说完了。然后走了\n正文\n第一节课很无聊\n第1章 短\n第二卷\n"
      "第一章 第一节\n丁\n丁\n第一章 第二节\n" +
          std::string(300, 'x') + "\ny\n");
  const listing before = folder_contents(dir.path());
  const std::string book = dir / "book.txt";
  const outcome o = run({"--headings=auto", "--check", "--max-size=200", book, dir / "p"});
  EXPECT_EQ(o.exit_code, 3) << o;
  EXPECT_EQ(o.out, book + ":2: 目录（第2行至第4行，不作分章）\n" + book +
                       ":11: 编号重复（2 之后是 2）：第二章 乙\n" + book +
                       ":14: 编号跳跃（2 之后是 5）：第五章 丁\n" + book +
                       ":17: 疑似标题（未作标题，含句号）：第六章 他说完了。然后走了\n" + book +
                       ":20: 过短：" + (dir / "p") + "0005.txt（第1章 短） 只有 1 行\n" + book +
                       ":25: 过大：" + (dir / "p") + "0007.txt（第一章 第二节） 326 字节\n" +
                       "检查：8个文件，编号问题2处，过大1个，过短1个，疑似标题1处\n");
  expect_contents(dir.path(), before);

  // Chapters numbered within their volume on one line, and 第 left out:
  // numbers read from the book's own forms.
  const std::string body = "正文\n正文\n正文\n";
  write_file(dir / "units.txt", "第十一册第八十二章 甲\n" + body + "第十一册第八十三章 乙\n" + body +
                                    "第十二册第八十五章 丙\n" + body + "第一回 甲\n" + body + "二回 乙\n" +
                                    body + "二回 丙\n" + body + "三回 丁\n" + body);
  const std::string units = dir / "units.txt";
  const outcome u = run({"--headings=auto", "--check", units, dir / "p"});
  EXPECT_EQ(u.exit_code, 3) << u;
  EXPECT_EQ(u.out, units + ":9: 编号跳跃（83 之后是 85）：第十二册第八十五章 丙\n" + units +
                       ":21: 编号重复（2 之后是 2）：二回 丙\n" +
                       "检查：7个文件，编号问题2处，过大0个，过短0个，疑似标题0处\n");

  // The parts of a chapter in their order are no repeat, in either kind of
  // bracket or after a blank; the same part again, or a title that only
  // ends in 下, is. A heading's control characters are shown as escapes.
  struct part_row {
    const char* first;
    const char* then;
    const char* reported;  // "" for nothing
  };
  const part_row parts[] = {
      {"第一章（上）", "第一章（下）", ""},
      {"第二章 风起(上)", "第二章 风起(中)", ""},
      {"第二章 风起(中)", "第二章 风起（下）", ""},
      {"第三章 上", "第三章　下", ""},
      {"第四章", "第四章 (上)", ""},
      {"第五章(下)", "第五章 (下)", "编号重复（5 之后是 5）：第五章 (下)"},
      {"第五章(下)", "第五章(上)", "编号重复（5 之后是 5）：第五章(上)"},
      {"第三章", "第三章 天下", "编号重复（3 之后是 3）：第三章 天下"},
      {"第六章 \x1b]0;x\x07", "第六章 \x1b[2J\x7f", "编号重复（6 之后是 6）：第六章 \\x1b[2J\\x7f"},
  };
  for (const auto& r : parts) {
    SCOPED_TRACE(r.then);
    write_file(dir / "parts.txt", std::string(r.first) + "\n" + body + r.then + "\n" + body);
    const outcome p = run({"--check", dir / "parts.txt", dir / "p"});
    const std::string found = *r.reported ? dir / "parts.txt" + ":5: " + r.reported + "\n" : "";
    EXPECT_EQ(p.out, found + "检查：2个文件，编号问题" + (*r.reported ? "1" : "0") +
                         "处，过大0个，过短0个，疑似标题0处\n");
  }

  write_file(dir / "clean.txt", "第一章\n甲\n甲\n第二章\n乙\n乙\n");
  const outcome clean = run({"--check", dir / "clean.txt", dir / "p"});
  EXPECT_EQ(clean.exit_code, 0) << clean;
  EXPECT_EQ(clean.out, "检查：2个文件，编号问题0处，过大0个，过短0个，疑似标题0处\n");

  // Numbers past the ceiling read as the ceiling, 万 and 亿 in their groups.
  write_file(dir / "large.txt",
             "第一章\n正文\n正文\n第9999999999999章\n正文\n正文\n第九亿亿亿亿亿章\n正文\n正文\n"
             "第一亿二千万章\n正文\n正文\n");
  const std::string large = dir / "large.txt";
  const std::string ceiling = std::to_string(quorrel::numeral_ceiling);
  const outcome l = run({"--check", large, dir / "p"});
  EXPECT_EQ(l.exit_code, 3) << l;
  EXPECT_EQ(l.out, large + ":4: 编号跳跃（1 之后是 " + ceiling + "）：第9999999999999章\n" + large +
                       ":7: 编号重复（" + ceiling + " 之后是 " + ceiling + "）：第九亿亿亿亿亿章\n" + large +
                       ":10: 编号倒退（" + ceiling + " 之后是 120000000）：第一亿二千万章\n" +
                       "检查：4个文件，编号问题3处，过大0个，过短0个，疑似标题0处\n");
  // A check writes nothing: the destination may be left out, and then
  // pieces are named by their number alone.
  const listing unchecked = folder_contents(dir.path());
  const outcome alone = run({"--check", dir / "clean.txt"});
  EXPECT_EQ(alone.exit_code, 0) << alone;
  EXPECT_EQ(alone.out, clean.out);
  const outcome short_one = run({"--check", "--headings=auto", "--max-size=200", book});
  EXPECT_EQ(short_one.exit_code, 3) << short_one;
  EXPECT_NE(short_one.out.find(book + ":20: 过短：0005.txt（第1章 短） 只有 1 行\n"), std::string::npos)
      << short_one.out;
  expect_contents(dir.path(), unchecked);
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
    std::uint64_t file_size_limit;     // bytes
    std::string message;
    std::size_t pieces_kept;  // at "out", from 0000
  };
  const row rows[] = {
      {"a missing destination folder",
       {"{dir}/book.txt", "{dir}/missing/out"},
       {},
       no_limit,
       "写入文件“{dir}/missing/out0000.txt”失败：No such file or directory",
       0},
      {"a folder where the second piece goes",
       {"{dir}/book.txt", "{dir}/out"},
       {"out0001.txt"},
       no_limit,
       "写入文件“{dir}/out0001.txt”失败：Is a directory",
       1},
      {"the disk refuses a piece half-way",
       {"{dir}/book.txt", "{dir}/out"},
       {},
       2 * 1024 * 1024,
       "写入文件“{dir}/out0001.txt”失败：File too large",
       1},
      {"the disk refuses the first piece",
       {"{dir}/book.txt", "{dir}/out"},
       {},
       4,
       "写入文件“{dir}/out0000.txt”失败：File too large",
       0},
      // A regular file whose first bytes cannot be read: the tool's own
      // memory at address 0.
      {"a source that cannot be read",
       {"/proc/self/mem", "{dir}/out"},
       {},
       no_limit,
       "读取文件“/proc/self/mem”失败：Input/output error",
       0},
      {"a source that cannot be read, encoding given",
       {"-e", "GBK", "/proc/self/mem", "{dir}/out"},
       {},
       no_limit,
       "读取文件“/proc/self/mem”失败：Input/output error",
       0},
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

// Headings that would retitle and clear a terminal, and every edge of the
// control characters: U+001F and U+0020, U+007E and U+007F, U+0080,
// U+009F and U+00A0, a vertical tab as the last byte of a line.
const std::string control_characters =
    "第一章 \x1b]0;标题\x07\x1b[2J\n甲\n第二章\t乙\x1f \x7f~\xC2\x9F\xC2\x80\xC2\xA0丙\x0b\n丁\n";

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
      {"chapters after a preamble",
       {"--list"},
       "序\n\n第一章 甲\n天\n地\n第二章 乙\n人\n",
       true,
       {"序", "第一章 甲", "第二章 乙"}},
      {"sizes count the byte-order mark, first lines do not show it",
       {"-l"},
       "\xEF\xBB\xBF第一章\r\n甲\r\n第二章\r\n乙\r\n",
       true,
       {"第一章", "第二章"}},
      {"a GBK source is shown in UTF-8",
       {"-l", "-e", "GBK"},
       gbk("第一章 乗\r\n甲\r\n第二章 乙\r\n丙\r\n"),
       true,
       {"第一章 乗", "第二章 乙"}},
      {"a long first line is cut on a character boundary",
       {"--list"},
       long_heading + "\n正文\n",
       true,
       {"第" + repeat("一", 169)}},
      {"the destination folder need not exist",
       {"--list"},
       three_chapters,
       false,
       {"第一章 起", "第二章 承", "第三章 转"}},
      {"control characters are shown as escapes: C0, DEL, C1; spaces and the rest are kept",
       {"--list"},
       control_characters,
       true,
       {"第一章 \\x1b]0;标题\\x07\\x1b[2J", "第二章\\x09乙\\x1f \\x7f~\\x9f\\x80\xC2\xA0丙\\x0b"}},
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
  const std::vector<std::string> help_mentions = {
      "-h, --help", "--check [OPTION]... SOURCE [DESTINATION]",
      "end it with " + std::string(1, quorrel::separator) + " to write into a folder"};
  for (const std::string option : {"--help", "--version"}) {
    SCOPED_TRACE(option);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    const listing before = folder_contents(dir.path());
    const outcome o = run({dir / "book.txt", option, dir / "out"});
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.err, "");
    if (option == "--help") {
      EXPECT_EQ(o.out, quorrel::cli::usage());
      for (const auto& m : help_mentions) EXPECT_NE(o.out.find(m), std::string::npos) << m;
    } else {
      EXPECT_TRUE(o.out.starts_with("quorrel-split ")) << o.out;
      EXPECT_GT(o.out.size(), std::string_view("quorrel-split \n").size()) << "no version number";
      EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 1) << o.out;
    }
    expect_contents(dir.path(), before);
  }
}

// What a valid command line asks for, in a few words: the action, the
// operands, and each setting that differs from the default.
std::string asked(const quorrel::cli::command& c) {
  using action = quorrel::cli::command::action;
  using rule = quorrel::heading_choice::rule;
  const char* const actions[] = {"split", "check", "list", "help", "version"};
  std::string text = actions[static_cast<int>(c.what)];
  if (c.what == action::help || c.what == action::version) return text;
  text += " " + c.source + (c.destination.empty() ? "" : " " + c.destination);
  const auto& o = c.options;
  if (o.forced_encoding) text += " -e " + o.forced_encoding->name;
  if (o.headings.which == rule::form) text += " auto";
  if (o.headings.which == rule::pattern) text += " pattern " + o.headings.pattern;
  if (c.keywords != quorrel::default_keywords())
    for (const auto& k : c.keywords) text += " -k " + k;
  if (o.max_size) text += " cut past " + std::to_string(o.max_size);
  if (c.what == action::check) text += " report past " + std::to_string(c.check_size);
  if (o.title_names) text += " titles";
  if (o.convert_to) text += " to " + o.convert_to->name + o.convert_to->bom;
  if (o.replace_invalid) text += " replacing";
  if (c.quiet) text += " quietly";
  if (c.json) text += " as JSON";
  if (c.contents_path) text += " contents " + *c.contents_path;
  return text;
}

// The command line, read in-process: the first problem found, shown with
// or without the hint to --help, or what a valid one asks for.
TEST(cli, ReadsTheCommandLine) {
  struct row {
    const char* name;
    std::vector<std::string> args;
    std::string problem;  // "" for a valid line
    std::string asks = "";
    bool hint = true;
  };
  const std::string bad_size = "（例如 300K、2M 或字节数，至多 1048576M）";
  const std::string check_writes = "“--check”不写入任何文件，不能与“--contents”、“--names”或“--to”同用";
  const std::string targets = "（UTF-8、UTF-8-BOM、GB18030、GBK、Big5、UTF-16LE）";
  const row rows[] = {
      {"no operand", {}, "缺少源文件或存放目录"},
      {"one operand", {"b"}, "缺少源文件或存放目录"},
      {"three operands", {"b", "o", "more"}, "多余的参数"},
      {"an unknown long option", {"--bogus=1", "b", "o"}, "无效的选项“--bogus”"},
      {"an unknown short option", {"-x", "b", "o"}, "无效的选项“-x”"},
      {"without --, a source beginning with - is taken for options", {"-book.txt", "o"}, "无效的选项“-b”"},
      {"a keyword option without its word", {"b", "o", "-k"}, "选项“-k”缺少参数"},
      {"an encoding option without its name, shortened", {"b", "o", "--enc"}, "选项“--encoding”缺少参数"},
      {"a long-only option without its value", {"b", "o", "--to"}, "选项“--to”缺少参数"},
      {"a value given to --list", {"--list=yes", "b", "o"}, "选项“--list”不接受参数"},
      {"a value given to --quiet, shortened", {"--qu=1", "b", "o"}, "选项“--quiet”不接受参数"},
      {"only options", {"-q", "-k", "第"}, "缺少源文件或存放目录"},
      {"a check without its source", {"--check"}, "缺少源文件"},
      {"a check with three operands", {"--check", "b", "o", "more"}, "多余的参数"},
      {"a listing needs its destination: names depend on it", {"--list", "b"}, "缺少源文件或存放目录"},
      {"a pattern ICU refuses",
       {"--pattern=第(", "b", "o"},
       "正则表达式“第(”有误：U_REGEX_MISMATCHED_PAREN（第1行第2个字符）"},
      {"an empty pattern",
       {"--pattern=", "b", "o"},
       "正则表达式“”有误：表达式是空的，请写出标题行要匹配的内容（例如 ^第.+章）"},
      {"an unknown heading rule",
       {"--headings=smart", "b", "o"},
       "未知的标题规则“smart”（可用 keywords、auto）"},
      {"a pattern and a heading rule",
       {"--headings=auto", "--pattern=^第", "b", "o"},
       "“--pattern”与“--headings”不能同时使用"},
      {"keywords for the rule by form",
       {"--headings=auto", "-k", "章", "b", "o"},
       "“--keyword”只用于“--headings=keywords”"},
      {"keywords with a pattern",
       {"--pattern=^第", "-k", "章", "b", "o"},
       "“--keyword”只用于“--headings=keywords”"},
      {"a size that is not one", {"--max-size=12Q", "b", "o"}, "无效的大小“12Q”" + bad_size},
      {"a size of nothing", {"--max-size=0", "b", "o"}, "无效的大小“0”" + bad_size},
      {"one byte past the largest size",
       {"--max-size=1099511627777", "b", "o"},
       "无效的大小“1099511627777”" + bad_size},
      {"one K past the largest size",
       {"--max-size=1073741825k", "b", "o"},
       "无效的大小“1073741825k”" + bad_size},
      {"one M past the largest size", {"--max-size=1048577M", "b", "o"}, "无效的大小“1048577M”" + bad_size},
      {"a size in M far past the largest",
       {"--max-size=17592186044416M", "b", "o"},
       "无效的大小“17592186044416M”" + bad_size},
      {"a size suffix of two letters", {"--max-size=1KB", "b", "o"}, "无效的大小“1KB”" + bad_size},
      {"a check and a listing", {"--check", "--list", "b", "o"}, "“--check”与“--list”不能同时使用"},
      {"a check that would write a table", {"--check", "--contents=toc.json", "b", "o"}, check_writes},
      {"a check that would name pieces by title", {"--check", "--names=title", "b"}, check_writes},
      {"a table without a listing", {"--json", "b", "o"}, "“--json”只能与“--list”同用"},
      {"a table file with a listing",
       {"--list", "--contents=t", "b", "o"},
       "“--contents”在分割之后写入，不能与“--list”同用"},
      {"a table file without a name", {"--contents=", "b", "o"}, "“--contents”缺少文件名"},
      {"replacing without converting",
       {"--replace-invalid", "b", "o"},
       "“--replace-invalid”只能与“--to”同用"},
      {"an unknown name form",
       {"--names=chapter", "b", "o"},
       "无效的“--names=chapter”（可用 title 或 number）"},
      // The first problem found is the one shown.
      {"a refused value before --help", {"--names=x", "--help"}, "无效的“--names=x”（可用 title 或 number）"},
      {"an unknown rule before a pattern",
       {"--pattern=(", "--headings=smart", "b", "o"},
       "未知的标题规则“smart”（可用 keywords、auto）"},
      {"a pattern with a rule before the pattern's fault",
       {"--pattern=(", "--headings=auto", "b", "o"},
       "“--pattern”与“--headings”不能同时使用"},
      {"a check's exclusion before the target's name", {"--check", "--to=nope", "b"}, check_writes},
      // An encoding's name is a problem with the input: no hint.
      {"an unknown encoding",
       {"-e", "no-such-charset", "b", "o"},
       "不支持的编码“no-such-charset”",
       "",
       false},
      {"an empty encoding", {"--encoding=", "b", "o"}, "不支持的编码“”", "", false},
      {"a stateful encoding", {"-e", "ISO-2022-JP", "b", "o"}, "不支持的编码“ISO-2022-JP”", "", false},
      {"EBCDIC: line ends are other bytes", {"-e", "IBM037", "b", "o"}, "不支持的编码“IBM037”", "", false},
      {"UTF-32", {"-e", "UTF-32LE", "b", "o"}, "不支持的编码“UTF-32LE”", "", false},
      {"an unknown target", {"--to=UTF-32", "b", "o"}, "不支持的目标编码“UTF-32”" + targets, "", false},
      {"the target's name before the source's",
       {"--to=x", "-e", "y", "b", "o"},
       "不支持的目标编码“x”" + targets,
       "",
       false},
      // Valid lines.
      {"help", {"--help"}, "", "help"},
      {"help among operands", {"b", "o", "--help"}, "", "help"},
      {"-h among operands", {"b", "-h", "o"}, "", "help"},
      {"help answers before a later fault", {"--help", "--names=x", "-x"}, "", "help"},
      {"version among operands", {"b", "--version", "o"}, "", "version"},
      {"a split", {"b", "o"}, "", "split b o"},
      {"paths beginning with - after --", {"-q", "--", "-b", "-o"}, "", "split -b -o quietly"},
      {"an encoding forced as GB18030", {"-e", "GB18030", "b", "o"}, "", "split b o -e GB18030"},
      {"gbk, any case", {"--encoding=gbk", "b", "o"}, "", "split b o -e gbk"},
      {"Big5 in capitals, its value apart", {"--encoding", "BIG5", "b", "o"}, "", "split b o -e BIG5"},
      {"utf-16le in lower case", {"-e", "utf-16le", "b", "o"}, "", "split b o -e utf-16le"},
      {"keywords, long and short forms mixed",
       {"--keyword=第", "-k", "章", "--keyword", "末", "-k一", "b", "o"},
       "",
       "split b o -k 第 -k 章 -k 末 -k 一"},
      {"the rule by form in capitals, and 1k",
       {"--headings=AUTO", "--max-size=1k", "b", "o"},
       "",
       "split b o auto cut past 1024"},
      {"the keyword rule capitalised, and 1K",
       {"--headings=Keywords", "--max-size=1K", "b", "o"},
       "",
       "split b o cut past 1024"},
      {"1m", {"--max-size=1m", "b", "o"}, "", "split b o cut past 1048576"},
      {"1M", {"--max-size=1M", "b", "o"}, "", "split b o cut past 1048576"},
      {"the largest size, in bytes",
       {"--max-size=1099511627776", "b", "o"},
       "",
       "split b o cut past 1099511627776"},
      {"the largest size, in K",
       {"--max-size=1073741824K", "b", "o"},
       "",
       "split b o cut past 1099511627776"},
      {"the largest size, in M", {"--max-size=1048576m", "b", "o"}, "", "split b o cut past 1099511627776"},
      {"a pattern", {"--pattern=^第", "b", "o"}, "", "split b o pattern ^第"},
      {"a check reports past 200K by default", {"--check", "b"}, "", "check b report past 204800"},
      {"a check reports past --max-size instead of cutting",
       {"--check", "--max-size=2K", "--names=Number", "b", "o"},
       "",
       "check b o report past 2048"},
      {"a listing as JSON, titled",
       {"-l", "--json", "--names=TITLE", "b", "o"},
       "",
       "list b o titles as JSON"},
      {"converted pieces and their table",
       {"--to=utf-8-bom", "--replace-invalid", "--contents=t", "b", "o"},
       "",
       "split b o to UTF-8\xEF\xBB\xBF replacing contents t"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const quorrel::cli::parsed line = quorrel::cli::parse(r.args);
    EXPECT_EQ(line.problem.value_or(""), r.problem);
    if (r.problem.empty()) {
      EXPECT_EQ(asked(line.run), r.asks);
    } else {
      EXPECT_EQ(line.hint, r.hint);
    }
  }
}

// ---------------------------------------------------------------------------
// Paths

// Each row: the source file and folders made in the case's folder, the
// paths given (run in that folder), and where the pieces go.
struct path_row {
  const char* name;
  std::string source_file;
  std::vector<std::string> folders;
  std::vector<std::string> args;
  std::string prefix;
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
    const outcome o = run(in_folder(r.args, dir), how);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    EXPECT_EQ(o.err, "");
    expect_contents(dir.path(), with_pieces(before, r.prefix, three_pieces));
  }
}

TEST(cli, TakesPathsExactlyAsGiven) {
  expect_paths_work({
      {"no trailing slash: a name prefix", "book.txt", {"out"}, {"book.txt", "{dir}/out"}, "out"},
      {"a trailing slash: inside the folder", "book.txt", {"out"}, {"book.txt", "{dir}/out/"}, "out/"},
      {"a relative prefix", "book.txt", {}, {"book.txt", "part"}, "part"},
      {"a relative folder and a Chinese prefix", "book.txt", {"sub"}, {"book.txt", "sub/第"}, "sub/第"},
      {"a prefix ending in a dot", "book.txt", {}, {"book.txt", "{dir}/book."}, "book."},
      {"a prefix ending in a dash, in a nested folder",
       "book.txt",
       {"a", "a/b"},
       {"book.txt", "{dir}/a/b/ch-"},
       "a/b/ch-"},
      {"a trailing blank is part of the prefix", "book.txt", {"out"}, {"book.txt", "out/x "}, "out/x "},
      {"a prefix of blanks only", "book.txt", {}, {"book.txt", "　 "}, "　 "},
      {"into a folder, spaces and Chinese",
       "我的 小说.txt",
       {"输出 目录"},
       {"{dir}/我的 小说.txt", "{dir}/输出 目录/"},
       "输出 目录/"},
      {"both in Chinese folders",
       "上 卷/原 文.txt",
       {"上 卷", "下 卷"},
       {"{dir}/上 卷/原 文.txt", "{dir}/下 卷/章节"},
       "下 卷/章节"},
      {"blanks inside a name are kept", "小说.txt", {}, {"{dir}/小说.txt", "{dir}/卷　一 "}, "卷　一 "},
      {"a source beginning with - after --", "-book.txt", {"out"}, {"--", "-book.txt", "out/"}, "out/"},
      {"a destination beginning with - too", "-book.txt", {}, {"-q", "--", "-book.txt", "-part"}, "-part"},
      {"options before --", "-book.txt", {}, {"-k", "章", "--", "-book.txt", "-"}, "-"},
      {"a piece-like name in another folder",
       "out0001.txt",
       {"sub"},
       {"{dir}/out0001.txt", "{dir}/sub/out"},
       "sub/out"},
      {"a number with a leading zero past four digits",
       "out01234.txt",
       {},
       {"{dir}/out01234.txt", "{dir}/out"},
       "out"},
  });
}

// Only where file names are case-sensitive.
TEST(cli, RunsWhenThePrefixDiffersFromTheSourceInCaseOnly) {
  expect_paths_work({{"a piece-like name under another prefix",
                      "out0001.txt",
                      {},
                      {"{dir}/out0001.txt", "{dir}/Out"},
                      "Out"}});
}

// Names with a tab, or ending in a blank: Windows allows neither.
TEST(cli, HandlesPathsWithBlanksAroundThem) {
  expect_paths_work({{"blanks around both paths are part of them",
                      "　小说.txt \t",
                      {" 输出"},
                      {"　小说.txt \t", " 输出/　"},
                      " 输出/　"}});
}

TEST(cli, MakesAMissingDestinationFolderThatEndsWithASeparator) {
  const std::string sep(1, quorrel::separator);
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string destination;  // "{dir}" stands for the case's folder
    int exit_code;
    std::string made;     // the folder made, relative to the case's folder; "" none
    std::string message;  // the start of stderr, up to the system's reason; "" none
  };
  const row rows[] = {
      {"three missing levels", {}, "{dir}/a/b/c/", 0, "a/b/c/", ""},
      {"the platform's own separator", {}, "{dir}/a" + sep + "b" + sep, 0, "a/b/", ""},
      {"one missing level under an existing one", {}, "{dir}/sub/new/", 0, "sub/new/", ""},
      {"doubled separators", {}, "{dir}/d//e//", 0, "d/e/", ""},
      {"a prefix names no folder to make", {}, "{dir}/a/b", 2, "", "写入文件“{dir}/a/b0000.txt”失败："},
      {"a file in the way", {}, "{dir}/book.txt/x/", 2, "", "创建存放目录“{dir}/book.txt/x/”失败："},
      {"a file where the folder goes", {}, "{dir}/book.txt/", 2, "", "创建存放目录“{dir}/book.txt/”失败："},
      {"a file in the way of a parent",
       {},
       "{dir}/book.txt/x/y/",
       2,
       "",
       "创建存放目录“{dir}/book.txt/x/y/”失败："},
      {"not for a listing", {"--list"}, "{dir}/a/b/", 0, "", ""},
      {"not for a check", {"--check"}, "{dir}/a/b/", 0, "", ""},
      {"not when the input is refused",
       {"--encoding=nope"},
       "{dir}/a/b/",
       1,
       "",
       "quorrel-split: 不支持的编码"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", "第一章\r\n甲\r\n甲\r\n甲\r\n");
    ASSERT_TRUE(make_folder(dir / "sub"));
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.push_back("{dir}/book.txt");
    args.push_back(r.destination);
    const outcome o = run(in_folder(args, dir));
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    const std::string message = replace_all(r.message, "{dir}", dir.path());
    if (message.empty()) {
      EXPECT_EQ(o.err, "");
    } else {
      EXPECT_TRUE(o.err.starts_with(message)) << o;
      EXPECT_GT(o.err.size(), message.size() + 1) << "the reason: " << o;
    }
    listing expected = before;
    if (!r.made.empty()) {
      for (std::size_t end = r.made.find('/'); end != std::string::npos; end = r.made.find('/', end + 1))
        expected[r.made.substr(0, end + 1)] = "";
      expected[r.made + "0000.txt"] = "第一章\r\n甲\r\n甲\r\n甲\r\n";
    }
    expect_contents(dir.path(), expected);
  }
}

TEST(cli, CountsPiecesAnEarlierRunLeftAndKeepsThem) {
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string prefix;               // within out/
    std::vector<std::string> before;  // names in out/, each holding "old"
    std::vector<std::string> pieces;  // names this run writes, in out/
    int left;                         // the count reported
  };
  const std::vector<std::string> plain = {"0000.txt", "0001.txt", "0002.txt"};
  const std::vector<std::string> titled = {"0000 第一章 起.txt", "0001 第二章 承.txt", "0002 第三章 转.txt"};
  const row rows[] = {
      {"the same run again leaves nothing", {}, "", plain, plain, 0},
      {"one number past the last piece", {}, "", {"0002.txt", "0003.txt"}, plain, 1},
      {"a five-digit number", {}, "", {"10000.txt", "9999.txt"}, plain, 2},
      {"names that are no piece's",
       {},
       "",
       {"00003.txt", "0003.txt.bak", "x0003.txt", "notes.txt", "0003.TXT"},
       plain,
       quorrel::windows_names ? 1 : 0},
      {"titled pieces, then numbered ones", {}, "", titled, plain, 3},
      {"numbered pieces, then titled ones", {"--names=title"}, "", plain, titled, 3},
      {"titled pieces under another title",
       {"--names=TITLE"},
       "",
       {"0001 第二章.txt", "0003 第四章.txt"},
       titled,
       2},
      {"numbered names asked in capitals", {"--names=Number"}, "", {"0003.txt"}, plain, 1},
      {"only this prefix counts",
       {},
       "ch-",
       {"ch-0003.txt", "0003.txt", "ch-0000.txt"},
       {"ch-0000.txt", "ch-0001.txt", "ch-0002.txt"},
       1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    ASSERT_TRUE(make_folder(dir / "out"));
    for (const auto& name : r.before) write_file(dir / ("out/" + name), "old");
    listing expected = folder_contents(dir.path());
    for (std::size_t i = 0; i < r.pieces.size(); ++i) expected["out/" + r.pieces[i]] = three_pieces[i];
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / ("out/" + r.prefix));
    const outcome o = run(args);
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    EXPECT_EQ(o.err, r.left == 0
                         ? ""
                         : "quorrel-split: 存放目录“" + (dir / "out/") + "”中还有" + std::to_string(r.left) +
                               "个不是这次写入的分割文件（以前按其他标题规则或命名分割留下的），未删除\n");
    expect_contents(dir.path(), expected);
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
      {"a check's findings to a full disk", {"--check"}, three_chapters, true, 2, disk_full, false},
      {"a check's long report to a full disk", {"--check"}, long_list(), true, 2, disk_full, false},
      {"a long table of contents to a full disk",
       {"--list", "--json"},
       long_list(),
       true,
       2,
       disk_full,
       false},
      {"help to a full disk", {"--help"}, three_chapters, true, 2, disk_full, false},
      {"version to a full disk", {"--version"}, three_chapters, true, 2, disk_full, false},
  });
}

TEST(cli, DoesNotReportAnOutputReaderThatLeftEarly) {
  expect_output_handled({
      {"a split whose reader left: the split is done", {}, three_chapters, false, 0, "", true},
      {"a listing whose reader left", {"--list"}, three_chapters, false, 0, "", false},
      {"a long listing whose reader left", {"-l"}, long_list(), false, 0, "", false},
      {"a check whose reader left: the findings' status", {"--check"}, long_list(), false, 3, "", false},
      {"help whose reader left", {"--help"}, three_chapters, false, 0, "", false},
  });

  // A listing stops reading once its reader has gone: behind chapters that
  // fill stdout's buffer lies a terabyte (sparse) that a listing reading on
  // would not get through before the watchdog. The mark spares the check of
  // every byte.
  temp_folder dir;
  write_file(dir / "book.txt", "\xEF\xBB\xBF" + long_list());
  std::error_code no_room;
  fs::resize_file(utf8_path(dir / "book.txt"), std::uintmax_t{1} << 40, no_room);
  if (no_room) return;  // wine makes no file that large; Linux runs the case
  launch how;
  how.stdout_reader_gone = true;
  how.deadline = std::chrono::seconds(60);
  const outcome o = run({"--list", dir / "book.txt", dir / "out"}, how);
  EXPECT_FALSE(o.hung) << o;
  EXPECT_EQ(o.exit_code, 0) << o;
}

// ---------------------------------------------------------------------------
// Titled names, the table of contents, converted pieces

// The value of `key` in each piece of a JSON table, in order (numbers and
// strings as written).
std::vector<std::string> json_values(const std::string& json, const std::string& key) {
  std::vector<std::string> values;
  const std::string pieces = json.substr(json.find("\"pieces\": ["));
  const std::string marker = "\"" + key + "\": ";
  for (auto at = pieces.find(marker); at != std::string::npos; at = pieces.find(marker, at + 1)) {
    const std::size_t from = at + marker.size();
    const bool text = pieces[from] == '"';
    const std::size_t to = text ? pieces.find('"', from + 1) + 1 : pieces.find_first_of(",}", from);
    values.push_back(text ? pieces.substr(from + 1, to - from - 2) : pieces.substr(from, to - from));
  }
  return values;
}

TEST(cli, TitledPiecesAndTheirTableMatchWhatIsWritten) {
  const std::string utf8_source = "序言\n\n第一章 风起:云涌?\n甲\n　第二章　海 \n乙\n第三章...\n丙\n";
  struct row {
    const char* name;
    std::string source;
    std::string encoding;  // as the table names it
  };
  const row rows[] = {
      {"UTF-8", utf8_source, "UTF-8"},
      {"GBK", gbk(utf8_source), "GB18030"},
      {"Big5", big5("序言\n\n第一章 風起:雲湧?\n甲\n　第二章　海 \n乙\n第三章...\n丙\n"), "Big5"},
      {"UTF-16LE with its mark", "\xFF\xFE" + utf16le(utf8_source), "UTF-16LE"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    ASSERT_TRUE(make_folder(dir / "out"));
    const outcome listed = run({"--list", "--json", "--names=title", dir / "book.txt", dir / "out/"});
    ASSERT_EQ(listed.exit_code, 0) << listed;
    const outcome split =
        run({"--names=title", "--contents=" + (dir / "toc.json"), dir / "book.txt", dir / "out/"});
    ASSERT_EQ(split.exit_code, 0) << split;
    EXPECT_EQ(read_file(dir / "toc.json"), listed.out);
    EXPECT_NE(listed.out.find("\"encoding\": \"" + r.encoding + "\""), std::string::npos) << listed.out;

    const std::vector<std::string> files = json_values(listed.out, "file");
    const bool traditional = r.source == rows[2].source;
    const std::vector<std::string> expected = {
        "0000.txt", traditional ? "0001 第一章 風起：雲湧？.txt" : "0001 第一章 风起：云涌？.txt",
        "0002 第二章 海.txt", "0003 第三章.txt"};
    EXPECT_EQ(files, expected);
    EXPECT_EQ(json_values(listed.out, "kind"),
              (std::vector<std::string>{"front_matter", "chapter", "chapter", "chapter"}));
    EXPECT_EQ(json_values(listed.out, "line"), (std::vector<std::string>{"1", "3", "5", "7"}));
    const std::vector<std::string> offsets = json_values(listed.out, "offset");
    const std::vector<std::string> sizes = json_values(listed.out, "size");
    const listing written = folder_contents(dir / "out");
    ASSERT_EQ(written.size(), files.size());
    ASSERT_EQ(offsets.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string piece = read_file(dir / ("out/" + files[i]));
      EXPECT_EQ(std::to_string(piece.size()), sizes[i]) << files[i];
      // Each heading piece starts with the source's bytes at its offset.
      const std::string body = piece.substr(r.source.starts_with("\xFF\xFE") ? 2 : 0, 4);
      if (i > 0) {
        EXPECT_EQ(r.source.substr(std::stoull(offsets[i]), 4), body) << files[i];
      }
    }
  }

  // Control characters in a title are \u escapes: C0, which JSON requires
  // (U+001F the last), and DEL and C1, which a terminal could act on.
  temp_folder dir;
  write_file(dir / "book.txt", control_characters);
  const outcome table = run({"--list", "--json", dir / "book.txt", dir / "out"});
  EXPECT_EQ(table.exit_code, 0) << table;
  EXPECT_EQ(json_values(table.out, "title"),
            (std::vector<std::string>{"第一章 \\u001b]0;标题\\u0007\\u001b[2J",
                                      "第二章\\t乙\\u001f \\u007f~\\u009f\\u0080\xC2\xA0丙\\u000b"}));
}

// Behind a long prefix a title is cut, at a character, so that the name
// fits the system's limit on one: 255 bytes. (Windows counts 255 UTF-16
// units, tested where names are made; under wine the name lands on a
// Linux file system, whose limit is still 255 bytes.)
TEST(cli, CutsATitleBehindALongPrefixToFitTheLimitOnOneName) {
  if (quorrel::windows_names)
    GTEST_SKIP() << "names of 255 UTF-16 units do not fit the file system under wine";
  std::string astral;
  for (int i = 0; i < 56; ++i) astral += "\U00020000";
  const std::string prefix = "《书名》全本精校版（作者：某某）-";  // 49 bytes
  const std::string title = "第一章 " + astral;                    // 60 characters, 234 bytes
  // "0000 " and ".txt" around the title; whole four-byte characters only.
  const std::size_t room = 255 - prefix.size() - 5 - 4;
  const std::string kept = "第一章 " + astral.substr(0, (room - 10) / 4 * 4);
  temp_folder dir;
  write_file(dir / "book.txt", title + "\n甲\n第二章\n乙\n");
  listing expected = folder_contents(dir.path());
  const outcome o = run({"--names=title", dir / "book.txt", dir / prefix});
  EXPECT_EQ(o.exit_code, 0) << o;
  expected[prefix + "0000 " + kept + ".txt"] = title + "\r\n甲\r\n";
  expected[prefix + "0001 第二章.txt"] = "第二章\r\n乙\r\n";
  expect_contents(dir.path(), expected);
}

TEST(cli, RefusesASourceNamedLikeATitledPieceBeforeWriting) {
  temp_folder dir;
  const std::string source = dir / "0001 第一章 起.txt";
  write_file(source, three_chapters);
  const listing before = folder_contents(dir.path());
  const outcome o = run({"--names=title", source, dir / ""});
  EXPECT_EQ(o.exit_code, 1) << o;
  EXPECT_NE(o.err.find("分割文件会覆盖原始文件"), std::string::npos) << o;
  expect_contents(dir.path(), before);
  // Plain names cannot be that file: the split runs.
  EXPECT_EQ(run({source, dir / ""}).exit_code, 0);
  // Nor may the table replace the source.
  write_file(dir / "book.txt", three_chapters);
  const outcome table = run({"--contents=" + (dir / "book.txt"), dir / "book.txt", dir / "out-"});
  EXPECT_EQ(table.exit_code, 1) << table;
  EXPECT_EQ(read_file(dir / "book.txt"), three_chapters);
  EXPECT_FALSE(fs::exists(utf8_path(dir / "out-0000.txt")));
}

TEST(cli, ConvertsPiecesToEachEncodingAndRefusesALoss) {
  const std::string text = "序\n第一章 山與海\r\n甲乙\n　\n第二章 他說\r乙\n";
  const std::vector<std::string> utf8_pieces = {"\r\n序\r\n", "第一章 山與海\r\n甲乙\r\n",
                                                "第二章 他說\r\n乙\r\n"};
  struct row {
    const char* name;
    std::string source;
    std::string to;
    std::string icu_name, bom;
  };
  const row rows[] = {
      {"GBK to UTF-8", gbk(text), "UTF-8", "UTF-8", ""},
      {"UTF-8 to UTF-8 with a mark", text, "UTF-8-BOM", "UTF-8", "\xEF\xBB\xBF"},
      {"Big5 to GB18030", big5(text), "GB18030", "GB18030", ""},
      {"UTF-8 to GBK", text, "GBK", "GBK", ""},
      {"UTF-16LE's mark is not copied into a Big5 piece", "\xFF\xFE" + utf16le(text), "Big5", "Big5", ""},
      {"UTF-8 with a mark to UTF-16LE", "\xEF\xBB\xBF" + text, "UTF-16LE", "UTF-16LE", "\xFF\xFE"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    const outcome o = run({"--to=" + r.to, dir / "book.txt", dir / "p-"});
    ASSERT_EQ(o.exit_code, 0) << o;
    std::vector<std::string> pieces;
    for (const auto& p : utf8_pieces) pieces.push_back(r.bom + in_encoding(r.icu_name.c_str(), p));
    listing expected = {{"book.txt", r.source}};
    expect_contents(dir.path(), with_pieces(expected, "p-", pieces));
    // And back: the converted pieces read as the source's encoding again.
    const outcome back = run({"-e", r.icu_name, "--to=UTF-8", dir / "p-0001.txt", dir / "back-"});
    ASSERT_EQ(back.exit_code, 0) << back;
    EXPECT_EQ(read_file(dir / "back-0000.txt"), utf8_pieces[1]);
  }

  struct loss_row {
    const char* name;
    std::string source;
    std::vector<std::string> options;
    std::string message;
  };
  const loss_row losses[] = {
      {"simplified characters Big5 lacks",
       "第一章\n甲\n我们\n们\n",
       {"--to=Big5"},
       "2处无法转换为Big5的字符，第一处在第3行"},
      {"an invalid GB18030 sequence",
       gbk("第一章\r\n甲\r\n") + "\x81\x20\r\n",
       {"--to=UTF-8"},
       "1处无法转换为UTF-8的字符，第一处在第3行"},
  };
  for (const auto& r : losses) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / "p-");
    const outcome refused = run(args);
    EXPECT_EQ(refused.exit_code, 1) << refused;
    EXPECT_NE(refused.err.find(r.message), std::string::npos) << refused;
    expect_contents(dir.path(), before);
    args.insert(args.begin(), "--replace-invalid");
    const outcome replaced = run(args);
    EXPECT_EQ(replaced.exit_code, 0) << replaced;
    EXPECT_NE(replaced.err.find(r.message.substr(0, r.message.find("处")) + "处无法转换的字符已替换"),
              std::string::npos)
        << replaced;
    EXPECT_TRUE(fs::exists(utf8_path(dir / "p-0000.txt")));
  }
}

}  // namespace
