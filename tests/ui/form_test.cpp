// The window's behaviour without a toolkit: quorrel::ui::form driven through
// a fake view that records what the window would show, on real files.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/split.h"  // piece_path
#include "core/stop_signals.h"
#include "ui/form.h"

namespace {

namespace fs = std::filesystem;
using quorrel::ui::form;
using quorrel::ui::form_view;
using quorrel::ui::start_folders;

class fake_view final : public form_view {
 public:
  std::string source, destination, keyword, caption;
  std::vector<std::string> keys, messages;
  int selected = -1;
  int events = 0;  // times events were let through
  int keyword_reads = 0;  // times the run read the keyword list afresh
  bool closed = false;
  std::chrono::milliseconds clock_step{0};  // each look at the clock advances it by this
  bool real_clock = false;  // the system's clock instead, for waits on another thread
  std::function<void()> on_events = [] {};

  std::string text(box which) override { return slot(which); }
  void set_text(box which, const std::string& text) override { slot(which) = text; }
  int key_count() override {
    ++keyword_reads;
    return static_cast<int>(keys.size());
  }
  std::string key(int index) override { return keys.at(static_cast<std::size_t>(index)); }
  void add_key(const std::string& key) override { keys.push_back(key); }
  void remove_key(int index) override { keys.erase(keys.begin() + index); }
  void clear_keys() override { keys.clear(); }
  int selected_key() override { return selected; }
  void clear_key_selection() override { selected = -1; }
  void set_caption(const std::string& text) override { caption = text; }
  void show_message(const std::string& text) override { messages.push_back(text); }
  void process_events() override {
    ++events;
    on_events();
  }
  void close_window() override { closed = true; }
  void* native_window() override { return this; }
  std::chrono::steady_clock::time_point now() override {
    return real_clock ? std::chrono::steady_clock::now() : time_ += clock_step;
  }

 private:
  std::string& slot(box which) {
    return which == box::source ? source : which == box::destination ? destination : keyword;
  }
  std::chrono::steady_clock::time_point time_{};
};

struct temp_dir {
  fs::path path = fs::temp_directory_path() /
                  ("quorrel-form-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  temp_dir() {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~temp_dir() { fs::remove_all(path); }
  std::string slash() const { return path.string() + "/"; }
};

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// `lines` lines of body text with no heading: one long piece.
void write_headingless(const fs::path& path, int lines) {
  std::ofstream out(path, std::ios::binary);
  const std::string line(100, 'x');
  for (int i = 0; i < lines; ++i) out << line << '\n';
}

TEST(Form, StartsWithKeywordsAndAWritableDestinationOnWindows) {
  struct row {
    start_folders folders;
    std::string source, destination;
  };
  // The window's tests cover "/"; these are the Windows view's folders.
  const row rows[] = {
      {{"D:\\Tools\\Split", true, "", '\\'}, "", "D:\\Tools\\Split\\"},
      {{"D:\\", true, "", '\\'}, "", "D:\\"},
      {{"C:\\Program Files\\Quorrel", false, "C:\\Users\\li\\Documents", '\\'}, "",
       "C:\\Users\\li\\Documents\\"},
      {{"D:\\Split", true, "", '\\'}, "D:\\小说.txt", "D:\\Split\\"},
  };
  for (const row& r : rows) {
    fake_view view;
    view.keys = {"old"};
    form f(view, r.folders);
    f.load(r.source);
    EXPECT_EQ(view.keys, (std::vector<std::string>{"第", "章"})) << r.folders.program_folder;
    EXPECT_EQ(view.destination, r.destination) << r.folders.program_folder;
    EXPECT_EQ(view.source, r.source);
    EXPECT_EQ(view.selected, -1);
    EXPECT_TRUE(view.messages.empty());
  }
}

TEST(Form, OnePairOfQuotesAroundAPathIsDropped) {
  struct row {
    std::string typed, read;
  };
  const row rows[] = {
      {"\"/home/li/a b.txt\"", "/home/li/a b.txt"},
      {" \t\"/home/li/a.txt\"\u3000", "/home/li/a.txt"},
      {"/home/li/a.txt", "/home/li/a.txt"},
      {"\"\"", ""},
      {"\"", "\""},
      {"\"a\"b\"", "\"a\"b\""},
      {"\"a\" \"b\"", "\"a\" \"b\""},
      {"\"only at the start", "\"only at the start"},
  };
  for (const row& r : rows) EXPECT_EQ(form::unquoted(r.typed), r.read) << r.typed;
}

// Quoted paths in both boxes are split as if typed bare; a missing one is
// named without its quotes.
TEST(Form, SplitsFromQuotedPaths) {
  temp_dir dir;
  write_file(dir.path / "novel.txt", "第一章\n甲\n第二章\n乙\n");
  fake_view view;
  form f(view, {dir.path.string(), true, "", '/'});
  f.load();
  view.source = "\"" + (dir.path / "novel.txt").string() + "\"";
  view.destination = " \"" + dir.slash() + "\" ";
  f.split_clicked();
  EXPECT_EQ(view.messages, std::vector<std::string>{std::string(quorrel::messages::finished)});
  EXPECT_TRUE(fs::exists(dir.path / "0001.txt"));
  EXPECT_EQ(view.caption, quorrel::messages::progress(2));

  view.messages.clear();
  view.source = "\"" + (dir.path / "missing.txt").string() + "\"";
  f.split_clicked();
  EXPECT_EQ(view.messages,
            std::vector<std::string>{quorrel::messages::source_missing((dir.path / "missing.txt").string())});
}

// In one long piece without headings the window still handles its events,
// by the clock and not by the line: only with the total while the clock
// stands still, and regularly while it runs; a close seen there stops the run, keeps no half
// piece and closes the window without a message; a close taken back at once
// (a cancelled sign-out) lets the run go on.
TEST(Form, LetsEventsThroughInALongPieceByTheClock) {
  temp_dir dir;
  write_headingless(dir.path / "novel.txt", 80'000);  // 8 MB, eight read blocks
  struct row {
    std::chrono::milliseconds step;
    bool close, withdrawn;
    int min_events, max_events;
  };
  const row rows[] = {
      {std::chrono::milliseconds(0), false, false, 1, 1},  // at the total only
      {form::events_every, false, false, 8, 1'000},
      {std::chrono::milliseconds(1), false, false, 1, 2},
      {form::events_every, true, false, 1, 1},
      {form::events_every, true, true, 8, 1'000},
  };
  for (const row& r : rows) {
    fake_view view;
    form f(view, {dir.path.string(), true, "", '/'});
    f.load();
    view.source = (dir.path / "novel.txt").string();
    view.destination = dir.slash() + "out-";
    view.clock_step = r.step;
    view.on_events = [&] {
      if (r.close) {
        EXPECT_FALSE(f.close_asked());  // refused while the run is on
      }
      if (r.withdrawn) f.close_withdrawn();
    };
    f.split_clicked();
    const bool closes = r.close && !r.withdrawn;
    EXPECT_GE(view.events, r.min_events) << r.step.count();
    EXPECT_LE(view.events, r.max_events) << r.step.count();
    EXPECT_EQ(view.closed, closes);
    EXPECT_EQ(view.messages.size(), closes ? 0u : 1u);
    EXPECT_EQ(fs::exists(dir.path / "out-0000.txt"), !closes);
    fs::remove(dir.path / "out-0000.txt");
  }
}

// Many one-line chapters: the run is soon done reading and then waits for
// the writer to put thousands of pieces on disk. Events keep coming in that
// wait: one with no line read since the one before can only come from it (the
// keyword list, marked changed at every event, is read again before the next
// line). A close asked there ends the run well before every piece is
// written, closes the window without a message, and leaves the pieces
// written complete and numbered without a gap.
TEST(Form, LetsEventsThroughWhileWaitingForPiecesToBeWritten) {
  temp_dir dir;
  constexpr int chapters = 20'000;  // far more than the writer puts on disk in a few ticks
  {
    std::ofstream out(dir.path / "novel.txt", std::ios::binary);
    for (int i = 0; i < chapters; ++i) out << "第" << i << "章\n";
  }
  fake_view view;
  form f(view, {dir.path.string(), true, "", '/'});
  f.load();
  view.source = (dir.path / "novel.txt").string();
  view.destination = dir.slash();
  view.real_clock = true;
  const auto piece = [&](int number) { return dir.path / quorrel::piece_path("", number); };
  int reads_at_last_event = -1;
  bool closed_in_wait = false;
  view.on_events = [&] {
    if (!closed_in_wait && view.keyword_reads == reads_at_last_event) {
      closed_in_wait = true;
      EXPECT_FALSE(fs::exists(piece(chapters - 1)));  // the writer still has work
      EXPECT_FALSE(f.close_asked());
    }
    reads_at_last_event = view.keyword_reads;
    f.keywords_changed();
  };
  f.split_clicked();
  EXPECT_TRUE(closed_in_wait);
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(view.messages.empty());
  int written = 0;
  while (fs::exists(piece(written))) {
    std::ifstream in(piece(written), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(bytes, "第" + std::to_string(written) + "章\r\n") << written;
    ++written;
  }
  EXPECT_LT(written, chapters);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), written + 1);  // and the source
}

// A stop signal: caught while idle it closes the window at the next poll; a
// split started then stops before writing anything and closes the window.
// Run in a child process, as the signal stays caught for the process's life.
TEST(FormDeathTest, AStopSignalClosesTheWindow) {
  temp_dir dir;
  write_file(dir.path / "novel.txt", "第一章\n甲\n");
  const auto child = [&] {
    fake_view view;
    form f(view, {dir.path.string(), true, "", '/'});
    f.load();
    f.poll_stop_signal();
    if (view.closed) std::_Exit(2);
    quorrel::catch_stop_signals();
    std::raise(SIGTERM);
    f.poll_stop_signal();
    if (!view.closed) std::_Exit(3);
    view.closed = false;
    view.source = (dir.path / "novel.txt").string();
    view.destination = dir.slash();
    f.split_clicked();
    std::_Exit(view.closed && view.messages.empty() && !fs::exists(dir.path / "0000.txt") ? 0 : 4);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
