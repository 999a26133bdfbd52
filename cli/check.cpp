#include "cli/check.h"

#include <algorithm>

#include "core/heading_form.h"

namespace quorrel::cli {
namespace {

// Fewer lines than this (the heading included) make a piece worth a look.
constexpr std::int64_t few_lines = 3;

}  // namespace

// A new start at 1 is a new book or part, even one whose title the rule
// did not take for a heading.
void check_host::number(sequence& numbers, bool fresh, std::int64_t value, std::int64_t line,
                        const std::string& heading) {
  const std::int64_t last = numbers.last;
  const bool was_started = numbers.started;
  numbers = {true, value};
  if (!was_started || value == last + 1 || value == 1 || (fresh && value == 0)) return;
  const char* what = value == last ? "编号重复" : value < last ? "编号倒退" : "编号跳跃";
  findings_.push_back({line, std::string(what) + "（" + std::to_string(last) + " 之后是 " +
                                 std::to_string(value) + "）：" + heading});
  ++numbering_;
}

namespace {

const char* refused_for(heading_guard guard) {
  switch (guard) {
    case heading_guard::too_long: return "超过40字";
    case heading_guard::trailing_stop:
    case heading_guard::full_stop: return "含句号";
    case heading_guard::longer_word: return "单位后接其他字";
    case heading_guard::none: break;
  }
  return "不合本书的标题次序";
}

}  // namespace

void check_host::heading_seen(line_kind kind, std::int64_t line, std::string_view text) {
  const std::string heading = decode(text, enc_);
  const line_shape shape = read_line_shape_utf8(heading);
  if (kind == line_kind::near_miss) {
    findings_.push_back({line, "疑似标题（未作标题，" + std::string(refused_for(shape.guard)) + "）：" + heading});
    ++near_misses_;
    return;
  }
  // Whatever the rule, the numbers are read from the heading's own form,
  // by the unit that counts chapters: 第十一册第八十三章 is chapter 83 of
  // volume 11, 第一章 第二节 section 2 of chapter 1.
  if (shape.number < 0 || shape.contents) return;
  const line_kind as = kind == line_kind::volume ? kind : shape.kind;
  if (as == line_kind::volume) {
    number(volumes_, false, shape.number, line, heading);
    new_volume_ = true;
    return;
  }
  if (as != line_kind::chapter) return;
  if (shape.volume >= 0 && (!volumes_.started || volumes_.last != shape.volume)) {
    number(volumes_, false, shape.volume, line, heading);
    new_volume_ = true;
  }
  std::int64_t value = shape.number;
  if (shape.inner >= 0) {
    if (shape.number != outer_) new_volume_ = true;
    outer_ = shape.number;
    value = shape.inner;
  }
  number(chapters_, new_volume_, value, line, heading);
  new_volume_ = false;
}

void check_host::contents_skipped(std::int64_t first, std::int64_t last) {
  findings_.push_back({first, "目录（第" + std::to_string(first) + "行至第" + std::to_string(last) +
                                  "行，不作分章）"});
}

void check_host::shapes_only_after(std::int64_t line) {
  findings_.push_back({line, "像标题的行太多：此行之后只按标题本身的格式判断"});
}

void check_host::piece_done(const piece_info& piece) {
  const std::string name = piece.path + "（" + decode(piece.first_line, enc_) + "）";
  if (piece.size > size_limit_) {
    findings_.push_back({piece.line, "过大：" + name + " " + std::to_string(piece.size) + " 字节"});
    ++large_;
  }
  if (piece.kind != piece_kind::front_matter && piece.lines < few_lines) {
    findings_.push_back({piece.line, "过短：" + name + " 只有 " + std::to_string(piece.lines) + " 行"});
    ++short_;
  }
}

std::vector<std::string> check_host::report(const std::string& source, std::int64_t pieces) const {
  std::vector<finding> sorted = findings_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const finding& a, const finding& b) { return a.line < b.line; });
  std::vector<std::string> lines;
  for (const finding& f : sorted) lines.push_back(source + ":" + std::to_string(f.line) + ": " + f.text + "\n");
  lines.push_back("检查：" + std::to_string(pieces) + "个文件，编号问题" + std::to_string(numbering_) + "处，过大" +
                  std::to_string(large_) + "个，过短" + std::to_string(short_) + "个，疑似标题" +
                  std::to_string(near_misses_) + "处\n");
  return lines;
}

}  // namespace quorrel::cli
