// A source that changes while it is split: truncated, replaced, grown or
// overwritten. No crash, and what was read is written, whole: the pieces are
// those of a prefix of the source as it was (at least of what the run had
// read before the change), every piece ends with a line end, and nothing
// after a gap.
//
// The core is driven in this process, where the change is made from the
// run's own progress report, at a chosen heading: the same change at the
// same point of every run. One case does it to the command-line tool from
// outside, while the tool is stopped.

#include <gtest/gtest.h>

#include <functional>

#include "core/split.h"
#include "reliability.h"

namespace quorrel::reliability {
namespace {

// A UTF-8 novel of `chapters` chapters of about `chapter_bytes` each, with
// where each line ends in the source and in the pieces laid end to end.
struct marked_novel {
  novel book;
  std::vector<std::size_t> chapter_starts;  // byte offset of each heading
  std::vector<std::pair<std::size_t, std::size_t>>
      ends;  // (in the source, in the output) after each kept line

  void heading(const std::string& text) {
    chapter_starts.push_back(book.source.size());
    book.heading(text);
    mark();
  }
  void line(const std::string& text) {
    book.line(text);
    mark();
  }
  void mark() {
    std::size_t output = 0;
    for (const auto& p : book.pieces) output += p.size();
    ends.emplace_back(book.source.size(), output);
  }
  // Output bytes owed for the source's first `bytes`: every line wholly in them.
  std::size_t output_for(std::size_t bytes) const {
    std::size_t owed = 0;
    for (const auto& [in, out] : ends)
      if (in <= bytes) owed = out;
    return owed;
  }
  std::string output() const {
    std::string all;
    for (const auto& p : book.pieces) all += p;
    return all;
  }
};

marked_novel make_novel(int chapters, std::size_t chapter_bytes, int first = 1) {
  marked_novel m;
  for (int c = first; c < first + chapters; ++c) {
    m.heading("第" + std::to_string(c) + "章　风雨");
    const std::size_t start = m.book.source.size();
    for (int n = 0; m.book.source.size() - start < chapter_bytes; ++n)
      m.line("　　甲乙丙丁戊己庚辛 " + std::to_string(c) + "-" + std::to_string(n) + " 子丑寅卯辰巳");
  }
  return m;
}

// The pieces in `folder` at `prefix`, numbered from 0000; fails on a gap or
// on any other file.
std::vector<std::string> pieces_in(const std::string& folder, const std::string& prefix) {
  listing found = folder_contents(folder);
  std::vector<std::string> pieces;
  for (std::size_t i = 0;; ++i) {
    const auto it = found.find(prefix + piece_name(i));
    if (it == found.end()) break;
    pieces.push_back(it->second);
    found.erase(it);
  }
  for (const auto& [name, bytes] : found)
    if (name != "book.txt" && name != "other.txt" && name != (prefix.ends_with("/") ? prefix : prefix + "/"))
      ADD_FAILURE() << "unexpected after piece " << pieces.size() << ": " << name;
  return pieces;
}

// The pieces are those of a prefix of `m`'s source: all but the last exactly
// the novel's, the last at most cut within a line, every one ending with
// CR LF; and they hold at least `owed` bytes of the output.
void expect_prefix_of(const std::vector<std::string>& pieces, const marked_novel& m, std::size_t owed) {
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_TRUE(pieces[i].ends_with("\r\n")) << "piece " << i << " does not end with CR LF";
    if (i + 1 < pieces.size() && i < m.book.pieces.size()) {
      EXPECT_TRUE(same_bytes(pieces[i], m.book.pieces[i])) << "piece " << i;
    }
    joined += pieces[i];
  }
  const std::string all = m.output();
  const std::string_view without_end =
      std::string_view(joined).substr(0, joined.size() < 2 ? 0 : joined.size() - 2);
  EXPECT_TRUE(std::string_view(all).starts_with(without_end))
      << "the pieces are not the start of the novel's: "
      << same_bytes(joined, all.substr(0, joined.size())).message();
  EXPECT_GE(joined.size(), owed) << "lines read before the change are missing";
}

class changing_host : public fixed_keywords {
 public:
  changing_host(std::int64_t at_heading, std::function<void()> change)
      : fixed_keywords({"第", "章"}), at_(at_heading), change_(std::move(change)) {}
  // Progress counts pieces on disk, which may pass the heading asked for
  // between two reports: the change comes at the first report at or past it.
  void progress(std::int64_t saved) override {
    if (saved < at_ || !change_) return;
    change_();
    change_ = nullptr;
    changed = true;
  }
  bool changed = false;

 private:
  std::int64_t at_;
  std::function<void()> change_;
};

void truncate_to(const std::string& path, std::size_t bytes) {
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes)), 0) << std::strerror(errno);
}

TEST(ChangingSource, ARunKeepsWhatItReadWhenTheSourceChanges) {
  // 300 chapters of 20 KiB: six read blocks of 1 MiB; the change comes at
  // the 50th heading, in the first block.
  const marked_novel m = make_novel(300, 20 * 1024);
  const marked_novel more = make_novel(20, 20 * 1024, 301);
  marked_novel grown = m;
  for (const auto& p : more.book.pieces) grown.book.pieces.push_back(p);
  const std::size_t mid_line = m.chapter_starts[200] + 40;  // inside the line after the heading
  constexpr std::int64_t at = 50;
  const std::size_t read_by_then =
      m.output_for(m.chapter_starts[at]);  // lines before the heading of the change

  enum class expect { prefix, exactly, whole_pieces };
  struct row {
    const char* name;
    std::function<void(const std::string& source, const std::string& other)> change;
    expect what;
    std::size_t owed;           // for prefix: output bytes that must be there
    const marked_novel* whole;  // for exactly: the novel whose pieces must be there
  };
  const std::vector<row> rows = {
      {"truncated at a line end far ahead",
       [&](const std::string& s, const std::string&) { truncate_to(s, m.chapter_starts[200]); },
       expect::prefix, m.output_for(m.chapter_starts[200]), nullptr},
      {"truncated inside a line far ahead",
       [&](const std::string& s, const std::string&) { truncate_to(s, mid_line); }, expect::prefix,
       m.output_for(mid_line), nullptr},
      {"truncated inside a heading far ahead",
       [&](const std::string& s, const std::string&) { truncate_to(s, m.chapter_starts[200] + 4); },
       expect::prefix, m.output_for(m.chapter_starts[200]), nullptr},
      {"truncated to nothing", [&](const std::string& s, const std::string&) { truncate_to(s, 0); },
       expect::prefix, read_by_then, nullptr},
      {"replaced by another file",
       [&](const std::string& s, const std::string& other) {
         write_file(other, "第一章\n别的书\n");
         ASSERT_EQ(::rename(other.c_str(), s.c_str()), 0);
       },
       expect::exactly, 0, &m},
      {"removed", [&](const std::string& s, const std::string&) { ASSERT_EQ(::unlink(s.c_str()), 0); },
       expect::exactly, 0, &m},
      {"grown by twenty chapters",
       [&](const std::string& s, const std::string&) {
         std::ofstream(s, std::ios::binary | std::ios::app) << more.book.source;
       },
       expect::exactly, 0, &grown},
      {"overwritten in place with other text",
       [&](const std::string& s, const std::string&) {
         write_file(s, repeat("第九章\n另一本书的正文\n", 50000));
       },
       expect::whole_pieces, read_by_then, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    const std::string source = dir / "book.txt";
    write_file(source, m.book.source);
    ASSERT_TRUE(fs::create_directory(dir / "out"));
    changing_host host(at, [&] { r.change(source, dir / "other.txt"); });
    const split_result result = run_split({source, dir / "out/"}, host);
    ASSERT_TRUE(host.changed) << "the run ended before the change";
    EXPECT_FALSE(result.failure) << result.failure->message();
    const std::vector<std::string> pieces = pieces_in(dir.path(), "out/");
    EXPECT_EQ(result.pieces, static_cast<std::int64_t>(pieces.size()));
    switch (r.what) {
      case expect::prefix: expect_prefix_of(pieces, m, r.owed); break;
      case expect::exactly:
        ASSERT_EQ(pieces.size(), r.whole->book.pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i)
          EXPECT_TRUE(same_bytes(pieces[i], r.whole->book.pieces[i])) << "piece " << i;
        break;
      case expect::whole_pieces:
        // A mix of two texts, even within a line: only the pieces finished
        // before the change are known; every piece is whole and starts with
        // a heading.
        ASSERT_GE(pieces.size(), static_cast<std::size_t>(at));
        for (std::size_t i = 0; i < pieces.size(); ++i) {
          EXPECT_TRUE(pieces[i].ends_with("\r\n")) << "piece " << i;
          const std::string first_line = pieces[i].substr(0, pieces[i].find("\r\n"));
          EXPECT_TRUE(first_line.find("第") != std::string::npos &&
                      first_line.find("章") != std::string::npos)
              << "piece " << i << " does not start with a heading: " << first_line;
          if (i < static_cast<std::size_t>(at)) {
            EXPECT_TRUE(same_bytes(pieces[i], m.book.pieces[i])) << "piece " << i;
          }
        }
        break;
    }
  }
}

// The tool, stopped once its first pieces are on disk; the source truncated
// to half; the tool resumed. It ends normally with the pieces of a prefix.
TEST(ChangingSource, TheToolKeepsWhatItReadWhenTheSourceIsTruncated) {
  const marked_novel m = make_novel(2000, 50 * 1024);  // about 100 MB
  struct row {
    const char* name;
    double keep;  // of the source, at a line end
  };
  const std::vector<row> rows = {{"truncated to half", 0.5}, {"truncated to nothing", 0.0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", m.book.source);
    ASSERT_TRUE(fs::create_directory(dir / "out"));
    const std::size_t cut = m.chapter_starts[static_cast<std::size_t>(r.keep * 2000)];
    process split({"-q", dir / "book.txt", dir / "out/"});
    bool changed = false;
    std::size_t seen = 0;  // output bytes known to be written before the change
    while (!changed && split.running()) {
      if (!fs::exists(dir / ("out/" + piece_name(1)))) {
        ::usleep(200);
        continue;
      }
      if (!split.pause()) break;
      for (std::size_t i = 0; fs::exists(dir / ("out/" + piece_name(i + 1))); ++i)
        seen += m.book.pieces[i].size();
      truncate_to(dir / "book.txt", cut);
      changed = true;
      split.resume();
    }
    ASSERT_TRUE(changed) << "the run ended before the source could be changed";
    const outcome o = split.finish();
    EXPECT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    expect_prefix_of(pieces_in(dir.path(), "out/"), m, std::max(seen, m.output_for(cut)));
  }
}

}  // namespace
}  // namespace quorrel::reliability
