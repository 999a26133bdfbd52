// The heading test and the line rules, byte for byte in each encoding.

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "core/book_survey.h"
#include "core/encoding.h"
#include "core/file.h"
#include "core/heading_book.h"
#include "core/heading_choice.h"
#include "core/heading_form.h"
#include "core/keyword_rule.h"
#include "core/shape_filter.h"
#include "core/split.h"  // fixed_keywords
#include "core/text.h"
#include "tests/support/temp_folder.h"

namespace quorrel {
namespace {

bool is_heading(const std::string& line_utf8, const std::vector<std::string>& keywords,
                const char* encoding_name = "GB18030") {
  const encoding enc = *encoding_by_name(encoding_name);
  heading_test test(enc);
  test.set_keywords(keywords);
  return test(*encode(line_utf8, enc));
}

TEST(HeadingTest, MatchesEveryKeywordExactlyAnywhereInTheLine) {
  struct example {
    const char* line;
    std::vector<std::string> keywords;
    bool heading;
  };
  const std::vector<example> examples = {
      {"第十二章 风起", {"第", "章"}, true},
      {"　　第十二章", {"第", "章"}, true},
      {"章回在前，第在后", {"第", "章"}, true},
      {"第二天", {"第", "章"}, false},
      {"文章", {"第", "章"}, false},
      {"文章", {"章"}, true},
      {"Chapter 1", {"chapter"}, false},  // case counts
      {"Chapter 1", {"Chapter"}, true},
      {"ＡＢ", {"AB"}, false},  // full-width is not half-width
      {"AB", {"ＡＢ"}, false},
      {"任何一行", {}, true},  // an empty list matches every line
      {"任何一行", {""}, true},
      {"第一章", {"第", "章", "节"}, false},
      {"第一章", {"章", "第", "章", "章"}, true},  // a repeated keyword is one keyword
      {"文章", {"第", "章", "第"}, false},
      {"我們第一章", {"第", "们"}, false},  // 们 has no Big5 form: the list matches nothing there
      {"我們第一章", {"第", "們"}, true},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.line);
    EXPECT_EQ(is_heading(ex.line, ex.keywords), ex.heading);
    EXPECT_EQ(is_heading(ex.line, ex.keywords, "UTF-8"), ex.heading);
    if (encode(ex.line, *encoding_by_name("Big5"))) {
      EXPECT_EQ(is_heading(ex.line, ex.keywords, "Big5"), ex.heading);
    }
  }
}

TEST(HeadingForm, TellsChaptersVolumesAndSectionsFromBodyTextInEveryEncoding) {
  constexpr line_kind body = line_kind::body, miss = line_kind::near_miss, chapter = line_kind::chapter,
                      volume = line_kind::volume, special = line_kind::special;
  struct example {
    const char* line;
    line_kind kind;
    std::int64_t number;  // -1: none
  };
  const std::vector<example> examples = {
      {"第十二章 风起", chapter, 12},
      {"　　第一百零五章：归来", chapter, 105},
      {"\u00A0第 12 章", chapter, 12},
      {"第１２回　夜宴", chapter, 12},
      {"第三节", chapter, 3},
      {"第四節 舊事", chapter, 4},
      {"第两千话", chapter, 2000},
      {"第壹佰零伍話", chapter, 105},
      {"第一二三章", chapter, 123},
      {"第二十章风起云涌", chapter, 20},
      {"【第三章】 出发", chapter, 3},
      {"[第3章] 出发", chapter, 3},
      {"第一卷 风起", volume, 1},
      {"第二部", volume, 2},
      {"第三集·终", volume, 3},
      {"第三冊", volume, 3},
      {"卷一", volume, 1},
      {"卷之二 山河", volume, 2},
      {"楔子", special, -1},
      {"序", special, -1},
      {"序章 开端", special, -1},
      {"番外", special, -1},
      {"番外三 小记", special, 3},
      {"尾聲：歸來", special, -1},
      {"完本感言", special, -1},
      {"后记", special, -1},
      {" 　 \t　第十二章 风起", chapter, 12},       // a mixed indent
      {"第三章 \U00020000\U0002A6D6", chapter, 3},  // a title of four-byte characters
      {"第九亿亿亿亿亿章", chapter, 1000000000},
      {"他翻到第三章，看了很久", body, -1},
      {"第三章，他说", body, -1},
      {"第二天", body, -1},
      {"第章", body, -1},
      {"卷起袖子", body, -1},
      {"序幕拉开", body, -1},
      {"前言不搭后语", body, -1},
      {"【第三章 出发", body, -1},
      {"“第三章写得真好。”", body, -1},
      {"第三章写得真好。", miss, 3},
      {"第一节课很无聊", miss, 1},
      {"第二回合", miss, 2},
      {"第一部分 总论", miss, 1},
      {"第三章 这一行的标题实在是太长了远远超过了四十个字所以它只能算作正文里的一句话而已，不是标题", miss,
       3},
  };
  for (const char* name : {"GB18030", "UTF-8", "Big5", "UTF-16LE", "UTF-16BE"}) {
    const encoding enc = *encoding_by_name(name);
    const auto rule = make_heading_rule({heading_choice::rule::form, {}}, enc, {}).rule;
    for (const auto& ex : examples) {
      SCOPED_TRACE(std::string(name) + ": " + ex.line);
      const auto bytes = encode(ex.line, enc);
      if (!bytes) continue;  // Simplified characters Big5 cannot write
      EXPECT_EQ(rule->classify(*bytes, 1), ex.kind);
      const heading_form form = read_heading_utf8(ex.line);
      EXPECT_EQ(form.numbered ? form.number : -1, ex.number);
    }
  }
}

TEST(HeadingForm, ReadsEachShapeABookMayUseForItsHeadings) {
  using sh = heading_shape;
  constexpr line_kind body = line_kind::body, chapter = line_kind::chapter, volume = line_kind::volume,
                      special = line_kind::special;
  constexpr heading_guard none = heading_guard::none;
  struct example {
    const char* line;
    heading_shape shape;
    line_kind kind;
    std::int64_t number;  // -1: none
    heading_guard guard = none;
  };
  const std::vector<example> examples = {
      // Prefixes before 第, and units nested on one line.
      {"上卷 第一回　灵根", sh::prefixed, chapter, 1},
      {"正文第一集", sh::prefixed, volume, 1},
      {"《书名》第一章(1)", sh::prefixed, chapter, 1},
      {"◆ 《书名之一》 第三回　标题 ◆", sh::prefixed, chapter, 3},
      {"书名2－篇名 第一回　标题", sh::prefixed, chapter, 1},
      {"【书名】【第一辑 标题】", sh::prefixed, chapter, 1},
      {"【书名】【第二集 标题】", sh::prefixed, volume, 2},
      {"第一季 第二卷 标题", sh::prefixed, volume, 2},
      {"第一梦 标题 第01章", sh::prefixed, chapter, 1},
      {"第十一册第八十三章", sh::plain, chapter, 83},
      {"第一部分 标题第1节 标题", sh::prefixed, chapter, 1},
      {"第一卷：标题 第一回　标题", sh::plain, chapter, 1},
      // Units beyond the list, and units that count something else.
      {"第一幕 标题", sh::odd_unit, chapter, 1},
      {"第二十炮", sh::odd_unit, chapter, 20},
      {"第二天", sh::none, body, -1},
      {"第一次见面", sh::none, body, -1},
      // 第 left out, a bare number, a name and a number, Latin words.
      {"二回　标题　标题", sh::bare_unit, chapter, 2},
      {"一 青衫", sh::numeral, chapter, 1},
      {"五十 标题", sh::numeral, chapter, 50},
      {"一、标题", sh::numeral, chapter, 1},
      {"1.标题", sh::numeral, chapter, 1},
      {"1  标题", sh::numeral, chapter, 1},
      {"12标题", sh::numeral, chapter, 12},
      {"【01】", sh::numeral, chapter, 1},
      {"22", sh::numeral, chapter, 22},
      {"贰", sh::numeral, chapter, 2},
      {"一个人走了", sh::none, body, -1},
      {"1，2，3", sh::none, body, -1},
      {"蛙九", sh::named, chapter, 9},
      {"书名1", sh::named, chapter, 1},
      {"part1 标题", sh::latin, chapter, 1},
      {"Part 6", sh::latin, chapter, 6},
      {"Chapter 3", sh::latin, chapter, 3},
      {"particle 3", sh::named, chapter, 3},
      // Section words, alone, numbered, titled, spaced, behind a prefix.
      {"附录一：标题", sh::section, special, 1},
      {"附錄", sh::section, special, -1},
      {"跋", sh::section, special, -1},
      {"译者序", sh::section, special, -1},
      {"出版说明", sh::section, special, -1},
      {"作者的话", sh::section, special, -1},
      {"尾 声", sh::section, special, -1},
      {"尾声《标题》", sh::section, special, -1},
      {"胡序", sh::section, special, -1},
      {"“书名”新序", sh::section, special, -1},
      {"秩序", sh::none, body, -1},
      {"跋涉", sh::none, body, -1},
      {"正文 前言", sh::prefixed_section, special, -1},
      {"第二季 引子", sh::prefixed_section, special, -1},
      {"甲乙丙丁戊己庚辛壬癸子丑寅卯辰 前言", sh::prefixed_section, special, -1},  // a prefix of 16
      {"甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳 前言", sh::none, body, -1},               // and of 17
      // Numerals 廿 and 卅; guards at their limits; stray marks.
      {"第廿三回", sh::plain, chapter, 23},
      {"第卅回 标题", sh::plain, chapter, 30},
      {"\uFEFF第八章 标题", sh::plain, chapter, 8},
      {"第八章 标题。", sh::plain, chapter, 8, heading_guard::trailing_stop},
      {"第八章 标题。他说", sh::plain, chapter, 8, heading_guard::full_stop},
      {"第三卷终", sh::none, body, -1},
      {"第一回　甲乙 第二回　丙丁", sh::plain, chapter, 1},
  };
  // Prose the survey's byte filter may skip, beside every shape above that
  // it must never skip, in every encoding that can write the line.
  std::vector<const char*> prose = {"　　他说：“走吧。”", "三人笑了笑，走了。", "后来他走了", "山石很好看！",
                                    // blanks at the end, a separator past a tab
                                    "他说。\t\t ", "他说。\t\t\t　"};
  // A separator just past the 63 bytes left once the end's blanks are trimmed.
  const std::string sixty_three = std::string(63, 'x') + " ";
  prose.push_back(sixty_three.c_str());
  for (const char* name : {"GB18030", "UTF-8", "Big5", "UTF-16LE", "UTF-16BE"}) {
    const encoding enc = *encoding_by_name(name);
    const shape_filter filter(enc);
    // As the survey sees a line: looked up in its block's index (or scanned
    // in UTF-16), then filtered.
    auto passes = [&](const std::string& bytes) {
      std::string block = bytes + *encode("\r\n", enc);
      const std::size_t size = block.size();
      block.resize(size + line_index::padding);
      std::optional<line_index> index = filter.index();
      line_look looked = filter.look(block.substr(0, size));
      if (index) {
        index->build({block.data(), size});
        looked = filter.look(*index, 0);
      }
      EXPECT_EQ(looked.length, bytes.size());
      return looked.may_be_shaped;
    };
    for (const auto& ex : examples) {
      if (ex.shape == sh::none) continue;
      // Indented, and bare; the longer lines reach the scan's vector part.
      for (const std::string& line : {std::string("　") + ex.line + " ", std::string(ex.line)}) {
        const auto bytes = encode(line, enc);
        if (bytes) {
          EXPECT_TRUE(passes(*bytes)) << name << ": " << line;
        }
      }
    }
    for (const char* line : prose) {
      const auto bytes = encode(line, enc);
      if (bytes) {
        EXPECT_FALSE(passes(*bytes)) << name << ": " << line;
      }
    }
    // A numeral and one byte, the file's last line: what follows the
    // numeral is looked for within the line alone.
    if (enc.unit_size() == 1) {
      EXPECT_TRUE(filter.look(*encode("三x", enc)).may_be_shaped) << name;
    }
    // Characters are counted exactly up to the limit, and only said to be
    // more past it.
    EXPECT_EQ(filter.characters(*encode("朱元璋篇", enc), 20), 4u) << name;
    EXPECT_GT(filter.characters(*encode(std::string(81, 'a'), enc), 20), 20u) << name;
    // Twenty characters of four bytes (in UTF-8 and GB18030) are still counted.
    std::string astral;
    for (int i = 0; i < 20; ++i) astral += "\U00020000";
    if (std::string(name) == "UTF-8" || std::string(name) == "GB18030") {
      EXPECT_EQ(filter.characters(*encode(astral, enc), 20), 20u) << name;
    }
  }

  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.line);
    const line_shape shape = read_line_shape_utf8(ex.line);
    EXPECT_EQ(shape.shape, ex.shape);
    if (shape.shape == sh::none) continue;
    EXPECT_EQ(shape.kind, ex.kind);
    EXPECT_EQ(shape.number, ex.number);
    EXPECT_EQ(shape.guard, ex.guard);
  }
  EXPECT_TRUE(read_line_shape_utf8("第一回　甲乙 第二回　丙丁").contents);
  EXPECT_FALSE(read_line_shape_utf8("第一章 第二节").contents);
  EXPECT_EQ(read_line_shape_utf8("第一章 第二节").inner, 2);
  EXPECT_EQ(read_line_shape_utf8("第十一册第八十三章").volume, 11);
  // One group for 第一回, 上卷 第二回 and 三回; another for 一 标题.
  EXPECT_EQ(read_line_shape_utf8("第一回").group, read_line_shape_utf8("上卷 第二回").group);
  EXPECT_EQ(read_line_shape_utf8("第一回").group, read_line_shape_utf8("三回　标题").group);
  EXPECT_NE(read_line_shape_utf8("第一回").group, read_line_shape_utf8("一 标题").group);
  EXPECT_NE(read_line_shape_utf8("蛙九").group, read_line_shape_utf8("书名九").group);

  // Length: 40 characters pass, 41 are guarded, over 60 are no heading; a
  // character outside the BMP (two code units) counts once.
  const std::string head = "第一章 ";  // 4 characters
  const std::string astral = "\U00020000";
  auto line_of = [&](std::size_t characters) {
    std::string line = head;
    for (std::size_t i = 4; i < characters; ++i) line += astral;
    return line;
  };
  EXPECT_EQ(read_line_shape_utf8(line_of(40)).guard, none);
  EXPECT_EQ(read_line_shape_utf8(line_of(41)).guard, heading_guard::too_long);
  EXPECT_EQ(read_line_shape_utf8(line_of(60)).shape, sh::plain);
  EXPECT_EQ(read_line_shape_utf8(line_of(61)).shape, sh::none);
}

// A book given as lines ("" blank, "." a line of body text), planned as
// if its text ran to `length` lines that are not blank (0: as many as given).
heading_book planned_book(const std::vector<std::string>& lines, std::int64_t length = 0) {
  heading_book book;
  std::int64_t nonblank = 0, before = 0;
  std::size_t before_characters = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::int64_t line = static_cast<std::int64_t>(i) + 1;
    if (lines[i].empty()) continue;
    ++nonblank;
    const line_shape shape = read_line_shape_utf8(lines[i]);
    if (shape.shape != heading_shape::none) book.add(line, nonblank, shape, line - before, before_characters);
    before = line;
    before_characters = decode(lines[i], *encoding_by_name("UTF-8")).size() / 3;
  }
  book.plan(length > 0 ? length : nonblank);
  return book;
}

// The lines the book takes for its headings, near misses apart.
std::vector<std::int64_t> book_headings(const std::vector<std::string>& lines, std::int64_t length = 0) {
  const heading_book book = planned_book(lines, length);
  std::vector<std::int64_t> starts;
  for (const auto& e : book.entries())
    if (e.kind != line_kind::near_miss) starts.push_back(e.line);
  return starts;
}

// The same book's entries with their kinds: "1V 3H 9A", near misses "n".
std::string book_entries(const std::vector<std::string>& lines) {
  const heading_book book = planned_book(lines);
  std::string out;
  for (const auto& e : book.entries()) {
    const char* kind = e.kind == line_kind::volume      ? "V"
                       : e.kind == line_kind::special   ? "A"
                       : e.kind == line_kind::near_miss ? "n"
                                                        : "H";
    out += (out.empty() ? "" : " ") + std::to_string(e.line) + kind;
  }
  return out;
}

TEST(HeadingBook, JoinsTheLinesOfOneHeadingAndTellsTheirKinds) {
  const std::string b = ".";  // a line of body text
  struct row {
    const char* name;
    std::vector<std::string> book;
    const char* entries;
  };
  const std::string twenty = "朱元璋篇朱元璋篇朱元璋篇朱元璋篇朱元璋篇";  // 20 characters
  const std::vector<row> rows = {
      {"a subtitle of 20 characters joins its volume", {"第壹卷", twenty, "第一章 童年", b}, "1V 2V 3H"},
      {"one of 21 does not", {"第壹卷", twenty + "篇", "第一章 童年", b}, "1V 3H"},
      {"a titled volume keeps its first line of text", {"第一卷 风起", "引文", "第一章 童年", b}, "1V 3H"},
      {"a bare numeral above a subtitle and a chapter is a volume",
       {"壹", "甲篇", "第一章", b, b, b, "贰", "乙篇", "第一章", b, b, b, "叁", "丙篇", "第一章", b, b, b},
       "1V 2V 3H 7V 8V 9H 13V 14V 15H"},
      {"a heading again after one line of a site's text is one heading",
       {"第五回 甲", "网站", "第五回 甲", b, "第六回 乙", b},
       "1H 5H"},
      {"after two lines it is a repeat", {"第五回 甲", b, b, "第五回 甲", b, "第六回 乙", b}, "1H 4H 6H"},
      {"two volumes, then a chapter", {"第一部", "第一卷", "第一章", b}, "1V 2V 3H"},
      {"of two chapters in a row, the book's own sequence starts the piece",
       {"第一章", b, "第二章", b, "第九回十月", "", "第三章", b, "第四章", b},
       "1H 3H 7H 9H"},
      {"a prefixed first chapter starts a volume again, a prefixed fifth is text",
       {"第一回 甲", b, b, b, "第二回 乙", b, b, b, "书名2－篇名 第一回 丙", b, b, b, "他又读第五回 丁", b, b,
        b},
       "1H 5H 9H"},
      {"a line refused by a guard, in its place, is a near miss; out of place it is text",
       {"第一章", b, b, b, "第二章 说完。又走了", b, b, b, "第二章", b, b, b, "第九章 说完。又走了", b, b, b},
       "1H 5n 9H"},
      {"a table of contents further on starts nothing either",
       {"第一章", b, b, b, "第一卷", "第一章", "第二章", "第三章", "第一卷", "第一章", b, b, b, "第二章", b},
       "1H 9V 10H 14H"},
      {"an end marker is text", {"第一卷", "第一章", b, b, "第一卷终", "第二卷", "第一章", b}, "1V 2H 6V 7H"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(book_entries(r.book), r.entries);
  }
}

TEST(HeadingBook, TakesAShapeThatIsNotSelfEvidentOnlyAsTheBooksNumberedSequence) {
  using lines = std::vector<std::string>;
  auto chapters = [](const std::vector<std::string>& heads, int body) {
    lines out;
    for (const std::string& head : heads) {
      out.push_back(head);
      for (int i = 0; i < body; ++i) out.push_back(".");
    }
    return out;
  };
  struct row {
    const char* name;
    lines book;
    std::int64_t length;
    std::vector<std::int64_t> starts;
  };
  const std::vector<row> rows = {
      {"three lines of text after each", chapters({"一 甲", "二 乙", "三 丙"}, 3), 0, {1, 5, 9}},
      {"two are a list", chapters({"一 甲", "二 乙", "三 丙"}, 2), 0, {}},
      {"two members are no sequence", chapters({"一 甲", "二 乙"}, 5), 0, {}},
      {"only new starts are no sequence", chapters({"一 甲", "一 乙", "一 丙", "一 丁"}, 3), 0, {}},
      {"two numbers may be missing, not three",
       chapters({"一 甲", "二 乙", "三 丙", "六 丁", "十 戊"}, 3),
       0,
       {1, 5, 9, 13}},
      {"a tenth of the book is spread enough", chapters({"1.甲", "2.乙", "3.丙"}, 3), 80, {1, 5, 9}},
      {"less is a list in one chapter", chapters({"1.甲", "2.乙", "3.丙"}, 3), 81, {}},
      {"eight members need no spread",
       chapters({"1.甲", "2.乙", "3.丙", "4.丁", "5.戊", "6.己", "7.庚", "8.辛"}, 3),
       100000,
       {1, 5, 9, 13, 17, 21, 25, 29}},
      {"seven do", chapters({"1.甲", "2.乙", "3.丙", "4.丁", "5.戊", "6.己", "7.庚"}, 3), 100000, {}},
      {"a self-evident heading counts alone", chapters({"第三章 甲"}, 1), 0, {1}},
      {"a prefixed heading in its place between the book's own counts",
       chapters({"上卷 第一回 甲", "第二回 乙", "下卷 第三回 丙", "第四回 丁"}, 3),
       0,
       {1, 5, 9, 13}},
      {"out of its place it does not",
       chapters({"第一回 甲", "第二回 乙", "下卷 第四回 丙", "第五回 丁"}, 3),
       0,
       {1, 5, 13}},
      {"nor does a unit without 第 in that place",
       chapters({"第一回 甲", "第二回 乙", "三回 丙", "第四回 丁"}, 3),
       0,
       {1, 5, 13}},
      {"nor as the last of the book", chapters({"第一回 甲", "第二回 乙", "下卷 第三回 丙"}, 3), 0, {1, 5}},
      {"第 left out follows the book's own sequence",
       chapters({"第一回 甲", "二回 乙", "三回 丙", "五回 丁"}, 3),
       0,
       {1, 5, 9, 13}},
      {"a guarded title must be the very next",
       chapters({"第一章", "第二章 甲。", "第四章 乙。"}, 3),
       0,
       {1, 5}},
      {"two entries with nothing between are one heading",
       {"第一章", "", "第一章", ".", ".", "第二章", "."},
       0,
       {1, 6}},
      {"two headings with nothing between are no table",
       {"第一章", "第二章", ".", ".", "第三章", "."},
       0,
       {1, 5}},
      {"a sequence goes up twice at least", chapters({"一 甲", "一 乙", "二 丙"}, 3), 0, {}},
      {"a heading printed twice counts the text after the second",
       {"一 甲", ".", ".", ".", "二 乙", "", "二 乙", ".", ".", ".", "三 丙", ".", ".", "."},
       0,
       {1, 5, 11}},
      {"three prefixed headings make a prefixed section a heading",
       chapters({"第一回 甲", "第二回 乙", "甲 第一回 丙", "乙 第一回 丁", "丙 第一回 戊", "丙 前言"}, 3),
       0,
       {1, 5, 9, 13, 17, 21}},
      {"two do not",
       chapters({"第一回 甲", "第二回 乙", "甲 第一回 丙", "乙 第一回 丁", "丙 前言"}, 3),
       0,
       {1, 5, 9, 13}},
      {"bare numbers two to a chapter number its sections",
       {"第一章", "一", ".", ".",      ".",  "二", ".", ".", ".",  "第二章", "一", ".", ".",      ".", "二",
        ".",      ".",  ".", "第三章", "一", ".",  ".", ".", "二", ".",      ".",  ".", "第四章", "."},
       0,
       {1, 10, 19, 28}},
      {"a prefix the book gives its headings vouches for another unit behind it",
       chapters({"【书名】【第一辑 甲】", "【书名】【第二集 乙】", "【书名】【第三辑 丙】",
                 "【书名】【第四辑 丁】"},
                3),
       0,
       {1, 5, 9, 13}},
      {"three are a table of contents; the real first starts again",
       {"第一章", "第二章", "第三章", "第一章", ".", "第二章", "."},
       0,
       {4, 6}},
      {"a table of something else under a heading is text",
       {"第五章", "一、甲", "二、乙", "三、丙", ".", ".", ".", "第六章", "."},
       0,
       {1, 8}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(book_headings(r.book, r.length), r.starts);
  }
}

TEST(HeadingBook, NotesAtMostItsLimitOfLines) {
  heading_book book;
  const line_shape shape = read_line_shape_utf8("第一章");
  for (std::size_t i = 0; i < heading_book::most_lines; ++i)
    ASSERT_TRUE(
        book.add(static_cast<std::int64_t>(2 * i + 1), static_cast<std::int64_t>(2 * i + 1), shape, 2, 1));
  EXPECT_FALSE(book.full());
  EXPECT_EQ(book.noted_until(), 0);
  EXPECT_FALSE(book.add(2 * static_cast<std::int64_t>(heading_book::most_lines) + 1, 1, shape, 2, 1));
  EXPECT_TRUE(book.full());
  EXPECT_EQ(book.noted_until(), 2 * static_cast<std::int64_t>(heading_book::most_lines) - 1);
}

// A source of several MiB is surveyed as two halves at once: the book is
// the same as from one pass, whatever the line ends, wherever the cut.
TEST(HeadingBook, TwoHalvesOfASourceMakeTheSameBookAsOnePass) {
  std::mt19937 random(7);
  for (const char* name : {"GB18030", "UTF-8", "UTF-16BE"}) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE(std::string(name) + " " + (end[0] == '\n' ? "LF" : end[1] ? "CR LF" : "CR"));
      const encoding enc = *encoding_by_name(name);
      // Just past the size read as two halves, in the encoding's bytes.
      std::string bytes;
      // Chapters written without 第 (a shape the book must vouch for, by
      // the body after each) but the first and every seventh.
      for (int chapter = 1; bytes.size() < survey_halves_from + 4096; ++chapter) {
        std::string text = (chapter == 1       ? "第"
                            : chapter % 7 == 0 ? "上卷 第"
                                               : "") +
                           std::to_string(chapter) + "回　标题" + end;
        const int lines = 20 + static_cast<int>(random() % 40);
        for (int i = 0; i < lines; ++i)
          text += i % 5 == 0 ? std::string(end) : "　　正文" + std::string(random() % 200, 'x') + end;
        bytes += *encode(text, enc);
      }
      testing::temp_folder tmp;
      const std::string path = tmp.write("book.txt", bytes);
      auto source = file::open_source(path);
      ASSERT_TRUE(source);
      const shape_filter filter(enc);
      auto survey = [&](std::uint64_t size) {
        heading_book book;
        const book_survey s = survey_book(
            source->file, 0, size, enc, filter, [] { return false; }, book);
        EXPECT_EQ(s.outcome, survey_outcome::done);
        EXPECT_EQ(s.parts, size == 0 ? 1 : 2);
        book.plan(s.nonblank);
        std::vector<std::pair<std::int64_t, line_kind>> entries;
        for (const auto& e : book.entries()) entries.emplace_back(e.line, e.kind);
        return std::make_pair(s.nonblank, entries);
      };
      const auto halves = survey(source->size), whole = survey(0);
      EXPECT_EQ(halves.first, whole.first);
      EXPECT_EQ(halves.second, whole.second);
      EXPECT_GT(whole.second.size(), 500u);
      EXPECT_EQ(whole.second.back().first, halves.second.back().first);
    }
  }
}

TEST(HeadingForm, ReadsNumeralsInEveryForm) {
  const std::vector<std::pair<std::u16string_view, std::int64_t>> numerals = {
      {u"十", 10},
      {u"十一", 11},
      {u"二十", 20},
      {u"一百零五", 105},
      {u"两千零一十", 2010},
      {u"一万二千三百四十五", 12345},
      {u"壹仟贰佰", 1200},
      {u"叄拾叄", 33},
      {u"一〇五", 105},
      {u"０７", 7},
      {u"3000", 3000},
      {u"", -1},
      {u"十x", -1},
      {u"廿三", 23},
      {u"卅", 30},
      // 万 and 亿 groups; the ceiling exactly and one past it in each form.
      {u"一亿二千万", 120000000},
      {u"十万零五", 100005},
      {u"三千五百万", 35000000},
      {u"万", 10000},
      {u"一万万", 100000000},
      {u"一万亿", numeral_ceiling},
      {u"两亿零三万", 200030000},
      {u"九亿九千九百九十九万九千九百九十九", numeral_ceiling - 1},
      {u"十亿", numeral_ceiling},
      {u"十亿零一", numeral_ceiling},
      {u"九亿亿", numeral_ceiling},
      {u"九亿亿亿亿亿", numeral_ceiling},
      {u"一〇〇〇〇〇〇〇〇〇", numeral_ceiling},
      {u"一〇〇〇〇〇〇〇〇一", numeral_ceiling},
      {u"1000000000", numeral_ceiling},
      {u"1000000001", numeral_ceiling},
      {u"9999999999999", numeral_ceiling},
      {u"１０００００００００１", numeral_ceiling}};
  for (const auto& [digits, value] : numerals) EXPECT_EQ(numeral_value(digits), value);
  EXPECT_EQ(numeral_ceiling, 1000000000);
  // However long, a numeral stays at the ceiling.
  EXPECT_EQ(numeral_value(std::u16string(4000, u'亿')), numeral_ceiling);
  EXPECT_EQ(numeral_value(u"九" + std::u16string(2000, u'万')), numeral_ceiling);
  EXPECT_EQ(read_heading_utf8("第9999999999999章").number, numeral_ceiling);
}

// A host that counts how often it is asked to stop, and asks at the
// `stop_at`-th time (never with 0).
struct counting_host : fixed_keywords {
  explicit counting_host(int stop_at = 0) : fixed_keywords({}), stop_at_(stop_at) {}
  bool stop_requested() override { return ++asked == stop_at_; }
  int asked = 0;

 private:
  int stop_at_;
};

// How a pattern judges a UTF-8 line: "H" heading, "-" body, "stop" or
// "undecided" when it ends the run there.
std::string judged(const std::string& pattern, const std::string& line, split_host& host) {
  const auto rule =
      make_heading_rule({heading_choice::rule::pattern, pattern}, *encoding_by_name("UTF-8"), {}).rule;
  rule->refresh(host);
  try {
    return rule->classify(line, 1) == line_kind::chapter ? "H" : "-";
  } catch (const rule_halt& halt) {
    return halt.undecided ? "undecided" : "stop";
  }
}

TEST(PatternRule, ALineItCannotDecideOrAStopEndsTheMatch) {
  const std::string nested = "(a+)+$", line = std::string(40, 'a') + "b";
  // Without a stop, ICU gives up at the step limit: the host was asked at
  // every step up to it.
  counting_host patient;
  EXPECT_EQ(judged(nested, line, patient), "undecided");
  EXPECT_EQ(patient.asked, pattern_step_limit);
  // A stop is seen at the very step it is asked for, in a long match and in
  // the first window of a long line.
  counting_host stopping(3);
  EXPECT_EQ(judged(nested, line, stopping), "stop");
  EXPECT_EQ(stopping.asked, 3);
  const auto rule =
      make_heading_rule({heading_choice::rule::pattern, nested}, *encoding_by_name("UTF-8"), {}).rule;
  counting_host stopping_in_parts(1);
  rule->refresh(stopping_in_parts);
  rule->begin_parts();
  EXPECT_THROW(rule->part(line, 0, false), rule_halt);
  EXPECT_EQ(stopping_in_parts.asked, 1);
}

// A line that lacks the pattern's ideographs in their order is not
// searched: `.*第.*章.*` takes no step on a paragraph where no 章 follows a
// 第, where ICU alone would try every start and run out of steps. Which
// lines match is what ICU says: the same pattern in a group, which the
// pre-test does not look into, judges every line alike.
TEST(PatternRule, SkipsALineWithoutThePatternsIdeographsAndJudgesTheRestAsICUDoes) {
  std::string paragraph = "文章写好了。";
  while (paragraph.size() < 6000 * 3) paragraph += "他第一次看见这样的山水，心里欢喜。";
  counting_host host;
  EXPECT_EQ(judged(".*第.*章.*", paragraph, host), "-");
  EXPECT_EQ(host.asked, 0);
  EXPECT_EQ(judged(".*第.*章.*", paragraph + "第二章", host), "H");

  const std::vector<std::string> patterns = {"第.*章",     "^第.+章$",   "第?章",      "第*章",   "第{0,1}章",
                                             "第+章",      "[第]章",     "[^]第]章",   "第|章",   "(?i)第章",
                                             "(?x)第 ?章", "\\Q第\\E章", "\\第章",     "(第)?章", "(?:第)章",
                                             "(?<!第)章",  "章(?=第)",   "\\x{7B2C}章"};
  const std::vector<std::string> lines = {
      "第一章", "章", "第", "一章第", "章第一", "第第章章", "]章", "\\第章", "\U00020000第\U00020000章"};
  for (const std::string& pattern : patterns) {
    for (const std::string& line : lines) {
      SCOPED_TRACE(pattern + " on " + line);
      // A pattern with | is always searched: the answer without the skip.
      EXPECT_EQ(judged(pattern, line, host), judged("(?:" + pattern + ")|[^\\s\\S]", line, host));
    }
  }
}

TEST(PatternRule, RefusesAnEmptyPatternWithASentence) {
  const auto empty = pattern_problem("");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->reason.find("U_"), std::string::npos) << empty->reason;
  EXPECT_EQ(empty->offset, 0);
  EXPECT_FALSE(pattern_problem("^"));
  EXPECT_EQ(make_heading_rule({heading_choice::rule::pattern, "第("}, {}, {}).error->reason,
            "U_REGEX_MISMATCHED_PAREN");
}

TEST(HeadingTest, NeverMatchesInsideACharacter) {
  const encoding gbk = *encoding_by_name("GBK");
  heading_test backslash(gbk);
  backslash.set_keywords({"\\"});
  // 誠 is D5 5C in GBK: its trail byte is "\" but the line holds no "\".
  EXPECT_FALSE(backslash("\xD5\x5C"));
  EXPECT_TRUE(backslash("\xD5\x5C\\"));
  // A two-byte keyword straddling two characters: 摆第 is B0 DA B5 DA, and
  // its middle bytes DA B5 are 诘, which the line does not hold.
  heading_test straddle(gbk);
  straddle.set_keywords({"诘"});
  EXPECT_FALSE(straddle("\xB0\xDA\xB5\xDA"));
  EXPECT_TRUE(straddle("\xB0\xDA\xDA\xB5"));

  // Big5: 許 is B3 5C.
  const encoding big5 = *encoding_by_name("Big5");
  heading_test big5_backslash(big5);
  big5_backslash.set_keywords({"\\"});
  EXPECT_FALSE(big5_backslash("\xB3\x5C"));

  // UTF-16: 第 is 2C 7B in UTF-16LE; "{" (7B 00) must not match at an odd offset.
  const encoding utf16 = *encoding_by_name("UTF-16LE");
  heading_test brace(utf16);
  brace.set_keywords({"{"});
  EXPECT_FALSE(brace(std::string("\x2C\x7B\x00\x4E", 4)));
  EXPECT_TRUE(brace(std::string("\x2C\x7B\x7B\x00", 4)));
}

TEST(LineRules, FindsEachKindOfLineEnd) {
  const line_rules bytes(*encoding_by_name("UTF-8"));
  struct example {
    std::string text;
    std::size_t length, terminator;
  };
  const std::vector<example> examples = {
      {"ab\r\ncd", 2, 2}, {"ab\ncd", 2, 1}, {"ab\rcd", 2, 1}, {"ab\r\r\n", 2, 1},
      {"ab", 2, 0},       {"\n", 0, 1},     {"ab\r", 2, 1},   {"", 0, 0},
  };
  for (const auto& ex : examples) {
    const auto end = bytes.find_end(ex.text);
    EXPECT_EQ(end.length, ex.length) << ex.text;
    EXPECT_EQ(end.terminator, ex.terminator) << ex.text;
  }
  const line_rules wide(*encoding_by_name("UTF-16LE"));
  // 上 is 0A 4E: its 0x0A byte is not a line end.
  const auto end = wide.find_end(std::string("\x0A\x4E\x0D\x00\x0A\x00x\x00", 8));
  EXPECT_EQ(end.length, 2u);
  EXPECT_EQ(end.terminator, 4u);
}

// The line-end search also says whether a line holds the probe pair; lines
// of every length around the sixteen-byte steps, the pair at every place.
TEST(LineRules, TellsWhetherALineHoldsTheProbe) {
  const line_rules rules(*encoding_by_name("GB18030"));
  const probe_bytes pair{0xD5, 0xC2}, single{0xD5, -1};
  for (std::size_t length = 0; length <= 40; ++length) {
    for (const char* end : {"\r\n", "\n", ""}) {
      const std::string after = std::string(end) + "\xD5\xC2 more text after the line \xD5\xC2";
      SCOPED_TRACE("length " + std::to_string(length) + (*end ? "" : ", no line end"));
      const std::string plain(length, 'a');
      const std::string text = plain + (*end ? after : "");
      EXPECT_FALSE(rules.find_end(text, pair).holds_probe);
      EXPECT_FALSE(rules.find_end(text, single).holds_probe);
      EXPECT_TRUE(rules.find_end(text).holds_probe);  // no probe: nothing is ruled out
      for (std::size_t at = 0; at < length; ++at) {
        std::string line = plain;
        line[at] = '\xD5';
        const bool whole = at + 1 < length;
        if (whole) line[at + 1] = '\xC2';
        const auto found = rules.find_end(line + (*end ? after : ""), pair);
        EXPECT_EQ(found.length, length);
        EXPECT_EQ(found.holds_probe, whole) << "pair at " << at;
        EXPECT_TRUE(rules.find_end(line + (*end ? after : ""), single).holds_probe) << "byte at " << at;
      }
    }
  }
  // The two bytes the wrong way round, or apart, are not the pair.
  EXPECT_FALSE(rules.find_end(std::string(20, 'a') + "\xC2\xD5" + "\n", pair).holds_probe);
  EXPECT_FALSE(rules.find_end(std::string(20, 'a') + "\xD5 \xC2" + "\n", pair).holds_probe);
}

// The survey's index of a block says of each line what a look at the line
// alone says, wherever the line stands among the index's words of 64 bytes:
// where it ends, whether it holds 第, its indent and the separators after
// it; and
// the filter never skips a line for what the index told it.
TEST(LineIndex, TellsOfEachLineWhatTheLineAloneTells) {
  const std::vector<std::string> pieces = {
      "第",
      "一",
      "　",
      " ",
      "。",
      "章",
      "\t",
      "前言",
      "x",
      "𠀀",
      "\r\n",
      "\n",
      "\r",
      "笑",
      std::string(1, '\0'),
      "　　　　　",  // more blanks than the indent's steps without a loop
      "这一行很长这一行很长这一行很长这一行很长这一行很长"};  // lines past two words
  // ISO-8859-1 has neither 第 nor U+3000.
  for (const char* name : {"GB18030", "UTF-8", "Big5", "ISO-8859-1"}) {
    SCOPED_TRACE(name);
    const encoding enc = *encoding_by_name(name);
    const shape_filter filter(enc);
    // First each piece at and around the ends of the index's words, the
    // block's last byte among them; then pieces at random.
    std::vector<std::string> blocks;
    for (std::size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 62, 63, 64, 65, 126, 127, 128, 129, 191, 192, 193})
      for (const std::string& piece : pieces)
        if (const auto bytes = encode(std::string(n, 'x') + piece, enc)) blocks.push_back(*bytes);
    if (enc.layout == char_layout::gb18030) {
      // Runs of U+3000's byte that do not pair up, a trail byte before
      // U+3000, four-byte characters (U+00A0 among them) and a lead byte
      // before a byte under 0x80.
      for (const char* raw :
           {"\xA1\xA1\xA1\r\n", "\xA1\xA1\xA1\xA1\r\n", " \xA1\xA1\xA1\xB5\xDA\n",
            "\xB0\xA1\xA1\xA1\xA1\xA1x\n", "\xA1\xA1\x81\x30\x84\x36\xCB\xFB\xCB\xB5\n",
            "\xA1\xA1\xCB\xFB\x81\x30\xA1\xA1\xD0\xF2\n", "\xA1\xA1\xCB\xFB\xA1\n\xA1\xA1\xA1\n",
            "\xA3\xA1\xA1\xA1\xA1\xA1\xD0\xF2\n", "\xA1\xA1\xA1\xA1\xA1\xB0\xCB\xFB\xA1\xB1\n",
            "\xA1\xA1\xCB\xFB\x81\x30x\xB0\xA1\xA1\xCB\xFB\n"})
        for (std::size_t n : {0, 1, 61, 62, 63, 64}) blocks.push_back(std::string(n, 'x') + "\n" + raw + raw);
    }
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
      std::string block;
      const std::size_t wanted = random() % 300;
      while (block.size() < wanted) {
        const auto bytes = encode(pieces[random() % pieces.size()], enc);
        if (bytes) block += *bytes;
      }
      blocks.push_back(block);
    }
    std::optional<line_index> index = filter.index();
    ASSERT_TRUE(index);
    for (std::size_t round = 0; round < blocks.size(); ++round) {
      std::string block = blocks[round];
      const std::size_t size = block.size();
      block.resize(size + line_index::padding);
      // 16 bytes at a time and, where the processor can, 32; the index
      // is used again, as the survey does, over blocks of every size.
      for (const bool wide : {false, true}) {
        if (wide && !line_index::wide_lanes()) continue;
        SCOPED_TRACE(wide ? "32 bytes at a time" : "16 bytes at a time");
        index->build({block.data(), size}, wide);
        // Without 第 every line is looked at.
        const bool attended = filter.attend(*index);
        EXPECT_EQ(attended, enc.layout != char_layout::single_byte);
        for (std::size_t at = 0; at <= size;) {
          const line_scan alone = filter.scan({block.data() + at, size - at});
          const line_scan indexed = index->line(at);
          ASSERT_EQ(indexed.end.length, alone.end.length) << "round " << round << " at " << at;
          EXPECT_EQ(indexed.end.terminator, alone.end.terminator) << "round " << round << " at " << at;
          EXPECT_EQ(indexed.end.holds_probe, alone.end.holds_probe) << "round " << round << " at " << at;
          EXPECT_EQ(indexed.indent, alone.indent) << "round " << round << " at " << at;
          EXPECT_EQ(indexed.separators, alone.separators) << "round " << round << " at " << at;
          const std::string_view line(block.data() + at, alone.end.length);
          const line_scan unknown{alone.end};
          if (filter.may_be_shaped(line, unknown)) {
            EXPECT_TRUE(filter.may_be_shaped(line, indexed)) << "round " << round << " at " << at;
          }
          // The survey's quick look says what the slow one says.
          const line_look looked = filter.look(*index, at);
          const bool blank = alone.indent == line.size();
          EXPECT_EQ(looked.length, line.size()) << "round " << round << " at " << at;
          EXPECT_EQ(looked.terminator, alone.end.terminator) << "round " << round << " at " << at;
          EXPECT_EQ(looked.blank, blank) << "round " << round << " at " << at;
          EXPECT_EQ(looked.may_be_shaped, !blank && filter.may_be_shaped(line, alone))
              << "round " << round << " at " << at;
          // What the pass over the words says of the line: one end, where
          // it ends; blank or not; looked at if it may have a shape.
          const std::size_t end = at + line.size(), after = end + alone.end.terminator;
          if (attended && alone.end.terminator > 0) {
            EXPECT_EQ(index->lines_in(at, after), 1u) << "round " << round << " at " << at;
            EXPECT_EQ(index->last_end(at, after), end) << "round " << round << " at " << at;
            EXPECT_EQ(index->nonblank_in(at, after), blank ? 0u : 1u) << "round " << round << " at " << at;
            if (looked.may_be_shaped) {
              EXPECT_EQ(index->next_attention(at, after), end) << "round " << round << " at " << at;
            }
          } else if (attended) {
            EXPECT_EQ(index->lines_in(at, size), 0u) << "round " << round << " at " << at;
          }
          if (alone.end.terminator == 0) break;
          at += alone.end.length + alone.end.terminator;
        }
      }
    }
  }
}

// Ordinary prose is counted, never looked at line by line: the pass that
// spares the survey its look tells U+3000 from a trail byte followed by
// U+3000's first byte (！” or 啊、 in GB18030), at each place in a word. A
// real U+3000 after such a trail byte is still one. A numeral opens many
// lines of prose; only what follows it may make a heading of the line.
TEST(LineIndex, OrdinaryProseIsNeverLookedAt) {
  const std::vector<std::pair<std::string, bool>> lines = {
      {"　　他说：“好！”她笑了。", false},
      {"　　他看着她，笑了笑。", false},
      {"　　老人说，“天黑了……”", false},
      {"她回家了。", false},
      {"　　啊、好的。", false},
      {"　　他說：「好！」她笑了。", false},
      {"　　啊　前言", true},
      {"第一章 开始", true},
      {"　　十二", true},
      {"　　一个人走了。", false},
      {"三月里，花开了。", false},
      {"　　一、风起", true},
      {"　　三x", true},  // ends a byte after the numeral
      {"　　三xy", false}};
  for (const char* name : {"GB18030", "UTF-8", "Big5"}) {
    SCOPED_TRACE(name);
    const encoding enc = *encoding_by_name(name);
    const shape_filter filter(enc);
    std::optional<line_index> index = filter.index();
    for (const auto& [line, looked_at] : lines) {
      SCOPED_TRACE(line);
      const auto bytes = encode(line, enc);
      if (!bytes) continue;  // simplified characters in Big5
      for (std::size_t n = 0; n < 64; ++n) {
        std::string block = std::string(n, 'x') + "\r\n";
        for (int i = 0; i < 3; ++i) block += *bytes + "\r\n";
        const std::size_t size = block.size();
        block.resize(size + line_index::padding);
        index->build({block.data(), size});
        ASSERT_TRUE(filter.attend(*index));
        EXPECT_EQ(index->next_attention(n + 2, size), looked_at ? n + 2 + bytes->size() : size)
            << "after " << n;
        EXPECT_EQ(index->lines_in(0, size), 4u);
        EXPECT_EQ(index->nonblank_in(0, size), n > 0 ? 4u : 3u);
      }
    }
  }
}

// Whatever the list, a line the probe rules out is one the test rejects.
TEST(HeadingTest, ALineWithoutTheProbeIsNeverAHeading) {
  const encoding gbk = *encoding_by_name("GBK");
  const line_rules rules(gbk);
  const std::vector<std::string> lines = {
      "第十二章 风起", "　　他读完了第一篇文章。", "章", "第", "Chapter 7", "abc", ""};
  const std::vector<std::vector<std::string>> lists = {{"第", "章"},     {"章"}, {"第十二章"}, {"C"},
                                                       {"Chapter", "7"}, {},     {""},         {"们"}};
  for (const auto& keywords : lists) {
    heading_test test(gbk, *encode("　　他读完了第一篇文章。第十二章", gbk));
    test.set_keywords(keywords);
    for (const auto& utf8 : lines) {
      const std::string line = *encode(utf8, gbk);
      SCOPED_TRACE(utf8);
      if (test(line)) {
        EXPECT_TRUE(rules.find_end(line + "\r\n", test.probe()).holds_probe);
      }
    }
  }
}

TEST(LineRules, BlankMeansOnlySpacesTabsAndIdeographicSpaces) {
  for (const char* name : {"GB18030", "Big5", "UTF-8", "UTF-16LE", "UTF-16BE"}) {
    SCOPED_TRACE(name);
    const encoding enc = *encoding_by_name(name);
    const line_rules rules(enc);
    EXPECT_TRUE(rules.is_blank(""));
    EXPECT_TRUE(rules.is_blank(*encode(" \t　 ", enc)));
    EXPECT_FALSE(rules.is_blank(*encode("　x", enc)));
    // A no-break space is text, where the encoding has one.
    if (const auto nbsp = encode("\xC2\xA0", enc)) {
      EXPECT_FALSE(rules.is_blank(*nbsp));
    }
  }
}

}  // namespace
}  // namespace quorrel

namespace quorrel {
namespace {

// Whatever byte of a keyword the search starts from (it picks the rarest in
// a sample of the text), every place the keyword may sit is found.
TEST(HeadingTest, FindsKeywordsAtEitherEndWhicheverByteItProbes) {
  const encoding gbk = *encoding_by_name("GBK");
  const std::string di = "\xB5\xDA", zhang = "\xD5\xC2";  // 第, 章
  const std::vector<std::string> samples = {"", std::string(100, '\xB5'), std::string(100, '\xDA'),
                                            std::string(100, '\xD5') + std::string(50, '\xDA')};
  for (const auto& sample : samples) {
    heading_test test(gbk, sample);
    test.set_keywords({"第", "章"});
    EXPECT_TRUE(test(di + zhang));
    EXPECT_TRUE(test(zhang + "x" + di));
    EXPECT_TRUE(test("\x80\xB5\xDA" + zhang));   // 第 after a stray byte
    EXPECT_FALSE(test("\xB5\xB5\xDA" + zhang));  // B5 B5 is a character: 第 does not start there
    EXPECT_FALSE(test(di));
    EXPECT_FALSE(test("\xDA" + zhang + "\xB5"));  // halves at the ends
    EXPECT_FALSE(test("\xB0" + di + zhang));      // B0 B5, DA D5: both keywords misaligned
  }
}

// The test keeps its place in the line as it goes (the character walk goes
// on from the last candidate, and from one part of a line to the next), so
// it is checked against the plain definition: some place where the
// keyword's bytes sit and, walking from the line's start, a character starts.
// Lines are built from pieces that put keyword bytes across characters
// everywhere; the parts are as small as one byte.
TEST(HeadingTest, AgreesWithAWalkFromTheLineStartWholeAndInParts) {
  struct example {
    const char* encoding_name;
    std::vector<std::string> pieces;
    std::vector<std::vector<std::string>> keyword_lists;
  };
  const std::vector<example> examples = {
      {"GB18030",
       {"\xB0\xB5", "\xDA\xB0", "\xB5\xDA", "\xD5\xC2", "\x81\x30\xB5\x30", "\x80", "a", "\xB5", "\xD5\x5C"},
       {{"第"}, {"第", "章"}, {"\\"}}},
      {"GBK",
       {"\xB0\xB5", "\xDA\xB0", "\xB5\xDA", "\xD5\xC2", "\xB5", "\xD5\x5C", " "},
       {{"第", "章"}, {"\\"}}},
      {"Big5",
       {"\xA4\xB2", "\xC4\xA4", "\xB2\xC4", "\xB3\xB9", "\xB3\x5C", "\\", "\xB2"},
       {{"第"}, {"第", "章"}, {"\\"}}},
      {"UTF-8", {"\xE7\xAC\xAC", "\xE7", "\xAC", "a", "\xE7\xAB\xA0"}, {{"第"}, {"第", "章"}}},
      {"UTF-16LE",
       {"\x2C\x7B", "\x7B\x2C", std::string("{\0", 2), "\x3D\xD8", "\x00\xDE"},
       {{"{"}, {"第", "{"}}},
  };
  std::mt19937 random(7);
  for (const auto& ex : examples) {
    const encoding enc = *encoding_by_name(ex.encoding_name);
    const line_rules rules(enc);
    for (const auto& keywords : ex.keyword_lists) {
      heading_test test(enc);
      test.set_keywords(keywords);
      for (int n = 0; n < 300; ++n) {
        std::string line;
        const auto pieces = random() % 40;
        for (std::size_t i = 0; i < pieces; ++i) line += ex.pieces[random() % ex.pieces.size()];
        bool expected = true;
        for (const auto& keyword : keywords) {
          const std::string bytes = *encode(keyword, enc);
          bool found = false;
          for (auto at = line.find(bytes); at != std::string::npos && !found; at = line.find(bytes, at + 1))
            found = rules.starts_character(line, at);
          expected = expected && found;
        }
        SCOPED_TRACE(std::string(ex.encoding_name) + " " + keywords.front() + " line of " +
                     std::to_string(line.size()));
        EXPECT_EQ(test(line), expected);
        for (const std::size_t block : {1, 2, 3, 5, 8, 64}) {
          test.begin_parts();
          std::string window;
          std::size_t base = 0;
          for (std::size_t fed = 0;;) {
            const std::size_t take = std::min(block, line.size() - fed);
            window.append(line, fed, take);
            fed += take;
            const std::size_t next = test.part(window, base, fed == line.size());
            if (fed == line.size()) break;
            ASSERT_LE(window.size() - (next - base), test.longest() + 8) << "kept after part";
            window.erase(0, next - base);
            base = next;
          }
          EXPECT_EQ(test.found(), expected) << "in parts of " << block;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quorrel

namespace quorrel {
namespace {

TEST(LineRules, KnowsWhereCharactersStart) {
  struct example {
    const char* encoding_name;
    std::string line;
    std::vector<std::size_t> starts;  // every position where a character starts
  };
  const std::vector<example> examples = {
      {"UTF-8",
       "a\xE7\xAC\xAC"
       "b",
       {0, 1, 4, 5}},
      {"GBK",
       "a\xB5\xDA\xD5\x5C"
       "b",
       {0, 1, 3, 5, 6}},
      {"GB18030",
       "\x81\x30\x81\x30"
       "a",
       {0, 4, 5}},
      {"Big5",
       "\xB3\x5C"
       "a",
       {0, 2, 3}},
      {"UTF-16LE", std::string("a\0\x3D\xD8\x00\xDE", 6), {0, 2, 6}},  // a, U+1F600
  };
  for (const auto& ex : examples) {
    const line_rules rules(*encoding_by_name(ex.encoding_name));
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos <= ex.line.size(); ++pos)
      if (rules.starts_character(ex.line, pos)) starts.push_back(pos);
    std::vector<std::size_t> expected = ex.starts;
    if (expected.back() != ex.line.size()) expected.push_back(ex.line.size());
    EXPECT_EQ(starts, expected) << ex.encoding_name;
  }
}

}  // namespace
}  // namespace quorrel
