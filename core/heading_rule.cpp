#include "core/heading_rule.h"

#include <unicode/ucnv.h>
#include <unicode/uregex.h>
#include <unicode/ustring.h>  // u_strFromUTF8

#include <bitset>
#include <cstring>
#include <exception>  // exception_ptr: what the host throws inside a match
#include <limits>
#include <new>  // bad_alloc
#include <utility>  // exchange
#include <vector>

#include "core/heading_book.h"
#include "core/heading_form.h"
#include "core/icu_converter.h"
#include "core/messages.h"
#include "core/shape_filter.h"
#include "core/split.h"  // split_host: the keyword list

namespace quorrel {
namespace {

using icu::converter_ptr;
using icu::decode_into;

struct regex_closer {
  void operator()(URegularExpression* r) const { uregex_close(r); }
};
using regex_ptr = std::unique_ptr<URegularExpression, regex_closer>;

converter_ptr open_converter(const encoding& enc) { return icu::open_converter(enc.name); }


class keyword_rule final : public heading_rule {
 public:
  keyword_rule(const encoding& enc, std::string_view sample) : test_(enc, sample) {}

  bool refresh(split_host& host) override {
    const std::uint64_t version = host.keywords_version();
    if (have_keywords_ && version == version_) return false;
    test_.set_keywords(host.keywords());
    version_ = version;
    have_keywords_ = true;
    return true;
  }
  probe_bytes probe() const override { return test_.probe(); }
  line_kind classify(std::string_view line, std::int64_t number) override {
    (void)number;
    return test_(line) ? line_kind::chapter : line_kind::body;
  }
  void begin_parts() override { test_.begin_parts(); }
  std::size_t part(std::string_view window, std::size_t base, bool last) override {
    return test_.part(window, base, last);
  }
  line_kind found() const override { return test_.found() ? line_kind::chapter : line_kind::body; }
  std::size_t longest() const override { return test_.longest(); }

 private:
  heading_test test_;
  std::uint64_t version_ = 0;
  bool have_keywords_ = false;
};

// The book is read once before the run (survey): every short line is
// decoded and its shape noted, and the book decides which shapes are its
// headings (core/heading_book.h). The run then looks each line up by its
// number. Without a survey, or past the lines the book could note, a line is
// judged by its shape alone: most lines are rejected on their bytes, and only
// a line that starts (after blanks) with the bytes of a heading's first word
// is decoded and read.
class form_rule final : public heading_rule {
 public:
  explicit form_rule(const encoding& enc) : enc_(enc), converter_(open_converter(enc)), filter_(enc) {
    static constexpr const char* starts[] = {"第",   "卷",   "序",   "楔子", "引子", "引言", "前言",
                                             "尾声", "尾聲", "后记", "後記", "终章", "終章", "番外",
                                             "外传", "外傳", "完本感言", "【", "[", "附录", "附錄", "跋",
                                             "原序", "代序", "新序", "自序", "译者序", "譯者序", "译后记",
                                             "譯後記", "出版", "重印", "结束语", "結束語", "释名", "釋名",
                                             "解说", "解說", "作者的", "上架感言", "◆", "◇", "■", "□",
                                             "●", "★", "☆", "※", "\uFEFF"};
    for (const char* start : starts) {
      auto bytes = encode(start, enc);
      if (!bytes || bytes->empty()) continue;  // not in this encoding: no heading starts so
      const unsigned first = static_cast<unsigned char>((*bytes)[0]) * 0x100u;
      if (bytes->size() == 1) {
        for (unsigned second = 0; second < 256; ++second) pairs_.set(first | second);
      } else {
        pairs_.set(first | static_cast<unsigned char>((*bytes)[1]));
      }
      starts_.push_back(std::move(*bytes));
    }
    for (const char* blank : {"\u3000", " ", "\t", "\u00A0"})
      if (auto bytes = encode(blank, enc)) blanks_.push_back(std::move(*bytes));
    decoded_.resize(longest_candidate + 1);
  }

  book_survey survey(const file::handle& source, std::int64_t from, std::uint64_t size, split_host& host) override {
    heading_book book;
    book_survey surveyed = survey_book(source, from, size, enc_, filter_, [&] { return host.stop_requested(); }, book);
    if (surveyed.outcome != survey_outcome::done) return surveyed;
    book.plan(surveyed.nonblank);
    for (const heading_book::range& r : book.contents()) host.contents_skipped(r.first, r.last);
    if (book.full()) host.shapes_only_after(book.noted_until());
    planned_ = book.entries();
    planned_until_ = book.full() ? book.noted_until() : std::numeric_limits<std::int64_t>::max();
    surveyed_ = true;
    return surveyed;
  }

  line_kind classify(std::string_view line, std::int64_t number) override {
    if (surveyed_ && number <= planned_until_) {
      while (next_ < planned_.size() && planned_[next_].line < number) ++next_;
      return next_ < planned_.size() && planned_[next_].line == number ? planned_[next_].kind : line_kind::body;
    }
    // Called for every line that is not blank: the blanks are compared
    // byte by byte, first byte first, with no call.
    std::size_t at = 0;
    for (std::size_t i = 0; i < blanks_.size() && at < line.size();) {
      const std::string& blank = blanks_[i];
      std::size_t k = 0;
      while (k < blank.size() && at + k < line.size() && line[at + k] == blank[k]) ++k;
      if (k == blank.size()) {
        at += k;
        i = 0;
      } else {
        ++i;
      }
    }
    if (at + 1 >= line.size()) return line_kind::body;  // one byte is no heading
    if (!pairs_.test(static_cast<unsigned>(static_cast<unsigned char>(line[at])) << 8 |
                     static_cast<unsigned char>(line[at + 1])))
      return line_kind::body;
    const std::string_view rest = line.substr(at);
    if (rest.size() > longest_candidate || !converter_) return line_kind::body;
    bool starts = false;
    for (const std::string& s : starts_) starts = starts || rest.starts_with(s);
    if (!starts) return line_kind::body;
    return read_heading(decode_into(converter_.get(), rest, decoded_)).kind;
  }

  // A line too long to hold is far past the length of a heading.
  void begin_parts() override {}
  std::size_t part(std::string_view window, std::size_t base, bool last) override {
    (void)last;
    return (base + window.size()) / 4 * 4;
  }
  line_kind found() const override { return line_kind::body; }

 private:
  // Longer lines are prose whatever they start with; a heading is at most
  // 60 characters after its blanks.
  static constexpr std::size_t longest_candidate = 4096;

  encoding enc_;
  converter_ptr converter_;
  shape_filter filter_;       // which lines the survey decodes
  std::bitset<65536> pairs_;  // the first two bytes of each of starts_
  std::vector<std::string> starts_;
  std::vector<std::string> blanks_;  // in the source's encoding, the usual indent first
  std::vector<char16_t> decoded_;
  bool surveyed_ = false;
  std::vector<heading_book::entry> planned_;
  std::int64_t planned_until_ = 0;  // lines after it are judged by their shape alone
  std::size_t next_ = 0;            // the first entry not yet passed
};

// Ideographs a match must hold in this order, from a pattern simple
// enough to tell: no alternation, no inline flags or comments, no quoting.
// Only those at the top level count (not in a group, a class or a
// lookaround), and not one that a ?, * or {n,m} may leave out. A line
// without them needs no search: `.*第.*章.*` then takes no time on a long
// paragraph where 章 never follows 第, where ICU would try every start.
std::u16string required_ideographs(std::u16string_view pattern) {
  if (pattern.find(u'|') != pattern.npos || pattern.find(u"\\Q") != pattern.npos ||
      pattern.find(u'#') != pattern.npos)
    return {};
  std::u16string found;
  int depth = 0, in_class = 0;
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    const char16_t c = pattern[at];
    if (c == u'\\') {
      ++at;  // an escaped character is never one of ours, nor a bracket
    } else if (c == u'[') {
      // []...] and [^]...]: whether that ] closes the class is not ours to guess.
      const std::size_t first = at + 1 < pattern.size() && pattern[at + 1] == u'^' ? at + 2 : at + 1;
      if (first < pattern.size() && pattern[first] == u']') return {};
      ++in_class;
    } else if (c == u']' && in_class > 0) {
      --in_class;
    } else if (in_class > 0) {
      continue;
    } else if (c == u'(') {
      // (?i), (?x-s: ...): flags may change what the rest means.
      const char16_t next = at + 2 < pattern.size() && pattern[at + 1] == u'?' ? pattern[at + 2] : u' ';
      if ((next >= u'a' && next <= u'z') || next == u'-') return {};
      ++depth;
    } else if (c == u')') {
      --depth;
    } else if (depth == 0 && c >= 0x3400 && c <= 0x9FFF) {
      const char16_t next = at + 1 < pattern.size() ? pattern[at + 1] : u' ';
      if (next != u'?' && next != u'*' && next != u'{') found += c;
    }
  }
  return found;
}

bool holds_in_order(std::u16string_view text, std::u16string_view ideographs) {
  std::size_t at = 0;
  for (char16_t c : ideographs) {
    at = text.find(c, at);
    if (at == text.npos) return false;
    ++at;
  }
  return true;
}

// Every line that is not blank is decoded and searched. A line too long to
// hold is searched in its first window only.
class pattern_rule final : public heading_rule {
 public:
  pattern_rule(const encoding& enc, regex_ptr regex, std::u16string required)
      : converter_(open_converter(enc)), regex_(std::move(regex)), required_(std::move(required)) {
    UErrorCode status = U_ZERO_ERROR;
    uregex_setTimeLimit(regex_.get(), pattern_step_limit, &status);
    uregex_setMatchCallback(regex_.get(), &pattern_rule::keep_matching, this, &status);
  }

  // Not a change of rule: only the host to ask during a long match.
  bool refresh(split_host& host) override {
    host_ = &host;
    return false;
  }
  line_kind classify(std::string_view line, std::int64_t number) override {
    (void)number;
    return matches(line) ? line_kind::chapter : line_kind::body;
  }
  void begin_parts() override { found_ = false; }
  std::size_t part(std::string_view window, std::size_t base, bool last) override {
    (void)last;
    if (base == 0) found_ = matches(window);
    return (base + window.size()) / 4 * 4;
  }
  line_kind found() const override { return found_ ? line_kind::chapter : line_kind::body; }

 private:
  // Called by ICU at every step of a match: a stop ends the match there.
  // Nothing may be thrown through ICU, so what the host throws waits.
  static UBool keep_matching(const void* context, int32_t steps) {
    (void)steps;
    auto* self = static_cast<pattern_rule*>(const_cast<void*>(context));
    if (!self->host_) return true;
    try {
      return !self->host_->stop_requested();
    } catch (...) {
      self->thrown_ = std::current_exception();
      return false;
    }
  }

  bool matches(std::string_view line) {
    if (!converter_) return false;
    const std::u16string_view text = decode_into(converter_.get(), line, decoded_);
    if (!holds_in_order(text, required_)) return false;
    UErrorCode status = U_ZERO_ERROR;
    uregex_setText(regex_.get(), reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                   &status);
    const bool found = uregex_find(regex_.get(), 0, &status);
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
    icu::throw_if_out_of_memory(status);
    if (status == U_REGEX_STOPPED_BY_CALLER) throw rule_halt{false};
    if (U_FAILURE(status)) throw rule_halt{true};  // out of time or of backtracking stack
    return found;
  }

  converter_ptr converter_;
  regex_ptr regex_;
  std::u16string required_;  // required_ideographs() of the pattern
  split_host* host_ = nullptr;
  std::exception_ptr thrown_;
  std::vector<char16_t> decoded_;
  bool found_ = false;
};

std::u16string utf16(const std::string& utf8, UErrorCode& status) {
  std::u16string text(utf8.size() + 1, u'\0');
  int32_t length = 0;
  u_strFromUTF8(reinterpret_cast<UChar*>(text.data()), static_cast<int32_t>(text.size()), &length, utf8.data(),
                static_cast<int32_t>(utf8.size()), &status);
  text.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return text;
}

regex_ptr compile(const std::string& utf8, UParseError& where, UErrorCode& status) {
  const std::u16string pattern = utf16(utf8, status);
  if (U_FAILURE(status)) return nullptr;
  regex_ptr regex(uregex_open(reinterpret_cast<const UChar*>(pattern.data()),
                              static_cast<int32_t>(pattern.size()), 0, &where, &status));
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  return U_SUCCESS(status) ? std::move(regex) : nullptr;
}

}  // namespace

std::unique_ptr<heading_rule> make_heading_rule(const heading_choice& choice, const encoding& enc,
                                                std::string_view sample) {
  switch (choice.which) {
    case heading_choice::rule::keywords: return std::make_unique<keyword_rule>(enc, sample);
    case heading_choice::rule::form: return std::make_unique<form_rule>(enc);
    case heading_choice::rule::pattern: {
      UParseError where{};
      UErrorCode status = U_ZERO_ERROR;
      regex_ptr regex = compile(choice.pattern, where, status);
      if (!regex) return nullptr;
      return std::make_unique<pattern_rule>(enc, std::move(regex), required_ideographs(utf16(choice.pattern, status)));
    }
  }
  return nullptr;
}

std::optional<pattern_error> pattern_problem(const std::string& utf8_pattern) {
  // ICU would say U_ILLEGAL_ARGUMENT_ERROR.
  if (utf8_pattern.empty()) return pattern_error{std::string(messages::empty_pattern), 0, 0};
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  if (compile(utf8_pattern, where, status)) return std::nullopt;
  return pattern_error{u_errorName(status), where.line, where.offset};
}

}  // namespace quorrel
