// Destinations that fail under quorrel-split: a path through a regular file,
// a folder the user may not write, a file-size limit at and around a piece's
// size, a file system that is full (of bytes or of files), and a piece's
// path that holds what is not the run's to write (a link, a pipe, a device,
// a file the user may not write, the source itself). Each failure must name
// the piece and the reason, exit with 2, keep every piece before it whole,
// leave no part of the piece that failed and touch nothing else. A file that
// another name or user shares is made afresh; a folder another run is
// writing into is refused.

#include <fcntl.h>          // open: a reader on a FIFO
#include <sys/file.h>       // flock: the lock of a run writing into a folder
#include <sys/stat.h>       // mknod, mkfifo
#include <sys/syscall.h>    // SYS_tgkill: a signal aimed at one thread of the tool
#include <sys/sysmacros.h>  // makedev: a character device

#include <gtest/gtest.h>

#include <functional>

#include "reliability.h"

namespace quorrel::reliability {
namespace {

// Three chapters; the second holds a 3 MiB line, so it reaches the disk in
// several writes and a failure can catch it half-way.
novel three_chapter_book() {
  novel book;
  book.heading("第一章");
  book.line("甲");
  book.heading("第二章");
  book.line(repeat("乙", 1024 * 1024));
  book.heading("第三章");
  book.line("丙");
  return book;
}

struct fault {
  const char* name;
  std::vector<std::string> args;     // "{dir}" stands for the case's folder
  std::vector<std::string> folders;  // made before the run, relative to the folder
  std::vector<std::string> files;    // made before the run, empty
  rlim_t file_size_limit = RLIM_INFINITY;
  std::string message;      // on stderr, "{dir}" replaced
  std::size_t pieces_kept;  // at `prefix`, from 0000
  std::string prefix = "out";
};

void expect_fault(const fault& f, const novel& book, const temp_folder& dir, const launch& base) {
  const listing before = folder_contents(dir.path());
  launch how = base;
  how.file_size_limit = f.file_size_limit;
  const outcome o = run(in_folder(f.args, dir), how);
  EXPECT_EQ(o.exit_code, 2) << o;
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, replace_all(f.message, "{dir}", dir.path()) + "\n");
  const std::vector<std::string> kept(book.pieces.begin(),
                                      book.pieces.begin() + static_cast<std::ptrdiff_t>(f.pieces_kept));
  expect_contents(dir.path(), with_pieces(before, f.prefix, kept));
}

TEST(DestinationFaults, PathThroughAFileOrALimitStopsTheRunAndKeepsWholePieces) {
  const novel book = three_chapter_book();
  const std::size_t first = book.pieces[0].size(), second = book.pieces[1].size();
  const std::vector<fault> faults = {
      {"a destination through a regular file",
       {"{dir}/book.txt", "{dir}/plain/out"},
       {},
       {"plain"},
       RLIM_INFINITY,
       "写入文件“{dir}/plain/out0000.txt”失败：Not a directory",
       0},
      {"a destination folder that is a regular file",
       {"{dir}/book.txt", "{dir}/plain/"},
       {},
       {"plain"},
       RLIM_INFINITY,
       "创建存放目录“{dir}/plain/”失败：Not a directory",
       0},
      {"a destination through the source itself",
       {"{dir}/book.txt", "{dir}/book.txt/"},
       {},
       {},
       RLIM_INFINITY,
       "创建存放目录“{dir}/book.txt/”失败：Not a directory",
       0},
      {"a file-size limit smaller than the first piece",
       {"{dir}/book.txt", "{dir}/out"},
       {},
       {},
       first - 1,
       "写入文件“{dir}/out0000.txt”失败：File too large",
       0},
      {"a file-size limit one byte short of the long piece",
       {"{dir}/book.txt", "{dir}/out"},
       {},
       {},
       second - 1,
       "写入文件“{dir}/out0001.txt”失败：File too large",
       1},
      {"a file-size limit of one byte",
       {"-e", "UTF-8", "{dir}/book.txt", "{dir}/out"},
       {},
       {},
       1,
       "写入文件“{dir}/out0000.txt”失败：File too large",
       0},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.name);
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    for (const auto& folder : f.folders) ASSERT_TRUE(fs::create_directory(dir / folder));
    for (const auto& file : f.files) write_file(dir / file, "");
    expect_fault(f, book, dir, {});
  }
}

// Four chapters, so that a hazard can wait at any piece up to 0003.
novel four_chapter_book() {
  novel book = three_chapter_book();
  book.heading("第四章");
  book.line("丁");
  return book;
}

// A piece's path that holds what the run must neither write through, nor
// wait on, nor remove. Each is refused on the file met at the path, so the
// run ends there with the write message, nothing outside the pieces touched.
// A file another name or user shares (no reason below) is made afresh: the
// run's own, with one name, and the other name keeps its bytes.
TEST(DestinationFaults, NeverWritesThroughALinkAPipeOrADevice) {
  const novel book = four_chapter_book();
  int reader = -1;  // the FIFO's reading end, held by the test
  struct row {
    const char* name;
    std::function<std::string(const temp_folder&)> make;  // puts it at dest/0001.txt; why it cannot, or ""
    std::string reason;
  };
  const std::vector<row> rows = {
      {"a hard link to a file outside",
       [](const temp_folder& dir) {
         fs::create_hard_link(dir / "outside/kept.txt", dir / "dest/0001.txt");
         return "";
       },
       ""},
      {"a symbolic link to a file outside",
       [](const temp_folder& dir) {
         fs::create_symlink(dir / "outside/kept.txt", dir / "dest/0001.txt");
         return "";
       },
       "这是一个符号链接"},
      {"a dangling symbolic link",
       [](const temp_folder& dir) {
         fs::create_symlink(dir / "outside/new.txt", dir / "dest/0001.txt");
         return "";
       },
       "这是一个符号链接"},
      {"a FIFO without a reader",
       [](const temp_folder& dir) {
         return ::mkfifo((dir / "dest/0001.txt").c_str(), 0666) == 0 ? "" : "mkfifo";
       },
       "这是一个命名管道"},
      {"a FIFO with a reader",
       [&reader](const temp_folder& dir) {
         if (::mkfifo((dir / "dest/0001.txt").c_str(), 0666) != 0) return "mkfifo";
         reader = ::open((dir / "dest/0001.txt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
         return reader >= 0 ? "" : "open";
       },
       "这是一个命名管道"},
      // Last: where files cannot be given away or devices made, the test ends here as skipped.
      {"another user's writable file in a sticky folder",
       [](const temp_folder& dir) {
         const std::string piece = dir / "dest/0001.txt";
         write_file(piece, "another user's\n");
         const bool given = ::chown(piece.c_str(), unprivileged_user, unprivileged_user) == 0;
         return given && ::chmod(piece.c_str(), 0666) == 0 && ::chmod((dir / "dest").c_str(), 01777) == 0
                    ? ""
                    : "chown";
       },
       ""},
      {"a character device",
       [](const temp_folder& dir) {
         return ::mknod((dir / "dest/0001.txt").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0
                    ? ""
                    : std::strerror(errno);
       },
       "这不是普通文件"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    ASSERT_TRUE(fs::create_directory(dir / "dest"));
    ASSERT_TRUE(fs::create_directory(dir / "outside"));
    write_file(dir / "outside/kept.txt", "not a piece\n");
    if (const std::string why = r.make(dir); !why.empty())
      GTEST_SKIP() << r.name << " cannot be made here: " << why;
    if (r.reason.empty()) {
      const listing before = folder_contents(dir.path());
      EXPECT_EQ(run({dir / "book.txt", dir / "dest/"}).exit_code, 0);
      expect_contents(dir.path(), with_pieces(before, "dest/", book.pieces));
      struct stat piece {};
      ASSERT_EQ(::lstat((dir / "dest/0001.txt").c_str(), &piece), 0);
      EXPECT_TRUE(piece.st_nlink == 1 && piece.st_uid == ::geteuid());
      continue;
    }
    launch how;
    how.deadline = std::chrono::seconds(60);  // a run that waits on the FIFO is killed and fails
    expect_fault({r.name,
                  {"{dir}/book.txt", "{dir}/dest/"},
                  {},
                  {},
                  RLIM_INFINITY,
                  "写入文件“{dir}/dest/0001.txt”失败：" + r.reason,
                  1,
                  "dest/"},
                 book, dir, how);
    if (reader >= 0) {
      char byte;
      EXPECT_LE(::read(reader, &byte, 1), 0) << "a piece went into the pipe";
      ::close(reader);
      reader = -1;
    }
  }
}

// What the user may not open stays as it was, and the source is refused
// when it is met as a piece, also in a folder that cannot be listed (where
// the check before the run cannot see it), and another user's file the run
// may write but not remove.
TEST(DestinationFaults, AFileTheRunMayNotWriteStaysAsItWas) {
  const user_choice who = user_without_privileges();
  if (!who.unavailable.empty()) GTEST_SKIP() << "permissions cannot be tested: " << who.unavailable;
  const novel book = four_chapter_book();
  struct row {
    const char* name;
    std::string source;   // "{dir}" stands for the case's folder
    std::string piece;    // in dest/, made before the run: the source's bytes, mode 0644
    mode_t piece_mode;    // then given this mode
    mode_t folder_mode;   // of dest/ during the run
    std::string message;  // "{dir}" replaced
    std::size_t pieces_kept;
    bool users_own = true;  // dest/ and the piece given to the user who runs the tool
  };
  const std::vector<row> rows = {
      {"another user's writable file in a sticky folder", "{dir}/book.txt", "0001.txt", 0666, 01777,
       "写入文件“{dir}/dest/0001.txt”失败：这个文件属于其他用户，无法删除后重建", 1, false},
      {"a read-only piece the user may not write", "{dir}/book.txt", "0001.txt", 0444, 0755,
       "写入文件“{dir}/dest/0001.txt”失败：Permission denied", 1},
      {"the source as 0003.txt in a folder that cannot be listed", "{dir}/dest/0003.txt", "0003.txt", 0644,
       0300, "写入文件“{dir}/dest/0003.txt”失败：这是原始文件本身", 3},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (!r.users_own && !who.user) continue;  // a user who is not root owns every file it makes
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    ASSERT_TRUE(fs::create_directory(dir / "dest"));
    const std::string piece = dir / ("dest/" + r.piece);
    write_file(piece, book.source);
    ASSERT_EQ(::chmod(piece.c_str(), r.piece_mode), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // mkdtemp's folder is 0700
    const listing before = folder_contents(dir.path());
    if (who.user && r.users_own) {
      ASSERT_EQ(::chown((dir / "dest").c_str(), *who.user, *who.user), 0);
      ASSERT_EQ(::chown(piece.c_str(), *who.user, *who.user), 0);
    }
    ASSERT_EQ(::chmod((dir / "dest").c_str(), r.folder_mode), 0);
    launch how;
    how.user = who.user;
    const outcome o = run(in_folder({r.source, "{dir}/dest/"}, dir), how);
    ASSERT_EQ(::chmod((dir / "dest").c_str(), 0755), 0);
    EXPECT_EQ(o.exit_code, 2) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, replace_all(r.message, "{dir}", dir.path()) + "\n");
    const std::vector<std::string> kept(book.pieces.begin(),
                                        book.pieces.begin() + static_cast<std::ptrdiff_t>(r.pieces_kept));
    expect_contents(dir.path(), with_pieces(before, "dest/", kept));
  }
}

TEST(DestinationFaults, AFileSizeLimitThatEachPieceMeetsExactlyIsNoFault) {
  const novel book = three_chapter_book();
  std::size_t largest = 0;
  for (const auto& p : book.pieces) largest = std::max(largest, p.size());
  temp_folder dir;
  write_file(dir / "book.txt", book.source);
  const listing before = folder_contents(dir.path());
  launch how;
  how.file_size_limit = largest;
  const outcome o = run({dir / "book.txt", dir / "out"}, how);
  EXPECT_EQ(o.exit_code, 0) << o;
  EXPECT_EQ(o.out, saved);
  expect_contents(dir.path(), with_pieces(before, "out", book.pieces));
}

// A piece past the file size limit (ulimit -f) is a failed write, even when
// the caller left SIGXFSZ to kill: the message, status 2, no piece cut short.
TEST(DestinationFaults, AFileSizeLimitIsAFailedWriteNeverAKill) {
  const novel book = three_chapter_book();
  temp_folder dir;
  write_file(dir / "book.txt", book.source);
  const listing before = folder_contents(dir.path());
  launch how;
  how.file_size_limit = book.pieces[0].size() - 1;
  how.file_size_signal = true;
  const outcome o = run({dir / "book.txt", dir / "out"}, how);
  EXPECT_EQ(o.signal, 0) << o;
  EXPECT_EQ(o.exit_code, 2) << o;
  EXPECT_EQ(o.err, "写入文件“" + dir / "out0000.txt" + "”失败：File too large\n");
  expect_contents(dir.path(), before);
}

TEST(DestinationFaults, AFolderTheUserMayNotWriteStopsTheRun) {
  const user_choice who = user_without_privileges();
  if (!who.unavailable.empty()) GTEST_SKIP() << "permissions cannot be tested: " << who.unavailable;
  const novel book = three_chapter_book();
  struct row {
    fault f;
    std::vector<std::string> read_only;  // folders made read-only (0555) before the run
  };
  const std::vector<row> rows = {
      {{"a read-only folder",
        {"{dir}/book.txt", "{dir}/locked/"},
        {"locked"},
        {},
        RLIM_INFINITY,
        "写入文件“{dir}/locked/0000.txt”失败：Permission denied",
        0,
        "locked/"},
       {"locked"}},
      {{"a read-only folder, as a name prefix",
        {"{dir}/book.txt", "{dir}/locked/第"},
        {"locked"},
        {},
        RLIM_INFINITY,
        "写入文件“{dir}/locked/第0000.txt”失败：Permission denied",
        0,
        "locked/第"},
       {"locked"}},
      {{"the source's own folder is read-only",
        {"{dir}/book.txt", "{dir}/out"},
        {},
        {},
        RLIM_INFINITY,
        "写入文件“{dir}/out0000.txt”失败：Permission denied",
        0},
       {""}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.f.name);
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    for (const auto& folder : r.f.folders) ASSERT_TRUE(fs::create_directory(dir / folder));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // mkdtemp's folder is 0700
    for (const auto& folder : r.read_only) ASSERT_EQ(::chmod((dir / folder).c_str(), 0555), 0);
    launch how;
    how.user = who.user;
    expect_fault(r.f, book, dir, how);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    for (const auto& folder : r.read_only) ::chmod((dir / folder).c_str(), 0755);
  }
}

// A piece that fills the file system half-way, and a file system out of
// files: a tmpfs of a few MiB or a few inodes in a mount namespace of this
// test's own.
TEST(DestinationFaults, AFullFileSystemStopsTheRunAndKeepsWholePieces) {
  if (const std::string why = private_mounts(); !why.empty())
    GTEST_SKIP() << "a small file system cannot be mounted here: " << why;
  const novel book = three_chapter_book();
  struct row {
    const char* name;
    std::string options;  // of the tmpfs
    std::string message;
    std::size_t pieces_kept;
  };
  const std::vector<row> rows = {
      {"no room for the long piece", "size=2m", "写入文件“{dir}/small/0001.txt”失败：No space left on device",
       1},
      {"one page: room for the short first piece only", "size=4k",
       "写入文件“{dir}/small/0001.txt”失败：No space left on device", 1},
      {"room for the first file only", "size=16m,nr_inodes=2",
       "写入文件“{dir}/small/0001.txt”失败：No space left on device", 1},
      {"room for no file at all", "size=16m,nr_inodes=1",
       "写入文件“{dir}/small/0000.txt”失败：No space left on device", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", book.source);
    ASSERT_TRUE(fs::create_directory(dir / "small"));
    small_file_system small(dir / "small", r.options);
    if (!small.error().empty())
      GTEST_SKIP() << "a small file system cannot be mounted here: " << small.error();
    const fault f{
        r.name,  {"{dir}/book.txt", "{dir}/small/"}, {}, {}, RLIM_INFINITY, r.message, r.pieces_kept,
        "small/"};
    expect_fault(f, book, dir, {});
  }
}

// One run at a time writes into a folder: while another holds its lock (the
// test, with the same advisory lock), a run into it is refused before it
// makes any file; a listing writes nothing and goes on.
TEST(DestinationFaults, ARunIntoAFolderAnotherRunIsWritingIsRefused) {
  temp_folder dir;
  write_file(dir / "book.txt", three_chapters);
  ASSERT_TRUE(fs::create_directory(dir / "dest"));
  const listing before = folder_contents(dir.path());
  const int held = ::open((dir / "dest").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  for (const bool list : {false, true}) {
    const outcome o = run({list ? "--list" : "-q", dir / "book.txt", dir / "dest/第"});
    EXPECT_EQ(o.exit_code, list ? 0 : 1) << o;
    EXPECT_EQ(o.err, list ? "" : "存放目录“" + dir / "dest/" + "”正在被另一次分割写入，请稍后再试\n");
    expect_contents(dir.path(), before);
  }
  ::close(held);
}

// Holds the tool (SIGSTOP) once a piece after the first is caught
// half-written in `dir`/out/; false if the run ended first.
bool hold_while_writing(process& split, const novel& book, const temp_folder& dir) {
  for (std::size_t next = 0; next < book.pieces.size() && split.running();) {
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
    if (::stat(path.c_str(), &info) == 0 && static_cast<std::size_t>(info.st_size) < book.pieces[next].size())
      return true;
    split.resume();
  }
  return false;
}

// A run held half-way through a piece: a second real run into its folder
// is refused before it writes anything; then an interrupt that lands on
// the first run's writer thread stops it as one on its main thread does
// (exit 130), the pieces left whole and the one it was writing removed.
TEST(DestinationFaults, ASecondRunIntoABusyFolderAndAnInterruptOnTheWritersThread) {
  const novel book = long_novel(40 * 1024 * 1024);
  temp_folder dir;
  write_file(dir / "book.txt", book.source);
  ASSERT_TRUE(make_folder(dir / "out"));
  process first({"-q", dir / "book.txt", dir / "out/"});
  ASSERT_TRUE(hold_while_writing(first, book, dir)) << "the run ended before a piece was caught half-written";
  const outcome second = run({"-q", dir / "book.txt", dir / "out/第"});
  EXPECT_EQ(second.exit_code, 1) << second;
  EXPECT_EQ(second.err, "存放目录“" + dir / "out/" + "”正在被另一次分割写入，请稍后再试\n");
  // While it writes pieces, the writer is the tool's one thread besides its main one.
  std::vector<pid_t> writer;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(first.pid()) + "/task"))
    if (std::stoi(task.path().filename().string()) != first.pid())
      writer.push_back(std::stoi(task.path().filename().string()));
  ASSERT_EQ(writer.size(), 1u);
  ASSERT_EQ(::syscall(SYS_tgkill, first.pid(), writer[0], SIGINT), 0);
  first.resume();
  const outcome o = first.finish();
  EXPECT_EQ(o.exit_code, 130) << o;
  EXPECT_EQ(o.err, "");
  // 0000 on, each whole, the second run's none among them.
  const std::size_t left = std::min(folder_contents(dir / "out").size(), book.pieces.size() - 1);
  expect_contents(
      dir / "out",
      with_pieces({}, "", {book.pieces.begin(), book.pieces.begin() + static_cast<std::ptrdiff_t>(left)}));
}

}  // namespace
}  // namespace quorrel::reliability
