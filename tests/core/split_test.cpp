// The split run on real files: piece names, contents, progress, keyword
// edits during a run, stopping, and file-system failures.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>  // malloc: the test's operator new
#include <filesystem>
#include <functional>
#include <new>  // bad_alloc, nothrow_t: the test's operator new
#include <stdexcept>
#include <thread>

#include "core/book_survey.h"
#include "core/convert.h"
#include "core/encoding.h"
#include "core/file.h"
#include "core/piece_name.h"
#include "core/piece_writer.h"
#include "core/source_reader.h"
#include "core/split.h"
#include "tests/support/temp_folder.h"

namespace quorrel {
namespace {

using testing::read_bytes;
using testing::temp_folder;

// While set, every allocation fails on a thread other than the test's own:
// the writer's thread runs out of memory.
std::atomic<bool> fail_elsewhere{false};
std::thread::id test_thread = std::this_thread::get_id();

// Records what a run reports; keywords may be changed from a callback.
class recording_host : public split_host {
 public:
  explicit recording_host(std::vector<std::string> keywords = {"第", "章"})
      : keywords_(std::move(keywords)) {}

  std::uint64_t keywords_version() override { return version_; }
  std::vector<std::string> keywords() override {
    ++keyword_reads;
    return keywords_;
  }
  void set_keywords(std::vector<std::string> keywords) {
    keywords_ = std::move(keywords);
    ++version_;
  }
  void progress(std::int64_t saved) override {
    captions.push_back(saved);
    if (on_progress) on_progress(static_cast<std::int64_t>(captions.size()) - 1);
  }
  bool stop_requested() override { return stop; }
  void piece_done(const piece_info& piece) override { pieces.push_back(piece); }

  std::vector<std::int64_t> captions;
  std::vector<piece_info> pieces;
  std::function<void(std::int64_t heading)> on_progress;  // 0 at the first
  int keyword_reads = 0;
  bool stop = false;

 private:
  std::vector<std::string> keywords_;
  std::uint64_t version_ = 1;
};

split_result split(const std::string& source, const std::string& destination, split_host& host,
                   split_options options = {}) {
  return run_split({source, destination}, host, options);
}

// Progress counts pieces complete on disk, which the writer's thread puts
// there in its own time: one report per heading and a final one, none past
// `ended` (the pieces ended by then), never going back, the last exact.
::testing::AssertionResult progress_within(const std::vector<std::int64_t>& captions,
                                           const std::vector<std::int64_t>& ended) {
  if (captions.size() != ended.size())
    return ::testing::AssertionFailure() << captions.size() << " reports, expected " << ended.size();
  for (std::size_t i = 0; i < captions.size(); ++i) {
    if (captions[i] > ended[i] || (i > 0 && captions[i] < captions[i - 1]))
      return ::testing::AssertionFailure()
             << "report " << i << " says " << captions[i] << ", at most " << ended[i];
  }
  if (!captions.empty() && captions.back() != ended.back())
    return ::testing::AssertionFailure()
           << "the final count is " << captions.back() << ", not " << ended.back();
  return ::testing::AssertionSuccess();
}

std::string repeat(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out.append(text);
  return out;
}

// The expected piece: each line followed by CR LF.
std::string piece(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (auto line : lines) out.append(line).append("\r\n");
  return out;
}

TEST(Split, ShapesPiecesFromPreamblesHeadingsAndBlankLines) {
  struct example {
    const char* name;
    std::string source;
    std::vector<std::string> pieces;  // contents of 0000.txt, 0001.txt, ...
    std::vector<std::int64_t> captions;
  };
  const std::vector<example> examples = {
      {"preamble starts with a line end",
       "书名\r\n作者\r\n第一章\r\n正文\r\n",
       {"\r\n书名\r\n作者\r\n", piece({"第一章", "正文"})},
       {1, 2}},
      {"no heading at all", "只有\r\n正文\r\n", {"\r\n只有\r\n正文\r\n"}, {1}},
      {"only a heading", "\r\n  第一章\r\n\r\n", {piece({"  第一章"})}, {0, 1}},
      {"consecutive headings",
       "第一章\r\n第二章\r\n正文\r\n",
       {piece({"第一章"}), piece({"第二章", "正文"})},
       {0, 1, 2}},
      {"keywords in any order",
       "章节在前，第在后\r\n正文\r\n",
       {piece({"章节在前，第在后", "正文"})},
       {0, 1}},
      {"one keyword is not enough", "第二天\r\n文章\r\n", {"\r\n第二天\r\n文章\r\n"}, {1}},
      {"blank lines of spaces, tabs and U+3000 dropped",
       "第一章\r\n \t \r\n　　\r\n\r\n　　正文 \r\n",
       {piece({"第一章", "　　正文 "})},
       {0, 1}},
      {"CR, LF and CR LF end lines",
       "第一章\r甲\n第二章\r\n乙\r\r\n丙",
       {piece({"第一章", "甲"}), piece({"第二章", "乙", "丙"})},
       {0, 1, 2}},
      {"numbered without a gap, four digits",
       "第一章 起\r\n甲\r\n第二章 承\r\n乙\r\n第三章 转\r\n丙\r\n",
       {piece({"第一章 起", "甲"}), piece({"第二章 承", "乙"}), piece({"第三章 转", "丙"})},
       {0, 1, 2, 3}},
      {"empty source", "", {}, {}},
      {"only blank lines", "\r\n  \r\n\t\n", {}, {}},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.name);
    temp_folder tmp;
    const auto source = tmp.write("src", ex.source);
    recording_host host;
    const auto result = split(source, tmp / "out", host);
    ASSERT_FALSE(result.failure) << result.failure->message();
    EXPECT_EQ(result.pieces, static_cast<std::int64_t>(ex.pieces.size()));
    std::vector<std::string> files{"src"};
    for (std::size_t i = 0; i < ex.pieces.size(); ++i) {
      files.insert(files.end() - 1, "out000" + std::to_string(i) + ".txt");
      EXPECT_EQ(read_bytes(tmp / files[i]), ex.pieces[i]) << i;
    }
    EXPECT_EQ(tmp.files(), files);
    EXPECT_TRUE(progress_within(host.captions, ex.captions));
  }
}

TEST(Split, MakesAWindowsSafeFileNameOfEachTitle) {
  const std::string sixty = std::string(58, 'x') + "第一";
  struct row {
    const char* name;
    std::string heading;
    std::string title;
  };
  const row rows[] = {
      {"blanks trimmed, inner runs made one space", "　　第一章 \t　风起  云涌\t", "第一章 风起 云涌"},
      {"characters Windows forbids become full-width", "a\\b/c:d*e?f\"g<h>i|j",
       "a＼b／c：d＊e？f＂g＜h＞i｜j"},
      {"control characters count as blanks", "第一章\x01\x7F风起\x1F", "第一章 风起"},
      {"trailing dots and blanks go", "第一章 风起…… . .. ", "第一章 风起……"},
      {"a title of dots is empty", " ... ", ""},
      {"empty", "", ""},
      {"sixty characters kept", sixty + "章", sixty},
      {"cut at sixty, then the blank before the cut goes", std::string(59, 'y') + " 第二章",
       std::string(59, 'y')},
      {"zero-width characters and bidi controls go",
       "\u200B第\u200C一\u200D章\u2060 \u200E风\u200F起\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069\uFEFF",
       "第一章 风起"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(file_title(r.heading), r.title);
  }
  EXPECT_EQ(titled_piece_path("out/", 1, "第一章"), "out/0001 第一章.txt");
  EXPECT_EQ(titled_piece_path("out/", 12345, "第一章"), "out/12345 第一章.txt");
  EXPECT_EQ(titled_piece_path("out/", 7, ""), "out/0007.txt");

  // The last component, "<prefix>0001 <title>.txt", at the limit on one
  // name and one past it: past it the title loses its last character, a
  // four-byte one, whole. Linux counts bytes, Windows UTF-16 units.
  const std::string title = std::string(56, 'x') + "\U00020000";  // 60 bytes, 58 UTF-16 units
  struct limit_row {
    bool windows;
    std::string folder;
    std::size_t prefix;  // bytes of the destination after its folder
    std::string name;    // the last component expected
  };
  const limit_row limits[] = {
      {false, "长目录/", 186, std::string(186, 'p') + "0001 " + title + ".txt"},
      {false, "长目录/", 187, std::string(187, 'p') + "0001 " + std::string(56, 'x') + ".txt"},
      {true, "长目录\\", 188, std::string(188, 'p') + "0001 " + title + ".txt"},
      {true, "d/", 189, std::string(189, 'p') + "0001 " + std::string(56, 'x') + ".txt"},
      {false, "d/", 246, std::string(246, 'p') + "0001.txt"},  // no room for a title
  };
  for (const auto& l : limits) {
    const std::string path = titled_piece_path(l.folder + std::string(l.prefix, 'p'), 1, title, l.windows);
    EXPECT_EQ(path, l.folder + l.name);
  }
}

std::string gbk(const std::string& utf8) { return *encode(utf8, *encoding_by_name("GBK")); }

TEST(Split, NamesPiecesByTheirHeadingsWhenAsked) {
  // A heading cut at 60 characters inside a GBK two-byte character, an
  // invalid one, one that is all forbidden characters, one of blanks and dots.
  const std::string long_heading = "第" + std::string(58, 'x') + "章节";
  struct row {
    const char* name;
    std::string source;  // GBK
    std::vector<std::string> files;
    std::vector<piece_kind> kinds;
    std::vector<std::int64_t> lines;
    std::vector<std::uint64_t> offsets;
  };
  const row rows[] = {
      {"front matter keeps its number; titles follow the headings",
       gbk("序\r\n\r\n第一章 风起\r\n甲\r\n　第二章:云涌?\n乙\n"),
       {"0000.txt", "0001 第一章 风起.txt", "0002 第二章：云涌？.txt"},
       {piece_kind::front_matter, piece_kind::chapter, piece_kind::chapter},
       {1, 3, 5},
       {0, 6, 23}},
      {"a title cut on a character, an invalid heading and a heading of dots",
       gbk(long_heading + "\n甲\n第二章 ") + "\xFF\x20" + gbk("\n乙\n第三章...\n"),
       {"0000 第" + std::string(58, 'x') + "章.txt", "0001.txt", "0002 第三章.txt"},
       {piece_kind::chapter, piece_kind::chapter, piece_kind::chapter},
       {1, 3, 5},
       {0, 68, 81}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder tmp;
    const auto source = tmp.write("novel.txt", r.source);
    tmp.write("0001.txt", "an earlier plain run");
    recording_host host;
    split_options options;
    options.forced_encoding = encoding_by_name("GB18030");
    options.title_names = true;
    const auto result = split(source, tmp / "", host, options);
    ASSERT_FALSE(result.failure);
    ASSERT_EQ(host.pieces.size(), r.files.size());
    for (std::size_t i = 0; i < r.files.size(); ++i) {
      EXPECT_EQ(host.pieces[i].path, tmp / r.files[i]);
      EXPECT_EQ(read_bytes(host.pieces[i].path).size(), host.pieces[i].size);
      EXPECT_EQ(host.pieces[i].kind, r.kinds[i]);
      EXPECT_EQ(host.pieces[i].line, r.lines[i]);
      EXPECT_EQ(host.pieces[i].offset, r.offsets[i]);
      // The piece starts with the bytes of the source at that offset.
      const std::string first = host.pieces[i].first_line;
      EXPECT_EQ(r.source.substr(host.pieces[i].offset, first.size()), first);
    }
    // A plain name from an earlier run is another file: left alone, unless
    // this run gives that very name.
    if (r.files[1] != "0001.txt") {
      EXPECT_EQ(read_bytes(tmp / "0001.txt"), "an earlier plain run");
    }
  }
}

TEST(Split, OverwritesOldPiecesAndLeavesOtherFilesAlone) {
  temp_folder tmp;
  const auto source = tmp.write("novel.txt", "第一章\r\n新\r\n");
  tmp.write("0000.txt", "an old, longer piece that must be replaced completely");
  tmp.write("0007.txt", "old");
  recording_host host;
  split(source, tmp.dir(), host);
  EXPECT_EQ(read_bytes(tmp / "0000.txt"), piece({"第一章", "新"}));
  EXPECT_EQ(read_bytes(tmp / "0007.txt"), "old");
}

TEST(Split, KeepsEveryByteOfEachEncoding) {
  struct example {
    const char* encoding_name;
    std::string bom;
  };
  const std::vector<example> examples = {
      {"GB18030", ""},
      {"UTF-8", ""},
      {"Big5", ""},
      {"UTF-8", "\xEF\xBB\xBF"},
      {"UTF-16LE", "\xFF\xFE"},
      {"UTF-16BE", "\xFE\xFF"},
  };
  // Traditional characters, so that the text can be written in Big5 too.
  const std::vector<std::string> lines = {"　　序：這是一個關於山與海的故事。", "第一章　風起",
                                          "　　他說：「我們明天見。」", "第二章　雲湧",
                                          "　　誠實的人總是沉默。最後一行。"};
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.encoding_name + std::string(ex.bom.empty() ? "" : " with BOM"));
    encoding enc = *encoding_by_name(ex.encoding_name);
    auto enc_line = [&](const std::string& utf8) { return *encode(utf8, enc); };
    const std::string crlf = enc_line("\r\n");
    std::string text = ex.bom;
    for (const auto& line : lines) text += enc_line(line) + crlf;
    temp_folder tmp;
    const auto source = tmp.write("novel.txt", text);
    recording_host host;
    const auto result = split(source, tmp.dir(), host);
    ASSERT_FALSE(result.failure);
    EXPECT_EQ(result.source_encoding.layout, enc.layout);
    EXPECT_EQ(result.source_encoding.bom, ex.bom);
    ASSERT_EQ(result.pieces, 3);
    EXPECT_EQ(read_bytes(tmp / "0000.txt"), ex.bom + crlf + enc_line(lines[0]) + crlf);
    EXPECT_EQ(read_bytes(tmp / "0001.txt"), ex.bom + enc_line(lines[1]) + crlf + enc_line(lines[2]) + crlf);
    EXPECT_EQ(read_bytes(tmp / "0002.txt"), ex.bom + enc_line(lines[3]) + crlf + enc_line(lines[4]) + crlf);
  }
}

// A piece ends at the line that takes it past the size of what is written
// (converted, mark and line ends included): exactly the size goes on, one
// byte past ends it. Four-byte characters; pieces around the converter's blocks.
TEST(Split, EndsAPieceAtTheLineThatPassesTheSizeInTheBytesItWrites) {
  const encoding gb = *encoding_by_name("GB18030");
  std::vector<std::string> lines;  // UTF-8, no heading among them
  std::string source;
  for (int i = 0; i < 4000; ++i) {
    lines.push_back("　　𠀀甲" + std::to_string(i * 7) + "乙𡃁");
    source += *encode(lines.back() + "\n", gb);
  }
  for (const char* target : {"", "UTF-8", "GB18030", "UTF-16LE"}) {
    const encoding out = *target ? *target_by_name(target) : gb;
    // A piece of the first `count` lines, as it is written.
    const auto first_piece = [&](std::size_t count) {
      std::string bytes = out.bom + *encode("\r\n", out);
      for (std::size_t i = 0; i < count; ++i) bytes += *encode(lines[i] + "\r\n", out);
      return bytes;
    };
    for (const std::size_t count : {std::size_t{3}, std::size_t{3000}}) {
      for (const std::uint64_t past : {0, 1}) {
        SCOPED_TRACE(std::string(target) + ", " + std::to_string(count) + " lines, " + std::to_string(past) +
                     " past");
        temp_folder tmp;
        const auto path = tmp.write("novel.txt", source);
        recording_host host;
        split_options options;
        if (*target) options.convert_to = out;
        options.max_size = first_piece(count).size() - past;
        const auto result = split(path, tmp.dir(), host, options);
        ASSERT_FALSE(result.failure);
        ASSERT_GE(host.pieces.size(), 2u);
        const std::string expected = first_piece(past ? count : count + 1);
        EXPECT_EQ(host.pieces[0].size, expected.size());
        EXPECT_EQ(read_bytes(tmp / "0000.txt"), expected);
        EXPECT_EQ(host.pieces[1].line, static_cast<std::int64_t>(past ? count : count + 1) + 1);
      }
    }
  }
}

// The odd last byte of UTF-16 is kept as it is, after its line's end, so
// that the line end stays aligned and no byte is added; also after a line
// longer than the read buffer.
TEST(Split, KeepsTheOddLastByteOfUtf16AndAlignsTheLineEndAfterIt) {
  const std::string long_text(std::size_t{3} << 20, 'x');
  for (const char* name : {"UTF-16LE", "UTF-16BE"}) {
    const encoding enc = *encoding_by_name(name);
    const bool little = enc.layout == char_layout::utf16le;
    const std::string bom = little ? "\xFF\xFE" : "\xFE\xFF";
    for (const std::string& last : {std::string("甲"), long_text}) {
      SCOPED_TRACE(std::string(name) + (last.size() > 10 ? ", a long last line" : ""));
      const std::string text = bom + *encode("第一章\n" + last, enc) + "A";
      temp_folder tmp;
      const auto source = tmp.write("novel.txt", text);
      recording_host host;
      const auto result = split(source, tmp.dir(), host);
      ASSERT_EQ(result.pieces, 1);
      const std::string expected = bom + *encode("第一章\r\n" + last + "\r\n", enc) + "A";
      EXPECT_EQ(read_bytes(tmp / "0000.txt"), expected);
      EXPECT_EQ(host.pieces[0].size, expected.size());
    }
  }
}

TEST(Split, PassesInvalidBytesThroughUnchanged) {
  temp_folder tmp;
  // GBK text with a lone lead byte, 0x80 and 0xFF, and a NUL.
  const std::string body = std::string("\xD5\x5C\x81 \x80\xFF", 6) + std::string(1, '\0') + "x";
  const auto source = tmp.write("novel.txt", "\xB5\xDA\xD2\xBB\xD5\xC2\r\n" + body + "\r\n");
  recording_host host;
  const auto result = split(source, tmp.dir(), host);
  ASSERT_EQ(result.pieces, 1);
  EXPECT_EQ(read_bytes(tmp / "0000.txt"), "\xB5\xDA\xD2\xBB\xD5\xC2\r\n" + body + "\r\n");
}

TEST(Split, WritesPiecesAndLinesLargerThanItsBuffers) {
  temp_folder tmp;
  const std::string long_line(3 * 1024 * 1024 + 17, 'a');  // several read and write blocks
  std::string many_lines;
  for (int i = 0; i < 200000; ++i) many_lines += "line " + std::to_string(i) + "\n";
  std::string blank_line;  // ideographic spaces, one cut at each block's edge
  while (blank_line.size() < 2 * 1024 * 1024) blank_line += "\u3000";
  const auto source = tmp.write("novel.txt", "第一章\n" + long_line + "\n第二章\n" + many_lines);
  recording_host host;
  const auto result = split(source, tmp.dir(), host);
  ASSERT_EQ(result.pieces, 2);
  EXPECT_EQ(read_bytes(tmp / "0000.txt"), piece({"第一章", long_line}));
  std::string expected = "第二章\r\n";
  for (int i = 0; i < 200000; ++i) expected += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(read_bytes(tmp / "0001.txt"), expected);
  EXPECT_EQ(host.pieces[1].size, expected.size());

  // Blank lines longer than a read block are dropped like short ones, with
  // a character cut at the block's edge in each of the ways it can be, and
  // no keyword, so that the heading test keeps nothing of a block.
  for (std::size_t shift = 0; shift < 3; ++shift) {
    const auto blank = tmp.write("blank.txt", std::string(shift, '\n') + blank_line + "\n第1章\n甲\n");
    recording_host blank_host(std::vector<std::string>{});
    const auto blank_result = split(blank, tmp.dir() + "blank-", blank_host);
    EXPECT_FALSE(blank_result.failure) << shift;
    EXPECT_EQ(blank_result.pieces, 2) << shift;
    EXPECT_EQ(read_bytes(tmp / "blank-0001.txt"), piece({"甲"})) << shift;
  }
}

TEST(Split, AppliesKeywordEditsToTheLinesAfterThem) {
  temp_folder tmp;
  const auto source = tmp.write("novel.txt", "第一章\r\n卷二\r\n第二章\r\n卷三\r\n甲\r\n乙\r\n");
  recording_host host;
  // After the first heading the list becomes just "卷": "卷二" starts a piece,
  // "第二章" no longer does. Emptied after "卷三", it makes every line a heading.
  host.on_progress = [&](std::int64_t heading) {
    if (heading == 0) host.set_keywords({"卷"});
    if (heading == 2) host.set_keywords({});
  };
  const auto result = split(source, tmp.dir(), host);
  ASSERT_EQ(result.pieces, 5);
  EXPECT_EQ(read_bytes(tmp / "0000.txt"), piece({"第一章"}));
  EXPECT_EQ(read_bytes(tmp / "0001.txt"), piece({"卷二", "第二章"}));
  EXPECT_EQ(read_bytes(tmp / "0002.txt"), piece({"卷三"}));
  EXPECT_EQ(read_bytes(tmp / "0004.txt"), piece({"乙"}));
  // The list is fetched again only when it changed.
  EXPECT_EQ(host.keyword_reads, 3);
}

TEST(Split, StopsBetweenLinesKeepingOnlyCompletePieces) {
  temp_folder tmp;
  std::string text;
  for (int chapter = 1; chapter <= 5; ++chapter) {
    text += "第" + std::to_string(chapter) + "章\r\n";
    // The third chapter is long enough to be partly on disk when the run stops.
    text += std::string(chapter == 3 ? 3 * 1024 * 1024 : 10, 'x') + "\r\n" + "y\r\n";
  }
  const auto source = tmp.write("novel.txt", text);
  recording_host host;
  host.on_progress = [&](std::int64_t heading) {
    if (heading == 2) host.stop = true;
  };
  const auto result = split(source, tmp.dir(), host);
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.failure);
  EXPECT_EQ(result.pieces, 2);
  EXPECT_EQ(tmp.files(), (std::vector<std::string>{"0000.txt", "0001.txt", "novel.txt"}));

  // Stopping inside a long piece removes what was written of it.
  temp_folder tmp2;
  const auto source2 = tmp2.write("novel.txt", text);
  recording_host host2;
  int lines_after = 0;
  host2.on_progress = [&](std::int64_t heading) {
    if (heading == 2) lines_after = 1;
  };
  struct stopping_host : recording_host {
    int* countdown;
    bool stop_requested() override { return *countdown > 0 && ++*countdown > 3; }
  } stopper;
  stopper.countdown = &lines_after;
  stopper.on_progress = host2.on_progress;
  const auto result2 = split(source2, tmp2.dir(), stopper);
  EXPECT_TRUE(result2.stopped);
  EXPECT_EQ(result2.pieces, 2);
  EXPECT_EQ(tmp2.files(), (std::vector<std::string>{"0000.txt", "0001.txt", "novel.txt"}));

  // A stop at a heading is seen before the next line, also where the rest of
  // the source came in the same read block.
  temp_folder tmp3;
  const auto source3 = tmp3.write("novel.txt", "第1章\n甲\n第2章\n乙\n第3章\n丙\n");
  recording_host host3;
  host3.on_progress = [&](std::int64_t saved) { host3.stop = saved == 1; };
  const auto result3 = split(source3, tmp3.dir(), host3);
  EXPECT_TRUE(result3.stopped);
  EXPECT_EQ(result3.pieces, 1);
  EXPECT_EQ(tmp3.files(), (std::vector<std::string>{"0000.txt", "novel.txt"}));
}

// A host's exception goes on to the caller once the run has removed the
// piece it was writing (the long second chapter, partly on disk by then).
TEST(Split, AnExceptionFromTheHostLeavesNoIncompletePiece) {
  std::string text;
  std::vector<std::string> pieces;
  for (int chapter = 1; chapter <= 3; ++chapter) {
    const std::string heading = "第" + std::to_string(chapter) + "章";
    const std::string body(chapter == 2 ? 3 << 20 : 10, 'x');
    text += heading + "\n" + body + "\n";
    pieces.push_back(piece({heading, body}));
  }
  struct throwing_host : recording_host {
    const char* where;
    int stops_in_long_line = -1;
    void progress(std::int64_t saved) override {
      recording_host::progress(saved);
      if (captions.size() == 2) stops_in_long_line = 0;
      if (std::string_view(where) == "progress" && captions.size() == 3) throw std::runtime_error("host");
    }
    bool stop_requested() override {  // the eighth while the long line is copied
      if (std::string_view(where) == "stop" && stops_in_long_line >= 0 && ++stops_in_long_line == 8)
        throw std::runtime_error("host");
      return false;
    }
  };
  for (const char* where : {"progress", "stop"}) {
    SCOPED_TRACE(where);
    temp_folder tmp;
    const auto source = tmp.write("novel.txt", text);
    throwing_host host;
    host.where = where;
    EXPECT_THROW(split(source, tmp.dir(), host), std::runtime_error);
    const std::vector<std::string> files = tmp.files();
    EXPECT_LE(files.size(), 2u);
    for (std::size_t i = 0; i + 1 < files.size(); ++i) {
      EXPECT_EQ(files[i], "000" + std::to_string(i) + ".txt");
      EXPECT_EQ(read_bytes(tmp / files[i]), pieces[i]);
    }
  }
}

TEST(Split, ReportsAFolderThatCannotBeWrittenWithThePathAndReason) {
  temp_folder tmp;
  std::string text;
  for (int chapter = 0; chapter < 200; ++chapter) text += "第" + std::to_string(chapter) + "章\r\n";
  const auto source = tmp.write("novel.txt", text);
  recording_host host;
  const auto result = split(source, tmp / "missing/", host);
  ASSERT_TRUE(result.failure);
  EXPECT_EQ(result.failure->message(),
            "写入文件“" + tmp / "missing/0000.txt" + "”失败：No such file or directory");
  EXPECT_EQ(result.pieces, 0);
  // Progress never counted a piece that is not on disk.
  for (const std::int64_t saved : host.captions) EXPECT_EQ(saved, 0);
}

// Pieces the run has ended wait for the writer in batches bounded by count
// as well as by bytes, so a source of millions of one-line pieces cannot
// fill memory with their records.
TEST(Split, BoundsThePiecesWaitingToBeWrittenByCount) {
  temp_folder tmp;
  constexpr std::int64_t lines = 2 * piece_writer::most_pieces_queued;
  std::string text;
  for (std::int64_t i = 0; i < lines; ++i) text += "a\n";
  const auto source = tmp.write("novel.txt", text);
  struct counting_host : recording_host {
    using recording_host::recording_host;
    std::int64_t headings = 0, most_waiting = 0;
    void progress(std::int64_t saved) override {
      // At a heading, the pieces before it are ended: all but `saved` wait.
      most_waiting = std::max(most_waiting, headings++ - saved);
    }
    // Far enough past the bound to show it, without writing every piece.
    bool stop_requested() override { return headings > lines / 2 + lines / 8; }
  } host({"a"});
  const auto result = split(source, tmp.dir() + "p", host);
  ASSERT_FALSE(result.failure) << result.failure->message();
  EXPECT_TRUE(result.stopped);
  EXPECT_GT(host.headings, piece_writer::most_pieces_queued);
  EXPECT_LE(host.most_waiting, piece_writer::most_pieces_queued);
}

TEST(Split, RemovesAPieceThatCouldNotBeWrittenAndKeepsThoseBefore) {
  temp_folder tmp;
  const auto source = tmp.write("novel.txt", "第一章\r\n甲\r\n第二章\r\n乙\r\n");
  std::filesystem::create_directory(tmp / "0001.txt");  // the second piece cannot be opened
  recording_host host;
  const auto result = split(source, tmp.dir(), host);
  ASSERT_TRUE(result.failure);
  EXPECT_EQ(result.failure->path, tmp / "0001.txt");
  EXPECT_EQ(result.failure->message(), "写入文件“" + tmp / "0001.txt" + "”失败：Is a directory");
  EXPECT_EQ(result.pieces, 1);
  EXPECT_EQ(read_bytes(tmp / "0000.txt"), piece({"第一章", "甲"}));

  // A piece swapped for another file before it is removed: the other file
  // stays, as only the file create_piece made may go.
  file::result<file::piece> made = file::create_piece(tmp / "swap.txt", {});
  ASSERT_TRUE(made);
  std::filesystem::rename(tmp.write("other.txt", "他人"), tmp / "swap.txt");
  file::remove_piece(tmp / "swap.txt", *made);
  EXPECT_EQ(read_bytes(tmp / "swap.txt"), "他人");

  // A whole file is put in place of a piece, never of the folder in its way.
  EXPECT_TRUE(file::put_in_place(tmp.write("whole.tmp", "整"), tmp / "0000.txt"));
  EXPECT_EQ(read_bytes(tmp / "0000.txt"), "整");
  EXPECT_FALSE(file::put_in_place(tmp.write("again.tmp", "整"), tmp / "0001.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "0001.txt"));

  // The source itself is refused as a piece before a byte of it is truncated.
  const std::optional<file::identity> source_id = file::identity_of(source);
  ASSERT_TRUE(source_id);
  EXPECT_FALSE(file::create_piece(source, *source_id));
  EXPECT_EQ(read_bytes(source), "第一章\r\n甲\r\n第二章\r\n乙\r\n");
}

// A failed allocation in a call into the host stands for one anywhere in
// the run: it ends the run with a message, keeps the pieces before and
// removes the one being gathered, also when part of it is on disk already.
TEST(Split, ReportsRunningOutOfMemoryAndKeepsWholePieces) {
  std::string text;
  for (int chapter = 1; chapter <= 4; ++chapter)  // the third has a line of 3 MiB
    text +=
        "第" + std::to_string(chapter) + "章\r\n" + std::string(chapter == 3 ? 3 << 20 : 10, 'x') + "\r\n";
  struct failing_host : recording_host {
    // 1: keywords(), 2: progress at the third heading, 3: the second stop
    // asked while the long line is copied, after 2 reading up to it and 4
    // reading it through once, with 1 MiB of it handed to the writer.
    int fail_at;
    int stops_after = -1;
    std::vector<std::string> keywords() override {
      if (fail_at == 1) throw std::bad_alloc();
      return recording_host::keywords();
    }
    int headings = 0;
    void progress(std::int64_t) override {
      const int heading = headings++;
      if (heading == 2 && fail_at == 2) throw std::bad_alloc();
      if (heading == 2) stops_after = 0;
    }
    bool stop_requested() override {
      if (fail_at == 3 && stops_after >= 0 && ++stops_after == 8) throw std::bad_alloc();
      return false;
    }
  };
  const struct {
    int fail_at;
    bool on_source;
    std::int64_t pieces;
  } rows[] = {{1, true, 0}, {2, false, 2}, {3, false, 2}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.fail_at);
    temp_folder tmp;
    const auto source = tmp.write("novel.txt", text);
    failing_host host;
    host.fail_at = r.fail_at;
    const auto result = split(source, tmp.dir(), host);
    ASSERT_TRUE(result.failure);
    const std::string path = r.on_source ? source : tmp / "0002.txt";
    EXPECT_EQ(result.failure->message(),
              (r.on_source ? "读取文件“" : "写入文件“") + path + "”失败：内存不足");
    EXPECT_EQ(result.pieces, r.pieces);
    std::vector<std::string> files{"novel.txt"};
    for (std::int64_t i = 0; i < r.pieces; ++i)
      files.insert(files.end() - 1, "000" + std::to_string(i) + ".txt");
    EXPECT_EQ(tmp.files(), files);
    if (r.pieces > 1) {
      EXPECT_EQ(read_bytes(tmp / "0001.txt"), piece({"第2章", std::string(10, 'x')}));
    }
  }
  // On the writer's thread: the piece is named by the path it was given.
  temp_folder tmp;
  const auto source = tmp.write("novel.txt", text);
  recording_host host;
  split_options titled;
  titled.title_names = true;
  fail_elsewhere = true;
  const auto result = split(source, tmp.dir(), host, titled);
  fail_elsewhere = false;
  if (result.failure) {
    EXPECT_EQ(result.failure->message(), "写入文件“" + tmp / "0000 第1章.txt" + "”失败：内存不足");
  }
}

TEST(Split, ListsPiecesWithoutWritingInADryRun) {
  temp_folder tmp;
  const auto source = tmp.write("novel.txt", "序\r\n第一章 起\r\n甲\r\n");
  recording_host host;
  split_options options;
  options.dry_run = true;
  const auto result = split(source, tmp.dir(), host, options);
  EXPECT_EQ(result.pieces, 2);
  EXPECT_EQ(tmp.files(), std::vector<std::string>{"novel.txt"});
  ASSERT_EQ(host.pieces.size(), 2u);
  EXPECT_EQ(host.pieces[0].first_line, "序");
  EXPECT_EQ(host.pieces[0].size, std::string("\r\n序\r\n").size());
  EXPECT_EQ(host.pieces[1].first_line, "第一章 起");
  EXPECT_EQ(host.pieces[1].size, piece({"第一章 起", "甲"}).size());
  EXPECT_EQ(host.pieces[0].kind, piece_kind::front_matter);
  EXPECT_EQ(host.pieces[1].kind, piece_kind::chapter);
  EXPECT_EQ(host.pieces[1].line, 2);
  EXPECT_EQ(host.pieces[1].offset, std::string("序\r\n").size());
  EXPECT_EQ(host.pieces[1].lines, 2);
}

TEST(Split, TellsWhatStartedEachPieceByForm) {
  temp_folder tmp;
  // Byte-order mark, a volume sharing its chapter's piece, a volume that
  // opens a piece with text of its own (a line one character past a
  // subtitle's length), and a size cut.
  const auto source =
      tmp.write("novel.txt", "\xEF\xBB\xBF书名\n第一卷\n\n第一章\n甲\n卷二\n" + repeat("引", 21) +
                                 "\n楔子\n" + std::string(30, 'x') + "\n乙\n");
  recording_host host;
  split_options options;
  options.dry_run = true;
  options.headings.which = heading_choice::rule::form;
  options.max_size = 40;
  split(source, tmp.dir(), host, options);
  struct expected {
    piece_kind kind;
    std::int64_t line;
    std::uint64_t offset;
    const char* first_line;
  };
  const std::vector<expected> pieces = {{piece_kind::front_matter, 1, 3, "书名"},
                                        {piece_kind::volume, 2, 10, "第一卷"},
                                        {piece_kind::volume, 6, 35, "卷二"},
                                        {piece_kind::special, 8, 106, "楔子"},
                                        {piece_kind::size_cut, 10, 144, "乙"}};
  ASSERT_EQ(host.pieces.size(), pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(host.pieces[i].kind, pieces[i].kind);
    EXPECT_EQ(host.pieces[i].line, pieces[i].line);
    EXPECT_EQ(host.pieces[i].offset, pieces[i].offset);
    EXPECT_EQ(host.pieces[i].first_line, pieces[i].first_line);
  }
}

// Volume titles one after another, past what the survey can weigh, are
// held for the chapter after them only up to a read block: memory stays
// bounded, and every title is still written once.
TEST(Split, HoldsNoMoreThanABlockOfVolumeTitles) {
  temp_folder tmp;
  std::string text;
  constexpr int titles = 400000;
  for (int n = 1; n <= titles; ++n) text += "第" + std::to_string(n) + "卷\n";
  const auto source = tmp.write("novel.txt", text);
  recording_host host;
  split_options options;
  options.dry_run = true;
  options.headings.which = heading_choice::rule::form;
  split(source, tmp.dir(), host, options);
  ASSERT_GE(host.pieces.size(), 3u);
  std::int64_t lines = 0;
  for (const piece_info& p : host.pieces) {
    lines += p.lines;
    // The last piece also takes the titles still held at the end.
    if (p.kind == piece_kind::volume && &p != &host.pieces.back()) {
      EXPECT_LE(p.size, (std::uint64_t{1} << 20) + 2) << p.number;
    }
  }
  EXPECT_EQ(lines, titles);
}

// The lines where pieces start when `bytes` are split by the form rule.
// `forced`: the source's encoding, not detected.
std::vector<std::int64_t> starts_by_form(const std::string& bytes, const char* forced = nullptr) {
  temp_folder tmp;
  const auto source = tmp.write("novel.txt", bytes);
  recording_host host;
  split_options options;
  options.dry_run = true;
  if (forced) options.forced_encoding = *encoding_by_name(forced);
  options.headings.which = heading_choice::rule::form;
  split(source, tmp.dir(), host, options);
  std::vector<std::int64_t> starts;
  for (const piece_info& p : host.pieces) starts.push_back(p.line);
  return starts;
}

// The form rule reads the book before the run: which lines start a piece
// depends on the lines around them.
TEST(Split, TheBookDecidesWhichShapesAreItsHeadings) {
  const std::string body = "正文一行\n正文二行\n正文三行\n";
  struct row {
    const char* name;
    std::string source;
    std::vector<std::int64_t> starts;  // lines where pieces start, the front matter's included
  };
  const std::vector<row> rows = {
      {"a table of contents stays in the front matter; the real first chapter starts again",
       "书名\n目录\n第一回　甲\n第二回　乙\n第三回　丙\n\n第一回　甲\n" + body + "第二回　乙\n" + body +
           "第三回　丙\n" + body,
       {1, 7, 11, 15}},
      {"two entries to a line are contents too",
       "第一回　甲 第二回　乙\n第三回　丙 第四回　丁\n第一回　甲\n" + body + "第二回　乙\n" + body,
       {1, 3, 7}},
      {"a bare numeral sequence through the book, not a list inside a chapter",
       "序\n" + body + "一 青衫\n" + body + "一、甲\n二、乙\n三、丙\n" + body + "二 玉壁\n" + body +
           "三 马疾\n" + body,
       {1, 5, 15, 19}},
      {"第 left out after a first 第一回",
       "第一回　甲\n" + body + "二回　乙\n" + body + "三回　丙\n" + body + "四回　丁\n" + body,
       {1, 5, 9, 13}},
      {"a heading printed twice, and a site's header above the book's own",
       "第一章\n\n第一章\n" + body + "第二章\n第贰章\n" + body + "第三章\n网站\n第三章\n" + body,
       {1, 7, 12}},
      {"a volume, its subtitle and its first chapter open one piece; an end marker is text",
       "第壹卷\n朱元璋篇\n第一章 童年\n" + body + "第一卷终\n第贰卷\n朱棣篇\n第一章 靖难\n" + body,
       {1, 8}},
      {"a guarded title in its place in the sequence; one out of place is body text",
       "第一章\n" + body + "第二章 标题。\n" + body + "第九章 说完了。\n" + body,
       {1, 5}},
      // Counted without the CR LF before it, a subtitle of twenty
      // characters is one.
      {"a subtitle at the longest, then one character longer, in CR LF",
       "第壹卷\r\n\r\n" + repeat("朱元璋篇", 5) + "\r\n第一章 童年\r\n" + body + "第贰卷\r\n" +
           repeat("朱元璋篇", 5) + "朱\r\n第一章 靖难\r\n" + body,
       {1, 8, 10}},
  };
  for (const char* name : {"GB18030", "UTF-16LE"}) {
    for (const auto& r : rows) {
      SCOPED_TRACE(std::string(name) + ": " + r.name);
      EXPECT_EQ(starts_by_form((std::string(name) == "UTF-16LE" ? "\xFF\xFE" : "") +
                               *encode(r.source, *encoding_by_name(name))),
                r.starts);
    }
  }
}

// The survey numbers lines exactly as the run does, or headings would be
// looked up on the wrong lines: every line end, a CR LF cut by the edge of
// the survey's 1 MiB block, a line longer than the block.
TEST(Split, TheBookIsSurveyedLineForLineAsItIsCut) {
  const std::size_t block = read_block;
  auto chapters = [](const std::string& end) {
    std::string out;
    for (const char* head : {"一 甲", "二 乙", "三 丙"})
      out += std::string(head) + end + "正文" + end + "正文" + end + "正文" + end;
    return out;
  };
  struct row {
    const char* name;
    std::string source;
    std::vector<std::int64_t> starts;
  };
  // A first line that ends with the CR of a CR LF at the last byte of a
  // block of the run, or of the survey.
  std::string cut = "前言" + std::string(block - 7, 'x') + "\r\n";
  std::string survey_cut = "前言" + std::string(survey_block - 7, 'x') + "\r\n";
  // The same with lines of text, which the survey counts without a look.
  std::string survey_cut_text;
  while (survey_cut_text.size() < survey_block - 100) survey_cut_text += std::string(60, 'x') + "\r\n";
  survey_cut_text += std::string(survey_block - 1 - survey_cut_text.size(), 'x') + "\r\n";
  const auto text_lines = static_cast<std::int64_t>(survey_cut_text.size() / 62);
  const std::vector<row> rows = {
      {"CR only", chapters("\r"), {1, 5, 9}},
      {"CR LF", chapters("\r\n"), {1, 5, 9}},
      {"a CR LF cut by the block's edge", cut + chapters("\r\n"), {1, 2, 6, 10}},
      {"a CR LF cut by the survey block's edge", survey_cut + chapters("\r\n"), {1, 2, 6, 10}},
      {"a CR LF of a line of text cut by the survey block's edge",
       survey_cut_text + "第一章 甲\r\n正文\r\n第二章 乙\r\n正文\r\n",
       {1, text_lines + 1, text_lines + 3}},
      {"a line longer than the block",
       "前言\n" + std::string(block + 5, 'y') + "\n" + chapters("\n"),
       {1, 3, 7, 11}},
      // A separator among the blanks trimmed off a line's end once sent
      // the walk over its characters past the end.
      {"a tab, then blanks, at a line's end",
       "前言\n山石。\t\t \n山石。\t\t\t　\n" + chapters("\n"),
       {1, 4, 8, 12}},
  };
  for (const char* name : {"UTF-8", "UTF-16BE", "GB18030", "Big5"}) {
    const bool detected = std::string(name).starts_with("UTF");
    for (const auto& r : rows) {
      SCOPED_TRACE(std::string(name) + ": " + r.name);
      const std::string bom = std::string(name) == "UTF-16BE" ? "\xFE\xFF" : "";
      EXPECT_EQ(starts_by_form(bom + *encode(r.source, *encoding_by_name(name)), detected ? nullptr : name),
                r.starts);
    }
  }
}

// A stop asked for while the book is surveyed ends the run before any
// piece is begun.
TEST(Split, AStopDuringTheSurveyWritesNothing) {
  temp_folder tmp;
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "第" + std::to_string(i + 1) + "章\n正文正文正文正文正文正文\n";
  const auto source = tmp.write("novel.txt", text);
  struct stopping_host : recording_host {
    int asked = 0;
    bool stop_requested() override { return ++asked > 0; }
  } host;
  split_options options;
  options.headings.which = heading_choice::rule::form;
  const split_result result = split(source, tmp.dir() + "/", host, options);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.pieces, 0);
  EXPECT_TRUE(host.pieces.empty());
  EXPECT_FALSE(std::filesystem::exists(tmp.dir() + "/0000.txt"));
}

// Deciding the encoding reads the whole source: a stop asked for meanwhile
// ends the run there, before the encoding is known, whether the source is
// read in one part or, from four read blocks on, in two at once.
TEST(Split, AStopWhileTheEncodingIsDecidedEndsTheRunThere) {
  constexpr std::size_t two_parts_from = 4 << 20;
  const std::string line = "正文正文正文正文正文正文\n";
  for (const std::size_t size : {two_parts_from - 1, two_parts_from}) {
    SCOPED_TRACE(size);
    temp_folder tmp;
    std::string text = "第一章\n";
    while (text.size() + line.size() <= size) text += line;
    text.append(size - text.size(), 'x');
    const auto source = tmp.write("novel.txt", text);
    struct stopping_host : recording_host {
      bool encoding_seen = false;
      void encoding_known(const encoding&) override { encoding_seen = true; }
      bool stop_requested() override { return true; }
    } host;
    const split_result result = split(source, tmp.dir() + "/", host);
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.failure);
    EXPECT_FALSE(host.encoding_seen);
    EXPECT_EQ(tmp.files(), std::vector<std::string>{"novel.txt"});
  }
}

TEST(Split, ForcedEncodingOverridesDetection) {
  temp_folder tmp;
  // 一 and 专 in GBK (D2 BB, D7 A8) are also valid UTF-8, so the file is
  // taken for UTF-8 unless told otherwise.
  const auto source = tmp.write("novel.txt", "x\r\n\xD2\xBB\xD7\xA8\r\ny\r\n");
  recording_host host({"一", "专"});
  EXPECT_EQ(split(source, tmp.dir(), host).pieces, 1);
  split_options options;
  options.forced_encoding = encoding_by_name("GBK");
  const auto result = split(source, tmp.dir(), host, options);
  EXPECT_EQ(result.pieces, 2);
}

// A stop that comes from outside the run's calls into the host (a signal,
// another thread) is seen within a read block, between lines, even in a
// long stretch without a heading.
TEST(Split, SeesAStopFromOutsideItsCallbacksSoon) {
  temp_folder tmp;
  std::string text;
  const std::string line = std::string(1000, 'x') + "\r\n";
  for (int i = 0; i < 4000; ++i) text += line;  // about 4 MiB, no heading
  const auto source = tmp.write("novel.txt", text);
  struct host_stopped_elsewhere : recording_host {
    std::uint64_t keywords_version() override {
      ++lines_tested;
      return recording_host::keywords_version();
    }
    std::vector<std::string> keywords() override {
      stop = true;  // as if a signal had come while the list was read
      return recording_host::keywords();
    }
    int lines_tested = 0;
  } host;
  const auto result = split(source, tmp.dir() + "out-", host);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.pieces, 0);
  EXPECT_LT(host.lines_tested, 2100);  // within two read blocks of 1 MiB
  EXPECT_EQ(tmp.files(), std::vector<std::string>{"novel.txt"});
}

// A large file is checked for UTF-8 in two halves at once: a fault in either
// half, or a character cut at the middle, must count exactly as in one pass
// (and as ICU counts it). A few faults leave it UTF-8; faults past the limit
// make it GB18030, also when no half has too many.
TEST(Split, DecidesUtf8FromEveryByteOfALargeFile) {
  temp_folder tmp;
  const std::string line = "　　他说：“第一句话。”\r\n";
  std::string text;
  while (text.size() < (6u << 20)) text += line;
  struct example {
    const char* what;
    std::vector<std::size_t> at;  // where to write `byte`
    char byte;
    const char* expected;
  };
  const std::size_t middle = text.size() / 2;
  const auto spread = [&](std::size_t count) {  // the CR of `count` lines, half in each half
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < count; ++i)
      at.push_back(((i % 2 ? text.size() / line.size() / 2 : 10) + i / 2 * 1000 + 1) * line.size() - 2);
    return at;
  };
  const std::vector<example> examples = {
      {"valid throughout", {}, 0, "UTF-8"},
      {"a stray byte early in the first half", {100}, '\xB5', "UTF-8"},
      {"a stray byte at the end of the first half", {middle - 1}, '\xFF', "UTF-8"},
      {"a stray byte at the middle", {middle}, '\xFF', "UTF-8"},
      {"five continuation bytes in a row at the middle",
       {text.find("\xE8\xAF\xB4", middle)},
       '\x80',
       "UTF-8"},
      {"a stray byte late in the second half", {text.size() - 5}, '\xC0', "UTF-8"},
      {"a lead byte with nothing after it", {text.size() - 1}, '\xE7', "UTF-8"},
      {"as many stray bytes as may be, across both halves", spread(utf8_most_faults), '\xFF', "UTF-8"},
      {"one more, no half with more than may be", spread(utf8_most_faults + 1), '\xFF', "GB18030"},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.what);
    // Near the middle, the middle falls on each byte of a line in turn.
    const bool near_middle = ex.at.size() == 1 && ex.at[0] + 100 > middle && ex.at[0] < middle + 100;
    for (std::size_t shift = 0; shift < (near_middle ? line.size() : 1); ++shift) {
      std::string bytes = std::string(shift, 'a') + text;
      for (const std::size_t at : ex.at) bytes[shift + at] = ex.byte;
      const auto source = tmp.write("novel.txt", bytes);
      // Stopped once the encoding is decided, before the first line.
      struct stopped_when_known : recording_host {
        void encoding_known(const encoding&) override { stop = true; }
      } host;
      const split_result result = split(source, tmp.dir() + "out-", host);
      EXPECT_EQ(result.source_encoding.name, ex.expected) << "shifted by " << shift;
      const bool utf8 = std::string_view(ex.expected) == "UTF-8";
      // ICU's count on the lines that hold the faults (the rest is valid).
      text_converter icu(*encoding_by_name("UTF-8"), *encoding_by_name("UTF-8"), nullptr);
      for (const std::size_t at : ex.at) {
        const std::size_t from = bytes.find_last_of('\n', shift + at - 1) + 1;
        icu.write(std::string_view(bytes).substr(from, bytes.find('\n', shift + at) + 1 - from));
      }
      icu.end();
      EXPECT_EQ(result.invalid_utf8.count, utf8 ? icu.replaced() : 0) << "shifted by " << shift;
    }
  }
}

}  // namespace
}  // namespace quorrel

void* operator new(std::size_t size) {
  const bool fails = quorrel::fail_elsewhere && std::this_thread::get_id() != quorrel::test_thread;
  if (void* p = fails ? nullptr : std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // free() matches this operator new's malloc()
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
