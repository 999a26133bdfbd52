#include "core/form_rule.h"

#include <bitset>
#include <limits>
#include <vector>

#include "core/heading_book.h"
#include "core/heading_form.h"
#include "core/icu_converter.h"
#include "core/shape_filter.h"

namespace quorrel {
namespace {

using icu::converter_ptr;
using icu::decode_into;

// The book is read once before the run (survey): every short line is
// decoded and its shape noted, and the book decides which shapes are its
// headings (core/heading_book.h). The run then looks each line up by its
// number. Without a survey, or past the lines the book could note, a line is
// judged by its shape alone: most lines are rejected on their bytes, and only
// a line that starts (after blanks) with the bytes of a heading's first word
// is decoded and read.
class form_rule final : public heading_rule {
 public:
  explicit form_rule(const encoding& enc)
      : enc_(enc), converter_(icu::open_converter(enc.name)), filter_(enc) {
    static constexpr const char* starts[] = {
        "第",   "卷",   "序",     "楔子",   "引子", "引言", "前言",     "尾声",   "尾聲",   "后记",
        "後記", "终章", "終章",   "番外",   "外传", "外傳", "完本感言", "【",     "[",      "附录",
        "附錄", "跋",   "原序",   "代序",   "新序", "自序", "译者序",   "譯者序", "译后记", "譯後記",
        "出版", "重印", "结束语", "結束語", "释名", "釋名", "解说",     "解說",   "作者的", "上架感言",
        "◆",    "◇",    "■",      "□",      "●",    "★",    "☆",        "※",      "\uFEFF"};
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

  book_survey survey(const file::handle& source, std::int64_t from, std::uint64_t size,
                     rule_host& host) override {
    heading_book book;
    book_survey surveyed = survey_book(
        source, from, size, enc_, filter_, [&] { return host.stop_requested(); }, book);
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
      return next_ < planned_.size() && planned_[next_].line == number ? planned_[next_].kind
                                                                       : line_kind::body;
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

}  // namespace

std::unique_ptr<heading_rule> make_form_rule(const encoding& enc) { return std::make_unique<form_rule>(enc); }

}  // namespace quorrel
