#include "cli/check.h"

#include <algorithm>

#include "core/heading_form.h"

namespace quorrel::cli {
namespace {

// Fewer lines than this (the heading included) make a piece worth a look.
constexpr std::int64_t few_lines = 3;

}  // namespace

void check_host::number(sequence& numbers, bool fresh, std::int64_t value, std::int64_t line,
                        const std::string& heading) {
  const std::int64_t last = numbers.last;
  const bool was_started = numbers.started;
  numbers = {true, value};
  if (!was_started || value == last + 1 || (fresh && value == 1)) return;
  const char* what = value == last ? "编号重复" : value < last ? "编号倒退" : "编号跳跃";
  findings_.push_back({line, std::string(what) + "（" + std::to_string(last) + " 之后是 " +
                                 std::to_string(value) + "）：" + heading});
  ++numbering_;
}

void check_host::heading_seen(line_kind kind, std::int64_t line, std::string_view text) {
  const std::string heading = decode(text, enc_);
  const heading_form form = read_heading_utf8(heading);
  if (kind == line_kind::near_miss) {
    findings_.push_back({line, "疑似标题（未作标题）：" + heading});
    ++near_misses_;
    return;
  }
  // Whatever the rule, the numbers are read from the heading's own form.
  if (!form.numbered) return;
  if (form.shape == line_kind::volume) {
    number(volumes_, false, form.number, line, heading);
    new_volume_ = true;
  } else if (form.shape == line_kind::chapter) {
    number(chapters_, new_volume_, form.number, line, heading);
    new_volume_ = false;
  }
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
