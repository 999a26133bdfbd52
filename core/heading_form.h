#pragma once
// The heading rule by form, on decoded text (UTF-16 code units).
//
// After leading blanks (space, tab, U+3000, U+00A0), optionally inside one
// pair of 【】 or [ ], a heading is
//   chapter:  第 + number + 章 回 节 節 话 話
//   volume:   第 + number + 卷 部 集 册 冊 篇, or 卷 + number (卷一, 卷之一)
//   special:  序章 序言 序 楔子 引子 前言 引言 尾声 尾聲 后记 後記 终章 終章
//             番外 外传 外傳 完本感言, alone, 番外 with a number, or followed
//             by a separator and a title
// where a number is Chinese numerals (〇 零 一 … 十 百 千 万 亿, also
// 壹 贰 … 拾 佰 仟 and Traditional forms) or ASCII or full-width digits,
// blanks allowed around it; after the unit comes the end, a separator
// (blanks ：: 、 . ． - — ·) and/or a title.
//
// Guards against body text that starts the same way: the trimmed line is at
// most 40 characters, holds no 。, and the unit does not begin a longer word
// (节课 回合 回事 部分 集合 章节 篇张 and Traditional forms). A line refused
// only by a guard is a near miss.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/heading_rule.h"

namespace quorrel {

struct heading_form {
  line_kind kind = line_kind::body;
  line_kind shape = line_kind::body;  // the kind before the guards: a near miss's too
  bool numbered = false;
  std::int64_t number = 0;  // the number after 第, 卷 or 番外, when numbered
};

heading_form read_heading(std::u16string_view line);
// The same for a line in UTF-8 (invalid sequences read as U+FFFD).
heading_form read_heading_utf8(std::string_view line);

// The value of a numeral in any of the forms above (一百零五, 壹佰零伍, 105,
// １０５, 一〇五); -1 when `digits` is not one.
std::int64_t numeral_value(std::u16string_view digits);

}  // namespace quorrel
