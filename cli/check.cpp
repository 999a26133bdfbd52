#include "cli/check.h"

#include <algorithm>

#include "cli/console.h"
#include "core/checks.h"  // trim_blanks
#include "core/heading_form.h"
#include "core/stop_signals.h"

namespace quorrel::cli {
namespace {

// Fewer lines than this (the heading included) make a piece worth a look.
constexpr std::int64_t few_lines = 3;

// Findings kept in memory while they wait for their piece; more go to the
// scratch file.
constexpr std::size_t memory_budget = 1 << 20;  // bytes of text

// Which part of its chapter a heading names, in their order: 1, 2 or 3
// when it ends in 上, 中 or 下 in brackets, full-width or not, or after a
// blank (第一章（上）, 第二章 风起(中), 第三章 下); 0 for none.
int part_of(std::string_view heading) {
  heading = trim_blanks(heading);
  const std::string_view parts[] = {"上", "中", "下"};
  for (int part = 0; part < 3; ++part) {
    for (const auto& [open, close] :
         {std::pair{"（", "）"}, std::pair{"(", ")"}, std::pair{" ", ""}, std::pair{"　", ""}})
      if (heading.ends_with(std::string(open).append(parts[part]).append(close))) return part + 1;
  }
  return 0;
}

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

void check_host::queue::push(finding f) {
  memory_bytes_ += f.text.size();
  memory_.push_back(std::move(f));
  if (memory_bytes_ > memory_budget) spill();
}

// Each finding as its line, its length and its text, at the file's end.
void check_host::queue::spill() {
  if (!file_ && !no_file_) {
    file_.reset(scratch_file());
    no_file_ = !file_ || std::fgetpos(file_.get(), &end_at_) != 0;
    read_at_ = end_at_;
  }
  if (no_file_) return;
  std::FILE* f = file_.get();
  // What cannot go to the file stays in memory, after the findings it holds.
  no_file_ = std::fsetpos(f, &end_at_) != 0;
  for (; !no_file_ && !memory_.empty(); memory_.pop_front()) {
    const finding& oldest = memory_.front();
    const std::uint64_t size = oldest.text.size();
    if (std::fwrite(&oldest.line, sizeof oldest.line, 1, f) != 1 ||
        std::fwrite(&size, sizeof size, 1, f) != 1 || std::fwrite(oldest.text.data(), 1, size, f) != size ||
        std::fgetpos(f, &end_at_) != 0) {
      no_file_ = true;
      return;
    }
    ++in_file_;
    memory_bytes_ -= oldest.text.size();
  }
}

const check_host::finding* check_host::queue::front() {
  if (!next_ && in_file_ > 0) {
    std::FILE* f = file_.get();
    finding oldest;
    std::uint64_t size = 0;
    if (std::fsetpos(f, &read_at_) == 0 && std::fread(&oldest.line, sizeof oldest.line, 1, f) == 1 &&
        std::fread(&size, sizeof size, 1, f) == 1) {
      oldest.text.resize(size);
      if (std::fread(oldest.text.data(), 1, size, f) == size && std::fgetpos(f, &read_at_) == 0)
        next_ = std::move(oldest);
    }
    // A file that cannot be read back loses what it holds, not the rest.
    if (next_) --in_file_;
    else in_file_ = 0;
  }
  if (next_) return &*next_;
  return memory_.empty() ? nullptr : &memory_.front();
}

void check_host::queue::pop() {
  if (next_) {
    next_.reset();
    return;
  }
  memory_bytes_ -= memory_.front().text.size();
  memory_.pop_front();
}

bool check_host::stop_requested() { return stop_signal() != 0 || out_failed_; }

void check_host::put(const std::string& text) {
  if (!out_failed_ && !out_(text)) out_failed_ = true;
}

void check_host::write(std::int64_t line, const std::string& text) {
  write_through(line);
  put(text);
}

// What came before the run goes before a finding of the same line.
void check_host::write_through(std::int64_t line) {
  for (; early_done_ < early_.size() && early_[early_done_].line <= line; ++early_done_) {
    const early& e = early_[early_done_];
    const std::string what = e.last < 0 ? "像标题的行太多：此行之后只按标题本身的格式判断"
                                        : "目录（第" + std::to_string(e.line) + "行至第" +
                                              std::to_string(e.last) + "行，不作分章）";
    put(visible(source_ + ":" + std::to_string(e.line) + ": " + what) + "\n");
  }
}

void check_host::add(std::int64_t line, const std::string& what) {
  ++found_;
  waiting_.push({line, visible(source_ + ":" + std::to_string(line) + ": " + what) + "\n"});
}

// A new start at 1 is a new book or part, even one whose title the rule
// did not take for a heading; the same number again is the chapter's next
// part when it names a later part than the heading before (第一章（上）,
// then 第一章（下）).
void check_host::number(sequence& numbers, bool fresh, int part, std::int64_t value, std::int64_t line,
                        const std::string& heading) {
  const sequence before = numbers;
  const std::int64_t last = before.last;
  numbers = {true, value, part};
  if (!before.started || value == last + 1 || value == 1 || (fresh && value == 0) ||
      (value == last && part > before.part))
    return;
  const char* what = value == last ? "编号重复" : value < last ? "编号倒退" : "编号跳跃";
  add(line, std::string(what) + "（" + std::to_string(last) + " 之后是 " + std::to_string(value) + "）：" +
                heading);
  ++numbering_;
}

void check_host::heading_seen(line_kind kind, std::int64_t line, std::string_view text) {
  const std::string heading = decode(text, enc_);
  const line_shape shape = read_line_shape_utf8(heading);
  if (kind == line_kind::near_miss) {
    add(line, "疑似标题（未作标题，" + std::string(refused_for(shape.guard)) + "）：" + heading);
    ++near_misses_;
    return;
  }
  // Whatever the rule, the numbers are read from the heading's own form,
  // by the unit that counts chapters: 第十一册第八十三章 is chapter 83 of
  // volume 11, 第一章 第二节 section 2 of chapter 1.
  if (shape.number < 0 || shape.contents) return;
  const line_kind as = kind == line_kind::volume ? kind : shape.kind;
  if (as == line_kind::volume) {
    number(volumes_, false, 0, shape.number, line, heading);
    new_volume_ = true;
    return;
  }
  if (as != line_kind::chapter) return;
  if (shape.volume >= 0 && (!volumes_.started || volumes_.last != shape.volume)) {
    number(volumes_, false, 0, shape.volume, line, heading);
    new_volume_ = true;
  }
  std::int64_t value = shape.number;
  if (shape.inner >= 0) {
    if (shape.number != outer_) new_volume_ = true;
    outer_ = shape.number;
    value = shape.inner;
  }
  number(chapters_, new_volume_, part_of(heading), value, line, heading);
  new_volume_ = false;
}

void check_host::contents_skipped(std::int64_t first, std::int64_t last) {
  ++found_;
  const early e{first, last};
  const auto by_line = [](const early& a, const early& b) { return a.line < b.line; };
  early_.insert(std::upper_bound(early_.begin(), early_.end(), e, by_line), e);
}

void check_host::shapes_only_after(std::int64_t line) { contents_skipped(line, -1); }

// Every piece that starts before this one's end is done: the findings up
// to its first line can go, then its own.
void check_host::piece_done(const piece_info& piece) {
  for (const finding* f = waiting_.front(); f && f->line <= piece.line; f = waiting_.front()) {
    write(f->line, f->text);
    waiting_.pop();
  }
  const std::string name = piece.path + "（" + decode(piece.first_line, enc_) + "）";
  auto report = [&](const std::string& what) {
    ++found_;
    write(piece.line, visible(source_ + ":" + std::to_string(piece.line) + ": " + what) + "\n");
  };
  if (piece.size > size_limit_) {
    report("过大：" + name + " " + std::to_string(piece.size) + " 字节");
    ++large_;
  }
  if (piece.kind != piece_kind::front_matter && piece.lines < few_lines) {
    report("过短：" + name + " 只有 " + std::to_string(piece.lines) + " 行");
    ++short_;
  }
}

void check_host::finish(std::int64_t pieces) {
  for (const finding* f = waiting_.front(); f; f = waiting_.front()) {
    write(f->line, f->text);
    waiting_.pop();
  }
  write_through(INT64_MAX);
  put("检查：" + std::to_string(pieces) + "个文件，编号问题" + std::to_string(numbering_) + "处，过大" +
      std::to_string(large_) + "个，过短" + std::to_string(short_) + "个，疑似标题" +
      std::to_string(near_misses_) + "处\n");
}

}  // namespace quorrel::cli
