#include "core/pattern_rule.h"

#include <unicode/uregex.h>
#include <unicode/ustring.h>  // u_strFromUTF8

#include <exception>  // exception_ptr: what the host throws inside a match
#include <new>        // bad_alloc
#include <utility>    // exchange
#include <vector>

#include "core/icu_converter.h"
#include "core/messages.h"

namespace quorrel {
namespace {

using icu::converter_ptr;
using icu::decode_into;

struct regex_closer {
  void operator()(URegularExpression* r) const { uregex_close(r); }
};
using regex_ptr = std::unique_ptr<URegularExpression, regex_closer>;

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
      : converter_(icu::open_converter(enc.name)), regex_(std::move(regex)), required_(std::move(required)) {
    UErrorCode status = U_ZERO_ERROR;
    uregex_setTimeLimit(regex_.get(), pattern_step_limit, &status);
    uregex_setMatchCallback(regex_.get(), &pattern_rule::keep_matching, this, &status);
  }

  // Not a change of rule: only the host to ask during a long match.
  bool refresh(rule_host& host) override {
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
    uregex_setText(regex_.get(), reinterpret_cast<const UChar*>(text.data()),
                   static_cast<int32_t>(text.size()), &status);
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
  rule_host* host_ = nullptr;
  std::exception_ptr thrown_;
  std::vector<char16_t> decoded_;
  bool found_ = false;
};

std::u16string utf16(const std::string& utf8, UErrorCode& status) {
  std::u16string text(utf8.size() + 1, u'\0');
  int32_t length = 0;
  u_strFromUTF8(reinterpret_cast<UChar*>(text.data()), static_cast<int32_t>(text.size()), &length,
                utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  text.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return text;
}

// The pattern compiled into `regex`, or why ICU refuses it.
std::optional<pattern_error> compile(const std::string& utf8, regex_ptr& regex) {
  // ICU would say U_ILLEGAL_ARGUMENT_ERROR.
  if (utf8.empty()) return pattern_error{std::string(messages::empty_pattern), 0, 0};
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  const std::u16string pattern = utf16(utf8, status);
  if (U_SUCCESS(status))
    regex.reset(uregex_open(reinterpret_cast<const UChar*>(pattern.data()),
                            static_cast<int32_t>(pattern.size()), 0, &where, &status));
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  if (U_SUCCESS(status)) return std::nullopt;
  regex.reset();
  return pattern_error{u_errorName(status), where.line, where.offset};
}

}  // namespace

rule_or_error make_pattern_rule(const std::string& utf8_pattern, const encoding& enc) {
  regex_ptr regex;
  if (auto error = compile(utf8_pattern, regex)) return {nullptr, std::move(error)};
  UErrorCode status = U_ZERO_ERROR;
  std::u16string required = required_ideographs(utf16(utf8_pattern, status));
  return {std::make_unique<pattern_rule>(enc, std::move(regex), std::move(required)), std::nullopt};
}

std::optional<pattern_error> pattern_problem(const std::string& utf8_pattern) {
  regex_ptr regex;
  return compile(utf8_pattern, regex);
}

}  // namespace quorrel
