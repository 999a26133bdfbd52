#pragma once
// quorrel-split --check: a dry run whose host collects what a reader of
// the pieces would trip over, reported one line each with the source's
// line number, then a summary:
//   - numbering that jumps, repeats or goes back: chapters within a volume
//     (the first chapter after a volume heading may start again at 1 or go
//     on), volumes across the book; numbers are read in every numeral form;
//   - pieces over a size, and pieces (but the text before the first
//     heading) of fewer than three lines;
//   - near misses: lines of the book's own heading style that were refused,
//     with the guard that refused them;
//   - tables of contents left in the text, once each with their lines, and
//     the line after which the book had too many heading-like lines to weigh.

#include <cstdint>
#include <string>
#include <vector>

#include "core/split.h"

namespace quorrel::cli {

class check_host : public fixed_keywords {
 public:
  check_host(std::vector<std::string> keywords, std::uint64_t size_limit)
      : fixed_keywords(std::move(keywords)), size_limit_(size_limit) {}

  void encoding_known(const encoding& enc) override { enc_ = enc; }
  void heading_seen(line_kind kind, std::int64_t line, std::string_view text) override;
  void piece_done(const piece_info& piece) override;
  void contents_skipped(std::int64_t first, std::int64_t last) override;
  void shapes_only_after(std::int64_t line) override;

  // The findings, in the order of the source, each "SOURCE:LINE: what"
  // ending in a newline; then the summary line.
  std::vector<std::string> report(const std::string& source, std::int64_t pieces) const;
  bool found_anything() const { return !findings_.empty(); }

 private:
  struct finding {
    std::int64_t line;
    std::string text;
  };
  struct sequence {
    bool started = false;
    std::int64_t last = 0;
  };
  void number(sequence& numbers, bool fresh, std::int64_t value, std::int64_t line, const std::string& heading);

  std::uint64_t size_limit_;
  encoding enc_;
  sequence chapters_, volumes_;
  bool new_volume_ = false;  // no chapter yet since the last volume heading
  std::int64_t outer_ = -1;  // the outer chapter of 第一章 第二节 lines
  std::vector<finding> findings_;
  std::int64_t numbering_ = 0, large_ = 0, short_ = 0, near_misses_ = 0;
};

}  // namespace quorrel::cli
