// quorrel-split cases that need what only POSIX systems have: FIFOs and
// links among the inputs, and signals sent to a running tool.

#include "split_process.h"

#include <fcntl.h>        // open
#include <signal.h>       // kill, SIGHUP, SIGINT, SIGTERM
#include <sys/inotify.h>  // a FIFO's opens, watched
#include <sys/stat.h>     // mkfifo, stat
#include <unistd.h>       // usleep

namespace {

using namespace quorrel::cli_testing;

TEST(cli, ReportsSpecialFilesAmongTheInputs) {
  struct row {
    const char* name;
    std::string source, destination;
    std::string message;  // "{dir}" stands for the case's folder
  };
  const row rows[] = {
      {"a FIFO as source", "{dir}/pipe", "{dir}/out", "文件“{dir}/pipe”不存在"},
      {"a hard link to the source among the pieces", "{dir}/book.txt", "{dir}/hard",
       "分割文件会覆盖原始文件“{dir}/book.txt”，请选择其他存放目录"},
      {"a symbolic link to the source among the pieces", "{dir}/book.txt", "{dir}/sub/soft",
       "分割文件会覆盖原始文件“{dir}/book.txt”，请选择其他存放目录"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    ASSERT_TRUE(make_folder(dir / "sub"));
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_hard_link(dir / "book.txt", dir / "hard0007.txt");
    fs::create_symlink(dir / "book.txt", dir / "sub/soft0002.txt");
    const listing before = folder_contents(dir.path());
    launch how;
    how.cwd = dir.path();
    const outcome o = run(in_folder({r.source, r.destination}, dir), how);
    EXPECT_EQ(o.exit_code, 1) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, replace_all(r.message, "{dir}", dir.path()) + "\n");
    expect_contents(dir.path(), before);
  }

  // A FIFO where a piece goes is refused without being opened even once,
  // also while a reader holds it open: an open can act on the other end.
  temp_folder dir;
  write_file(dir / "book.txt", three_chapters);
  ASSERT_EQ(::mkfifo((dir / "out0000.txt").c_str(), 0600), 0);
  const int reader = ::open((dir / "out0000.txt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, (dir / "out0000.txt").c_str(), IN_OPEN), 0);
  const outcome o = run({dir / "book.txt", dir / "out"});
  EXPECT_EQ(o.err, "写入文件“" + dir / "out0000.txt" + "”失败：这是一个命名管道\n") << o;
  alignas(inotify_event) char events[4096];
  EXPECT_EQ(::read(watch, events, sizeof events), -1) << "the FIFO was opened";
  ::close(watch);
  ::close(reader);
}

// ---------------------------------------------------------------------------
// Interruption

TEST(cli, WritesTheTableOfContentsOnlyAsANewFileOfItsOwn) {
  struct row {
    const char* name;
    std::string contents;  // --contents=, in the folder
    int exit_code;
    std::string reason;
    std::vector<std::string> options = {};
  };
  const row rows[] = {
      {"a link is refused, not followed", "link.json", 1, "这是一个符号链接"},
      {"a pipe is refused", "pipe.json", 1, "这是一个命名管道"},
      {"a piece of the run is refused before the split", "p-0000.txt", 1, "分割文件可能使用这个文件名"},
      {"the last piece, through another spelling of the folder", "sub/../p-0002.txt", 1,
       "分割文件可能使用这个文件名"},
      {"a number past the run's pieces is still a piece's name", "p-9999.txt", 1,
       "分割文件可能使用这个文件名"},
      {"a titled piece's name", "p-0001 第一章 起.txt", 1, "分割文件可能使用这个文件名", {"--names=title"}},
      {"three digits name no piece", "p-000.txt", 0, ""},
      {"a missing folder: nothing is written", "missing/toc.json", 2, "No such file or directory"},
      {"a regular file is replaced whole", "old.json", 0, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", three_chapters);
    write_file(dir / "victim", "keep");
    write_file(dir / "old.json", "old");
    ASSERT_TRUE(make_folder(dir / "sub"));
    fs::create_symlink(dir / "victim", dir / "link.json");
    ASSERT_EQ(::mkfifo((dir / "pipe.json").c_str(), 0600), 0);
    std::vector<std::string> args = r.options;
    for (const std::string& a : {"--contents=" + (dir / r.contents), dir / "book.txt", dir / "p-"})
      args.push_back(a);
    const outcome o = run(args);
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    EXPECT_EQ(read_file(dir / "victim"), "keep");
    if (r.exit_code != 0) {
      EXPECT_NE(o.err.find(r.reason), std::string::npos) << o;
    } else {
      EXPECT_TRUE(read_file(dir / r.contents).starts_with("{\n  \"source\": ")) << o;
    }
    // Nothing but the pieces and the table is left: no temporary file.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) files += entry.path().extension() == ".tmp";
    EXPECT_EQ(files, 0u);
    // Refused before the split, or the split whole.
    if (r.exit_code != 0) EXPECT_FALSE(fs::exists(dir / "p-0000.txt"));
    else EXPECT_EQ(read_file(dir / "p-0001.txt"), three_pieces[1]);
  }
}

// The outputs are written as the run goes: however many pieces, the tool
// stays within the split's memory budget (32 MiB, as in source_test.cpp).
TEST(cli, OutputsKeepMemoryBoundedWhateverTheNumberOfPieces) {
  temp_folder dir;
  {
    // 40,000 chapters of one line, each heading 500 bytes long: each piece
    // is a finding of --check (too short) and an entry of the table.
    std::string chapters;
    for (int i = 1; i <= 40'000; ++i) chapters += "第" + std::to_string(i) + "章 " + repeat("风", 160) + "\n";
    write_file(dir / "chapters.txt", chapters);
    // One piece holding 60,000 near misses (the next number, refused for its
    // full stop): all of them wait for the piece's own finding, which comes
    // first in the report.
    std::string near;
    for (int i = 1; i < 30; ++i) near += "第" + std::to_string(i) + "章 风起\n正文\n正文\n";
    for (int i = 0; i < 60'000; ++i) near += "第30章 他说完了" + std::to_string(i) + "。然后走了很远\n正文\n";
    write_file(dir / "near.txt", near);
  }  // gone before the tool starts: a child's peak counts its parent's memory at the fork
  ASSERT_TRUE(make_folder(dir / "out"));
  struct row {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    std::string output;  // the file standard output or the table goes to
    std::size_t lines;   // in it
  };
  const row rows[] = {
      {"--check", {"--check", dir / "chapters.txt", dir / "out/"}, 3, dir / "report.txt", 40'001},
      {"--list --json",
       {"--list", "--json", dir / "chapters.txt", dir / "out/"},
       0,
       dir / "report.txt",
       40'010},
      {"--contents",
       {"-q", "--contents=" + (dir / "toc.json"), dir / "chapters.txt", dir / "out/"},
       0,
       dir / "toc.json",
       40'010},
      {"--check, near misses",
       {"--headings=auto", "--check", "--max-size=1M", dir / "near.txt", dir / "out/"},
       3,
       dir / "report.txt",
       60'002},
  };
  // Read a line at a time, so that this process stays small: its first
  // line and the one before its last.
  auto lines_of = [](const std::string& path, std::string& first, std::string& before_last) {
    std::ifstream in(path, std::ios::binary);
    std::size_t count = 0;
    std::string last;
    for (std::string line; std::getline(in, line); ++count) {
      if (count == 0) first = line;
      before_last = std::exchange(last, line);
    }
    return count;
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    write_file(dir / "report.txt", "");
    launch how;
    how.stdout_file = dir / "report.txt";
    const outcome o = run(r.args, how);
    EXPECT_EQ(o.exit_code, r.exit_code) << o.err;
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer keeps 256 MiB of freed blocks
    EXPECT_LT(o.peak_memory_kib, 32 * 1024) << "peak resident memory of the tool, KiB";
#endif
    std::string first, last;
    EXPECT_EQ(lines_of(r.output, first, last), r.lines);
    if (r.lines == 60'002) {
      // In the order of the source: the piece (line 85), then what is in it.
      EXPECT_TRUE(first.starts_with(dir / "near.txt:85: 过大：")) << first;
      EXPECT_EQ(last,
                dir / "near.txt:120086: 疑似标题（未作标题，含句号）：第30章 他说完了59999。然后走了很远");
    }
  }
}

TEST(cli, StopSignalsKeepOnlyCompletePiecesAndIgnoredOnesStayIgnored) {
  const novel book = long_novel(100 * 1024 * 1024);
  ASSERT_GT(book.pieces.size(), 100u);
  struct row {
    const char* name;
    int signal;
    std::vector<int> ignored;  // at the tool's start
    int exit_code;             // 0: the run went on to its end
  };
  const row rows[] = {
      {"SIGHUP: the terminal closed", SIGHUP, {}, 129},
      {"SIGINT", SIGINT, {}, 130},
      {"SIGTERM", SIGTERM, {}, 143},
      {"SIGINT ignored by the caller (trap '' INT)", SIGINT, {SIGINT}, 0},
      {"SIGHUP ignored by nohup, SIGTERM still stops", SIGTERM, {SIGHUP}, 143},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    ASSERT_TRUE(make_folder(dir / "out"));

    // Once the first piece is whole, wait for a later one caught half-way
    // on disk, hold the tool there and signal it: that piece must go.
    launch how;
    how.ignored_signals = r.ignored;
    process split({"-q", dir / "book.txt", dir / "out/"}, how);
    std::size_t next = 0;  // the first piece not yet seen whole
    bool signalled = false;
    while (!signalled && next < book.pieces.size() && split.running()) {
      struct stat info {};
      const std::string path = dir / ("out/" + piece_name(next));
      if (::stat(path.c_str(), &info) != 0) {
        ::usleep(200);
        continue;
      }
      if (static_cast<std::size_t>(info.st_size) >= book.pieces[next].size()) {
        ++next;
        continue;
      }
      if (next == 0 || !split.pause()) continue;
      const bool still_partial = ::stat(path.c_str(), &info) == 0 &&
                                 static_cast<std::size_t>(info.st_size) < book.pieces[next].size();
      if (still_partial) {
        ASSERT_EQ(::kill(split.pid(), r.signal), 0);
        signalled = true;
      }
      split.resume();
    }
    ASSERT_TRUE(signalled) << "the run ended before a piece was caught half-written";
    const outcome o = split.finish();
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    EXPECT_EQ(o.out, r.exit_code == 0 ? saved : "");
    EXPECT_EQ(o.err, "");

    // The pieces left are 0000 onwards without a gap, each whole.
    const listing left = folder_contents(dir / "out");
    EXPECT_GE(left.size(), 1u);
    if (r.exit_code == 0) {
      EXPECT_EQ(left.size(), book.pieces.size()) << "the ignored signal stopped the run";
    } else {
      EXPECT_LT(left.size(), book.pieces.size()) << "the run was not interrupted";
    }
    for (std::size_t i = 0; i < left.size() && i < book.pieces.size(); ++i) {
      const auto found = left.find(piece_name(i));
      if (found == left.end()) {
        ADD_FAILURE() << "missing " << piece_name(i) << " among " << left.size() << " files";
        continue;
      }
      EXPECT_TRUE(same_bytes(found->second, book.pieces[i])) << "in " << piece_name(i);
    }
  }
}

// A stop is acted on while the tool waits on the system: a source whose
// read never returns (/proc/kmsg, root only), and a listing into a pipe
// nobody reads. Nothing is restarted after the signal: the tool ends with
// 143 while the wait would still go on.
TEST(cli, AStopEndsAWaitOnTheSystem) {
  temp_folder dir;
  std::string chapters;
  for (int i = 0; i < 20'000; ++i) chapters += "第" + std::to_string(i) + "章\n";
  write_file(dir / "book.txt", chapters);
  ASSERT_TRUE(make_folder(dir / "out"));
  struct row {
    const char* name;
    std::vector<std::string> args;
  };
  const row rows[] = {
      {"a read that stalls", {"-q", "/proc/kmsg", dir / "out/"}},
      {"standard output nobody reads", {"--list", dir / "book.txt", dir / "out/"}},
      {"a table of contents nobody reads", {"--list", "--json", dir / "book.txt", dir / "out/"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.args[1] == "/proc/kmsg" && ::access("/proc/kmsg", R_OK) != 0) {
      std::cout << "skipped: /proc/kmsg cannot be read here\n";
      continue;
    }
    launch how;
    how.deadline = std::chrono::seconds(60);
    process split(r.args, how);
    ::usleep(500'000);  // into the wait
    ASSERT_TRUE(split.running()) << "the tool did not wait";
    ASSERT_EQ(::kill(split.pid(), SIGTERM), 0);
    bool ended = false;  // while the wait would still go on: nothing read from its output
    for (int i = 0; i < 100 && !ended; ++i) {
      ended = !split.running();
      if (!ended) ::usleep(100'000);
    }
    const outcome o = split.finish();
    EXPECT_TRUE(ended) << "still waiting 10 s after SIGTERM";
    EXPECT_EQ(o.exit_code, 143) << o;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(folder_contents(dir / "out").empty());
  }
}

}  // namespace
