// quorrel-heading-score: how well a heading rule finds a labelled novel's
// headings. Runs the splitter as a dry run (nothing is written) and
// compares the lines it took for headings with the labels.
//
//   quorrel-heading-score keywords|auto SOURCE LABELS
//
// LABELS holds the 1-based numbers of the heading lines of SOURCE, one a
// line. Prints "headings N found N right N precision P recall R", and on
// stderr the line number of each heading missed and each line wrongly
// taken; exit 1 on a bad command line or a source that cannot be read.

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "core/split.h"

namespace {

class recorder : public quorrel::fixed_keywords {
 public:
  recorder() : fixed_keywords({"第", "章"}) {}
  void heading_seen(quorrel::line_kind kind, std::int64_t line, std::string_view) override {
    if (kind != quorrel::line_kind::near_miss) found.insert(line);
  }
  std::set<std::int64_t> found;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: quorrel-heading-score keywords|auto SOURCE LABELS\n", stderr);
    return 1;
  }
  const std::string rule = argv[1];
  quorrel::split_options options;
  options.dry_run = true;
  if (const auto named = quorrel::rule_named(rule)) options.headings.which = *named;
  std::set<std::int64_t> labelled;
  std::ifstream labels(argv[3]);
  for (std::int64_t line; labels >> line;) labelled.insert(line);

  recorder host;
  const auto result = quorrel::run_split({argv[2], "/nonexistent/"}, host, options);
  if (result.failure) {
    std::fprintf(stderr, "%s\n", result.failure->message().c_str());
    return 1;
  }
  std::size_t right = 0;
  for (std::int64_t line : host.found) {
    right += labelled.count(line);
    if (labelled.count(line) == 0)
      std::fprintf(stderr, "wrongly taken: %lld\n", static_cast<long long>(line));
  }
  for (std::int64_t line : labelled)
    if (host.found.count(line) == 0) std::fprintf(stderr, "missed: %lld\n", static_cast<long long>(line));
  const double precision = host.found.empty() ? 1.0 : double(right) / double(host.found.size());
  const double recall = labelled.empty() ? 1.0 : double(right) / double(labelled.size());
  std::printf("headings %zu found %zu right %zu precision %.4f recall %.4f\n", labelled.size(),
              host.found.size(), right, precision, recall);
  return 0;
}
