#pragma once
// Headings by their form, on decoded text (UTF-16 code units): what one
// line looks like on its own. Which of these lines start a piece is for the
// whole book to say (core/heading_book.h): a form that is not self-evident
// counts only where the book uses it as a numbered sequence.
//
// After leading and trailing blanks (space, tab, U+3000, U+00A0, U+FEFF)
// and ornaments (◆ ◇ ■ □ ● ★ ☆ ※), optionally inside one pair of 【】 or [ ]:
//   plain:     第 + number + 章 回 节 節 话 話 (chapter) or 卷 部 集 册 冊 篇
//              (volume), or 卷 + number (卷一, 卷之一): self-evident
//   section:   序章 序言 序 楔子 引子 前言 引言 尾声 后记 附录 跋 … (and the
//              Traditional forms), alone, with a number (番外三, 附录一), or
//              followed by a separator and a title: self-evident
//   prefixed:  a short prefix, then a plain head (上卷 第一回, 《书名》第一章)
//   bare_unit: number + chapter or volume unit, 第 left out (二回　标题)
//   odd_unit:  第 + number + another unit (第一幕, 第二十炮)
//   numeral:   a number alone or before a title (一 标题, 一、标题, 1.标题,
//              1标题, 【01】, 22)
//   named:     a short name and a number (蛙九, 书名1)
//   latin:     part or chapter and a number (part 6, Chapter 3)
// where a number is Chinese numerals (〇 零 一 … 十 廿 卅 百 千 万 亿, also
// 壹 贰 … 拾 佰 仟 and Traditional forms) or ASCII or full-width digits,
// blanks allowed around it.
//
// Guards against body text that starts the same way: the line is at most 40
// characters, holds no 。, and the unit does not begin a longer word (节课
// 回合 回事 部分 集合 章节 篇张 and Traditional forms). A unit glued to 终 or
// 完 (第三卷终) is an end marker, not a heading; a line holding two heads of
// one unit (第一回　甲乙 第二回　丙丁) is a line of a table of contents.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/line_kind.h"

namespace quorrel {

enum class heading_shape : std::uint8_t {
  none,
  plain,
  section,
  prefixed,
  prefixed_section,
  bare_unit,
  odd_unit,
  numeral,
  named,
  latin
};

// Why a line of a heading's shape was refused on its own.
enum class heading_guard : std::uint8_t {
  none,
  too_long,       // more than 40 characters
  trailing_stop,  // a 。 at its very end (第八章 标题。)
  full_stop,      // a 。 inside it
  longer_word,    // the unit begins a longer word (第一节课)
};

struct line_shape {
  heading_shape shape = heading_shape::none;
  line_kind kind = line_kind::body;  // chapter, volume or special: what it would start
  heading_guard guard = heading_guard::none;
  std::int64_t number = -1;  // the number that counts it: 第一章 第二节 is 1, 第十一册第八十三章 83
  std::int64_t volume = -1;  // the volume's number when one comes first on the line (11 above)
  // Lines of one group can form a sequence: the same unit (第一回, 上卷 第二回
  // and 三回 are one group), the same separator after a bare number, the
  // same name before one.
  std::uint32_t group = 0;
  std::uint32_t prefix = 0;  // a hash of a prefixed head's prefix (0: none)
  bool contents = false;     // two heads of one unit: a line of a table of contents
  bool titled = false;       // words follow the head (第一卷 风起, not 第一卷)
  std::int64_t inner = -1;   // a second chapter unit's number on the line (第一章 第二节: 2)
};

line_shape read_line_shape(std::u16string_view line);

// The self-evident reading alone, as a run without the book's survey
// decides a line: plain and section shapes, near_miss when a guard refused
// one.
struct heading_form {
  line_kind kind = line_kind::body;
  line_kind shape = line_kind::body;  // the kind before the guards: a near miss's too
  bool numbered = false;
  std::int64_t number = 0;  // the number after 第, 卷 or 番外, when numbered
};

heading_form read_heading(std::u16string_view line);
// The same for a line in UTF-8 (invalid sequences read as U+FFFD).
heading_form read_heading_utf8(std::string_view line);
line_shape read_line_shape_utf8(std::string_view line);

// The value of a numeral in any of the forms above (一百零五, 壹佰零伍, 105,
// １０５, 一〇五, 廿三, 一亿二千万); -1 when `digits` is not one. A value past
// the ceiling reads as the ceiling: never negative, however long the numeral.
inline constexpr std::int64_t numeral_ceiling = 1000000000;
std::int64_t numeral_value(std::u16string_view digits);

}  // namespace quorrel
