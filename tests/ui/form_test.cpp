// The window's behaviour without a toolkit: quorrel::ui::form driven through
// a fake view that records what the window would show, on real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/messages.h"
#include "core/path.h"
#include "core/piece_name.h"  // piece_path
#include "core/stop_signals.h"
#include "tests/support/fake_backend.h"
#include "tests/support/temp_folder.h"
#include "ui/form.h"

namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using quorrel::platform::ScopedBackend;
using quorrel::testing::fake_backend;
using quorrel::testing::temp_folder;
using quorrel::ui::form;
using quorrel::ui::form_view;
using quorrel::ui::start_folders;

// The window, and the desktop it shows its message boxes and dialogs on,
// installed while the view lives.
class fake_view final : public form_view {
 public:
  fake_backend desktop;
  std::vector<std::string>& messages = desktop.messages;
  std::string source, destination, keyword, caption;
  std::vector<std::string> keys;
  bool by_form = false, title_names = false;  // chkByForm, chkTitleNames
  bool keywords_enabled = true;
  int selected = -1;
  int events = 0;         // times events were let through
  int keyword_reads = 0;  // times the run read the keyword list afresh
  bool closed = false;
  bool shown = true;                        // the window is on the screen
  std::chrono::milliseconds clock_step{0};  // each look at the clock advances it by this
  bool real_clock = false;                  // the system's clock instead, for waits on another thread
  std::function<void()> on_events = [] {};

  std::string text(box which) override { return slot(which); }
  void set_text(box which, const std::string& text) override { slot(which) = text; }
  bool ticked(option which) override { return which == option::by_form ? by_form : title_names; }
  void set_ticked(option which, bool ticked) override {
    (which == option::by_form ? by_form : title_names) = ticked;
  }
  void enable_keywords(bool enabled) override { keywords_enabled = enabled; }
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
  void process_events() override {
    ++events;
    on_events();
  }
  void close_window() override { closed = true; }
  void hide_window() override { shown = false; }
  void* native_window() override { return this; }
  std::chrono::steady_clock::time_point now() override {
    return real_clock ? std::chrono::steady_clock::now() : time_ += clock_step;
  }

 private:
  std::string& slot(box which) {
    return which == box::source ? source : which == box::destination ? destination : keyword;
  }
  std::chrono::steady_clock::time_point time_{};
  const ScopedBackend installed_{desktop};
};

// A path written with '/' in the platform's own spelling.
std::string native(std::string path) {
  std::replace(path.begin(), path.end(), '/', quorrel::separator);
  return path;
}

// `lines` lines of body text with no heading: one long piece.
void write_headingless(const std::string& path, int lines) {
  std::ofstream out(quorrel::testing::utf8_path(path), std::ios::binary);
  const std::string line(100, 'x');
  for (int i = 0; i < lines; ++i) out << line << '\n';
}

// The folders come from the desktop; the destination ends in exactly one
// separator, a root included.
TEST(Form, StartsWithKeywordsAndAWritableDestination) {
  struct row {
    std::string program;
    bool writable;
    std::string source, destination;
  };
  const row rows[] = {
      {"D:/Tools/Split", true, "", "D:/Tools/Split/"},
      {"D:/", true, "", "D:/"},
      {"D:/Split//", true, "", "D:/Split/"},
      {"C:/Program Files/Quorrel", false, "", "/home/李/文档/"},
      {"D:/Split", true, "D:/小说.txt", "D:/Split/"},
  };
  for (const row& r : rows) {
    fake_view view;
    view.desktop.program_folder = native(r.program);
    view.desktop.documents = native("/home/李/文档");
    if (!r.writable) view.desktop.unwritable.insert(view.desktop.program_folder);
    view.keys = {"old"};
    form f(view, start_folders::of_desktop());
    f.load(r.source);
    EXPECT_EQ(view.keys, (std::vector<std::string>{"第", "章"})) << r.program;
    EXPECT_EQ(view.destination, native(r.destination)) << r.program;
    EXPECT_EQ(view.source, r.source);
    EXPECT_EQ(view.selected, -1);
    EXPECT_TRUE(view.messages.empty());
  }
}

// Add and Delete on the default list "第", "章". Steps: "+text" types text
// and presses Add; "-n" selects row n and presses Delete, "-" presses it with
// the selection as it stands. Add keeps the box's text and the selection;
// after Delete nothing is selected.
TEST(Form, AddAndDeleteEditTheKeywordList) {
  struct row {
    int selected;  // before the first step
    std::vector<std::string> steps, list;
  };
  const std::vector<std::string> four{"第", "章", "回", "节"};
  const row rows[] = {
      {-1, {"+"}, {"第", "章"}},                       // an empty box adds nothing
      {-1, {"+  "}, {"第", "章", "  "}},               // spaces are a keyword
      {-1, {"+ 卷 "}, {"第", "章", " 卷 "}},           // kept as typed
      {-1, {"+回", "+回"}, {"第", "章", "回", "回"}},  // the same twice, twice
      {1, {"+节"}, {"第", "章", "节"}},                // the selection stays
      {-1, {"+回", "+节", "-"}, four},                 // nothing selected
      {-1, {"+回", "+节", "-0"}, {"章", "回", "节"}},
      {-1, {"+回", "+节", "-1"}, {"第", "回", "节"}},
      {-1, {"+回", "+节", "-3"}, {"第", "章", "回"}},
      {-1, {"+回", "+节", "-2", "-"}, {"第", "章", "节"}},
      {-1, {"+回", "+节", "-0", "-0", "-0", "-0"}, {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(::testing::PrintToString(r.steps));
    fake_view view;
    form f(view, {"", true, ""});
    f.load();
    view.selected = r.selected;
    for (const std::string& step : r.steps) {
      if (step[0] == '+') {
        view.keyword = step.substr(1);
        f.add_clicked();
        EXPECT_EQ(view.keyword, step.substr(1));
        EXPECT_EQ(view.selected, r.selected);
      } else {
        if (step.size() > 1) view.selected = std::stoi(step.substr(1));
        f.delete_clicked();
        EXPECT_EQ(view.selected, -1);
      }
    }
    EXPECT_EQ(view.keys, r.list);
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

// Split with something wrong: the checks' message (their order is the
// checks' own) is the one message, and nothing is written; the keywords
// counted are the list's; quoted paths are read bare, and named so. "@"
// stands for the folder.
TEST(Form, SplitReportsTheFirstInputProblem) {
  namespace messages = quorrel::messages;
  struct row {
    std::string source, destination;
    int deleted_keywords;
    std::string message;
  };
  const row rows[] = {
      {"@/source.txt", "", 2, std::string(messages::no_destination)},
      {"@/source.txt", "@/", 2, std::string(messages::no_keywords)},
      {"@/source.txt", "@/out-", 1, std::string(messages::finished)},  // one keyword is enough
      {"\"@/missing.txt\"", "@/", 0, messages::source_missing("@/missing.txt")},
      {" \"@/source.txt\"", " \"@/out-\" ", 0, std::string(messages::finished)},
  };
  for (const row& r : rows) {
    temp_folder dir;
    dir.write("source.txt", "第1章\n甲\n");
    const auto expand = [&](std::string text) {
      if (const auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, dir.path());
      return text;
    };
    fake_view view;
    form f(view, {dir.path(), true, ""});
    f.load();
    for (int i = 0; i < r.deleted_keywords; ++i) {
      view.selected = 0;
      f.delete_clicked();
    }
    view.source = expand(r.source);
    view.destination = expand(r.destination);
    f.split_clicked();
    EXPECT_EQ(view.messages, std::vector<std::string>{expand(r.message)}) << r.source;
    EXPECT_EQ(dir.files().size(), r.message == messages::finished ? 2u : 1u) << r.source;
  }
}

// A typed destination that ends in a separator names a folder: it is made,
// with its missing parents, before the run, or the message says why it
// cannot be and nothing is written. A prefix makes no folder. "@" stands for
// the case's folder.
TEST(Form, MakesATypedDestinationFolder) {
  namespace messages = quorrel::messages;
  struct row {
    std::string destination;
    std::string made;     // where the piece goes, "" when none is written
    std::string message;  // the start of the one message
  };
  const row rows[] = {
      {"@/a/b/", "@/a/b/0000.txt", std::string(messages::finished)},
      {native("@/c/d/"), native("@/c/d/") + "0000.txt", std::string(messages::finished)},
      {" \"@/e/\" ", "@/e/0000.txt", std::string(messages::finished)},
      {"@/source.txt/f/", "", messages::folder_not_made("@/source.txt/f/", "")},
      {"@/g/h", "", messages::write_failed("@/g/h0000.txt", "")},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.destination);
    temp_folder dir;
    const auto expand = [&](std::string text) {
      if (const auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, dir.path());
      return text;
    };
    fake_view view;
    form f(view, {dir.path(), true, ""});
    f.load();
    view.source = dir.write("source.txt", "第1章\n甲\n");
    view.destination = expand(r.destination);
    f.split_clicked();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].rfind(expand(r.message), 0), 0u) << view.messages[0];
    if (!r.made.empty()) {
      EXPECT_EQ(quorrel::testing::read_bytes(expand(r.made)), "第1章\r\n甲\r\n");
    } else {
      EXPECT_EQ(dir.files(), std::vector<std::string>{"source.txt"});
      EXPECT_FALSE(fs::exists(quorrel::testing::utf8_path(dir / "g")));
    }
  }
}

// The two check boxes: both cleared at load (whatever the view held), the
// keyword controls greyed out while 按标题格式分章 is ticked, keeping their
// list, which a split by form neither reads nor requires; the rule and names
// the run gets, seen in the pieces' names; and with the form rule, the message
// when no heading at all is found. A book of one chapter opened by its
// heading is one piece too, but its heading was found. A source named as a
// titled piece is refused only when pieces are named by title.
TEST(Form, CheckBoxesChooseTheRuleAndTheNames) {
  namespace messages = quorrel::messages;
  struct row {
    bool by_form, title_names, no_keywords;
    std::string text;
    std::vector<std::string> pieces;    // what the folder "out" holds after the split
    std::string_view message;           // empty: the source would be overwritten
    std::string source = "source.txt";  // in the folder "out" when not this
  };
  const std::vector<std::string> titled{"0000.txt", "0001 第一回 风起.txt", "0002 第二回 云涌.txt"};
  const std::string_view done = messages::finished;
  const std::string classic = "话说天下大势，分久必合。\n第一回 风起\n甲\n第二回 云涌\n乙\n";
  const row rows[] = {
      {false, false, false, classic, {"0000.txt"}, done},  // 第 and 章: no heading
      {false, true, false, classic, {"0000.txt"}, done},
      {true, false, false, classic, {"0000.txt", "0001.txt", "0002.txt"}, done},
      {true, true, false, classic, titled, done},
      {true, true, true, classic, titled, done},
      {false, false, true, classic, {}, messages::no_keywords},
      {true, true, false, classic, {titled[1]}, "", titled[1]},
      {true, false, false, classic, {"0000.txt", titled[1], "0001.txt", "0002.txt"}, done, titled[1]},
      {true, true, false, "第一回 风起\n甲\n", {"0000 第一回 风起.txt"}, done},
      {true, true, false, "甲\n乙\n", {"0000.txt"}, messages::no_heading_found},
      {false, false, false, "甲\n乙\n", {"0000.txt"}, done},  // only the form rule says so
  };
  for (const row& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.by_form << r.title_names << r.no_keywords << r.text);
    temp_folder dir;
    fake_view view;
    view.by_form = view.title_names = true;
    view.keywords_enabled = false;
    form f(view, {dir.path(), true, ""});
    f.load();
    EXPECT_FALSE(view.by_form || view.title_names);
    EXPECT_TRUE(view.keywords_enabled);
    if (r.no_keywords) view.keys.clear();
    const std::vector<std::string> keys = view.keys;
    view.by_form = r.by_form;
    view.title_names = r.title_names;
    f.option_clicked();
    EXPECT_EQ(view.keywords_enabled, !r.by_form);
    fs::create_directory(quorrel::testing::utf8_path(dir / "out"));
    view.source = dir.write(r.source == "source.txt" ? r.source : "out/" + r.source, r.text);
    view.destination = dir / "out/";
    f.split_clicked();
    const std::string message =
        r.message.empty() ? messages::would_overwrite(view.source) : std::string(r.message);
    EXPECT_EQ(view.messages, std::vector<std::string>{message});
    EXPECT_EQ(dir.files("out"), r.pieces);
    EXPECT_EQ(view.keys, keys);
  }
}

// Keywords added or deleted while a run is on (at its first heading, where
// the window lets events through) apply from the next line; a list emptied
// makes every later line a heading.
TEST(Form, KeywordEditsDuringASplitApplyToLaterLines) {
  struct row {
    std::string source;
    std::string added;  // typed and added
    int deleted[2];     // rows deleted in turn, -1 none
    std::vector<std::string> pieces;
  };
  const std::string text = "第一章 甲\n第二天\n第二章 乙\n丙\n第三章 丁\n戊\n";
  const row rows[] = {
      {text, "二", {-1, -1}, {"第一章 甲\r\n第二天\r\n", "第二章 乙\r\n丙\r\n第三章 丁\r\n戊\r\n"}},
      {text, "", {1, -1}, {"第一章 甲\r\n", "第二天\r\n", "第二章 乙\r\n丙\r\n", "第三章 丁\r\n戊\r\n"}},
      {"序\n第一章 甲\n乙\n丙 丁\n", "", {0, 0}, {"\r\n序\r\n", "第一章 甲\r\n", "乙\r\n", "丙 丁\r\n"}},
  };
  for (const row& r : rows) {
    temp_folder dir;
    const std::string source = dir.write("source.txt", r.source);
    fake_view view;
    form f(view, {dir.path(), true, ""});
    f.load();
    view.source = source;
    view.destination = dir.dir() + "out-";
    bool edited = false;
    view.on_events = [&] {
      if (std::exchange(edited, true)) return;
      if (!r.added.empty()) {
        view.keyword = r.added;
        f.add_clicked();
      }
      for (const int deleted : r.deleted) {
        if (deleted < 0) continue;
        view.selected = deleted;
        f.delete_clicked();
      }
    };
    f.split_clicked();
    EXPECT_EQ(view.messages, std::vector<std::string>{std::string(quorrel::messages::finished)});
    std::vector<std::string> written;
    for (std::size_t k = 0; k < r.pieces.size(); ++k)
      written.push_back(quorrel::testing::read_bytes(dir / ("out-000" + std::to_string(k) + ".txt")));
    EXPECT_EQ(written, r.pieces) << r.added;
    EXPECT_EQ(dir.files().size(), r.pieces.size() + 1);
  }
}

// Closed ("c") at the first chapter heading, after the preamble's piece, also
// on a second run: that piece stays whole, the chapter begun is removed,
// nothing else is written, the window closes without a message. A sign-out
// there ("q") is refused and stops the run the same way, but the window waits
// for its outcome: ended ("e"), the view destroys it at once; cancelled ("x"),
// the close is taken back, and a run still going goes on. The user's close
// stays asked, whichever came first.
TEST(Form, ClosingOrSigningOutDuringASplitStopsIt) {
  struct row {
    bool split_before;
    std::string during, after;  // at the first heading; once the run has returned
    bool stopped, closed;
    bool answer;  // the last step's after the run; for "e", destroy the window now
  };
  const row rows[] = {
      {false, "c", "", true, true, false},    {true, "c", "", true, true, false},
      {false, "q", "e", true, false, true},   {false, "q", "x", true, false, false},
      {false, "qx", "", false, false, false}, {false, "qe", "", true, true, false},
      {false, "cq", "x", true, true, false},  {false, "qc", "x", true, true, false},
      {false, "", "q", false, false, true},  // no split: the session may end
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.during + "|" + r.after);
    temp_folder dir;
    std::string text = "序\n";
    for (int k = 1; k <= 50; ++k) text += "第" + std::to_string(k) + "章\n正文\n";
    const std::string source = dir.write("source.txt", text);
    fake_view view;
    form f(view, {dir.path(), true, ""});
    f.load();
    view.source = source;
    if (r.split_before) {
      temp_folder other;
      view.destination = other.dir();
      f.split_clicked();
      ASSERT_EQ(view.messages.size(), 1u);
      view.messages.clear();
    }
    view.destination = dir.dir();
    const auto act = [&](char step) {
      return step == 'c'   ? f.close_asked()
             : step == 'q' ? f.session_end_asked()
                           : f.session_ended(step == 'e');
    };
    bool acted = false;
    view.on_events = [&] {
      if (std::exchange(acted, true)) return;
      for (const char step : r.during) EXPECT_FALSE(act(step)) << step;
    };
    f.split_clicked();
    bool answer = false;
    for (const char step : r.after) answer = act(step);
    EXPECT_EQ(answer, r.answer);
    EXPECT_EQ(view.closed, r.closed);
    // Only the user's close takes the window off the screen before the run
    // has stopped; a sign-out may yet be cancelled.
    EXPECT_EQ(view.shown, r.during.find('c') == std::string::npos);
    EXPECT_EQ(view.messages.size(), r.stopped ? 0u : 1u);
    EXPECT_EQ(dir.files().size(), r.stopped ? 2u : 52u);
    EXPECT_EQ(quorrel::testing::read_bytes(dir / "0000.txt"), "\r\n序\r\n");
    EXPECT_TRUE(f.close_asked());
  }
}

// A piece that cannot be written ends the run with the system's reason, and
// the caption counts the pieces on disk before it, not the headings read.
TEST(Form, AFailedWriteIsReportedWithThePiecesWritten) {
  temp_folder dir;
  std::string novel;
  for (int k = 1; k <= 400; ++k) novel += "第" + std::to_string(k) + "章\n正文\n";
  fs::create_directories(quorrel::testing::utf8_path(dir / "out/0300.txt"));
  fake_view view;
  form f(view, {dir.path(), true, ""});
  f.load();
  view.source = dir.write("novel.txt", novel);
  view.destination = dir / "out/";
  f.split_clicked();
  const std::string failed = quorrel::messages::write_failed(dir / "out/0300.txt", "");
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].substr(0, failed.size()), failed);
  EXPECT_GT(view.messages[0].size(), failed.size());  // the reason
  EXPECT_EQ(view.caption, quorrel::messages::progress(300));
  EXPECT_EQ(dir.files("out").size(), 300u);
}

// In one long piece without headings the window still handles its events,
// by the clock and not by the line: only with the total while the clock
// stands still, and regularly while it runs; a close seen there stops the run, keeps no half
// piece and closes the window without a message.
TEST(Form, LetsEventsThroughInALongPieceByTheClock) {
  temp_folder dir;
  write_headingless(dir / "novel.txt", 80'000);  // 8 MB, eight read blocks
  struct row {
    std::chrono::milliseconds step;
    bool close;
    int min_events, max_events;
  };
  const row rows[] = {
      {std::chrono::milliseconds(0), false, 1, 1},  // at the total only
      {form::events_every, false, 8, 1'000},
      {std::chrono::milliseconds(1), false, 1, 2},
      {form::events_every, true, 1, 1},
  };
  for (const row& r : rows) {
    fake_view view;
    form f(view, {dir.path(), true, ""});
    f.load();
    view.source = dir / "novel.txt";
    view.destination = dir.dir() + "out-";
    view.clock_step = r.step;
    view.on_events = [&] {
      if (r.close) {
        EXPECT_FALSE(f.close_asked());  // refused while the run is on
        EXPECT_FALSE(view.shown);       // but the window leaves the screen at once
      }
    };
    f.split_clicked();
    EXPECT_GE(view.events, r.min_events) << r.step.count();
    EXPECT_LE(view.events, r.max_events) << r.step.count();
    EXPECT_EQ(view.closed, r.close);
    EXPECT_EQ(view.shown, !r.close);
    EXPECT_EQ(view.messages.size(), r.close ? 0u : 1u);
    EXPECT_EQ(view.caption, r.close ? "" : quorrel::messages::progress(1));
    EXPECT_EQ(dir.files(), (r.close ? std::vector<std::string>{"novel.txt"}
                                    : std::vector<std::string>{"novel.txt", "out-0000.txt"}));
    fs::remove(quorrel::testing::utf8_path(dir / "out-0000.txt"));
  }
}

// The Browse buttons on a scripted desktop: what each dialog is asked and
// what its answer leaves in the window. "@" stands for the temporary folder,
// "#" for the program's; "-" in `file` presses the destination's Browse.
TEST(Form, BrowseButtonsPutTheAnswerIntoTheirBox) {
  struct row {
    std::string before, file, folder, start, after;
  };
  const row rows[] = {
      {"", "@/书/a.txt", "", "#", "@/书/a.txt"},
      {"@/书/a.txt", "@/书/b.txt\0\0\0x"s, "", "#", "@/书/b.txt"},  // cut at a NUL
      {"@/书/a.txt", "", "", "#", ""},                              // cancel
      {"@/书", "@/书/a.txt", "", "@/书/", "@/书/a.txt"},
      {"@/书/", "-", "@/out", "", "@/out/"},
      {"@/书/", "-", "@/out//", "", "@/out/"},
      {"@/书/", "-", "", "", ""},            // cancel empties the default
      {"@/书/", "-", "@/书/a.txt", "", ""},  // not a folder
      {"@/书/", "-", "@/无", "", ""},        // missing
  };
  temp_folder dir;
  for (const char* folder : {"书", "out", "程序"})
    fs::create_directory(quorrel::testing::utf8_path(dir / folder));
  dir.write("书/a.txt", "第一章\n");
  const auto expand = [&](std::string path) {
    for (const auto& [mark, folder] : {std::pair{'#', dir / "程序"}, std::pair{'@', dir.path()}})
      if (const auto at = path.find(mark); at != std::string::npos) path.replace(at, 1, folder);
    return native(path);
  };
  for (const row& r : rows) {
    fake_view view;
    fake_backend& desktop = view.desktop;
    desktop.program_folder = expand("#");
    const bool source = r.file != "-";
    desktop.file_answer = expand(r.file);
    desktop.folder_answer = expand(r.folder);
    form f(view, start_folders::of_desktop());
    f.load();
    const std::string other = source ? view.destination : view.source;
    (source ? view.source : view.destination) = expand(r.before);
    source ? f.browse_source_clicked() : f.browse_destination_clicked();
    EXPECT_EQ(source ? view.source : view.destination, expand(r.after)) << r.file << r.folder;
    EXPECT_EQ(source ? view.destination : view.source, other);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    const fake_backend::dialog& shown = desktop.dialogs[0];
    EXPECT_EQ(shown.owner, view.native_window());
    EXPECT_EQ(shown.title, source ? "选择" : "选择目录");
    EXPECT_EQ(shown.start, source ? expand(r.start) : "");
    EXPECT_EQ(shown.csidl, source ? -1 : 0);
    EXPECT_EQ(shown.filters.size(), source ? 1u : 0u);
    EXPECT_TRUE(view.messages.empty());
  }
}

// The shop button and the link open the page and tell the user nothing,
// whether the browser took it or not.
TEST(Form, ShopButtonOpensTheShopPageSilently) {
  for (const bool accepted : {true, false}) {
    fake_view view;
    fake_backend& desktop = view.desktop;
    desktop.accepted = accepted;
    desktop.refusal = "没有浏览器";
    form f(view, start_folders::of_desktop());
    f.load();
    view.caption = "www.quorrel-shop.example";
    f.shop_clicked();
    EXPECT_EQ(desktop.opened, std::vector<std::string>{"https://www.quorrel-shop.example/recharge"});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.caption, "www.quorrel-shop.example");
  }
}

// Pressed during a run, the other buttons leave it intact: a Browse button
// changes only its box, as the run keeps the source and destination it
// checked; a second Split is ignored (a nested run would write the same
// pieces); the shop page opens.
TEST(Form, OtherButtonsDuringASplitLeaveItIntact) {
  temp_folder dir;
  fs::create_directory(quorrel::testing::utf8_path(dir / "out"));
  std::string novel_text;
  for (int k = 1; k <= 5; ++k) novel_text += "第" + std::to_string(k) + "章\n正文\n";
  const std::string novel = dir.write("a.txt", novel_text);
  struct row {
    void (form::*press)();
    std::string source, destination;  // the boxes after the run
  };
  const row rows[] = {
      {&form::browse_source_clicked, dir / "b.txt", dir / "out/"},
      {&form::browse_destination_clicked, novel, dir.path() + quorrel::separator},
      {&form::split_clicked, novel, dir / "out/"},
      {&form::shop_clicked, novel, dir / "out/"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(&r - rows);
    fake_view view;
    fake_backend& desktop = view.desktop;
    desktop.file_answer = dir / "b.txt";
    desktop.folder_answer = dir.path();
    form f(view, {dir.path(), true, ""});
    f.load();
    view.source = novel;
    view.destination = dir / "out/";
    bool pressed = false;
    view.on_events = [&] {
      if (std::exchange(pressed, true)) return;
      EXPECT_EQ(view.caption, quorrel::messages::progress(0));  // drawn before events pass
      (f.*r.press)();
    };
    f.split_clicked();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(view.source, r.source);
    EXPECT_EQ(view.destination, r.destination);
    EXPECT_EQ(view.messages, std::vector<std::string>{std::string(quorrel::messages::finished)});
    EXPECT_EQ(dir.files("out"),
              (std::vector<std::string>{"0000.txt", "0001.txt", "0002.txt", "0003.txt", "0004.txt"}));
    EXPECT_EQ(dir.files(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(desktop.opened.size(), r.press == &form::shop_clicked ? 1u : 0u);
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
  temp_folder dir;
  constexpr int chapters = 20'000;  // far more than the writer puts on disk in a few ticks
  {
    std::string novel;
    for (int i = 0; i < chapters; ++i) novel += "第" + std::to_string(i) + "章\n";
    dir.write("novel.txt", novel);
  }
  fake_view view;
  form f(view, {dir.path(), true, ""});
  f.load();
  view.source = dir / "novel.txt";
  view.destination = dir.dir();
  view.real_clock = true;
  const auto piece = [&](int number) {
    return quorrel::testing::utf8_path(quorrel::piece_path(dir.dir(), number));
  };
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
  EXPECT_EQ(dir.files().size(), static_cast<std::size_t>(written) + 1);  // and the source
}

// A stop signal: caught while idle it closes the window at the next poll; a
// split started then stops before writing anything and closes the window.
// Run in a child process, as the signal stays caught for the process's life.
TEST(FormDeathTest, AStopSignalClosesTheWindow) {
  temp_folder dir;
  const std::string novel = dir.write("novel.txt", "第一章\n甲\n");
  const auto child = [&] {
    fake_view view;
    form f(view, {dir.path(), true, ""});
    f.load();
    f.poll_stop_signal();
    if (view.closed) std::_Exit(2);
    quorrel::catch_stop_signals();
    std::raise(SIGTERM);
    f.poll_stop_signal();
    if (!view.closed) std::_Exit(3);
    view.closed = false;
    view.source = novel;
    view.destination = dir.dir();
    f.split_clicked();
    std::_Exit(view.closed && view.messages.empty() && dir.files().size() == 1 ? 0 : 4);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
