// Destinations that fail under quorrel-split: a path through a regular file,
// a folder the user may not write, a file-size limit at and around a piece's
// size, a file system that is full (of bytes or of files). Each failure must
// name the piece and the system's reason, exit with 2, keep every piece
// before it whole and leave no part of the piece that failed.

#include <gtest/gtest.h>

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
  std::string message;               // on stderr, "{dir}" replaced
  std::size_t pieces_kept;           // at `prefix`, from 0000
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
      {"a destination through a regular file", {"{dir}/book.txt", "{dir}/plain/out"}, {}, {"plain"},
       RLIM_INFINITY, "写入文件“{dir}/plain/out0000.txt”失败：Not a directory", 0},
      {"a destination folder that is a regular file", {"{dir}/book.txt", "{dir}/plain/"}, {}, {"plain"},
       RLIM_INFINITY, "写入文件“{dir}/plain/0000.txt”失败：Not a directory", 0},
      {"a destination through the source itself", {"{dir}/book.txt", "{dir}/book.txt/"}, {}, {},
       RLIM_INFINITY, "写入文件“{dir}/book.txt/0000.txt”失败：Not a directory", 0},
      {"a file-size limit smaller than the first piece", {"{dir}/book.txt", "{dir}/out"}, {}, {}, first - 1,
       "写入文件“{dir}/out0000.txt”失败：File too large", 0},
      {"a file-size limit one byte short of the long piece", {"{dir}/book.txt", "{dir}/out"}, {}, {},
       second - 1, "写入文件“{dir}/out0001.txt”失败：File too large", 1},
      {"a file-size limit of one byte", {"-e", "UTF-8", "{dir}/book.txt", "{dir}/out"}, {}, {}, 1,
       "写入文件“{dir}/out0000.txt”失败：File too large", 0},
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

TEST(DestinationFaults, AFolderTheUserMayNotWriteStopsTheRun) {
  const user_choice who = user_without_privileges();
  if (!who.unavailable.empty()) GTEST_SKIP() << "permissions cannot be tested: " << who.unavailable;
  const novel book = three_chapter_book();
  struct row {
    fault f;
    std::vector<std::string> read_only;  // folders made read-only (0555) before the run
  };
  const std::vector<row> rows = {
      {{"a read-only folder", {"{dir}/book.txt", "{dir}/locked/"}, {"locked"}, {}, RLIM_INFINITY,
        "写入文件“{dir}/locked/0000.txt”失败：Permission denied", 0, "locked/"},
       {"locked"}},
      {{"a read-only folder, as a name prefix", {"{dir}/book.txt", "{dir}/locked/第"}, {"locked"}, {},
        RLIM_INFINITY, "写入文件“{dir}/locked/第0000.txt”失败：Permission denied", 0, "locked/第"},
       {"locked"}},
      {{"the source's own folder is read-only", {"{dir}/book.txt", "{dir}/out"}, {}, {}, RLIM_INFINITY,
        "写入文件“{dir}/out0000.txt”失败：Permission denied", 0},
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
      {"no room for the long piece", "size=2m",
       "写入文件“{dir}/small/0001.txt”失败：No space left on device", 1},
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
    if (!small.error().empty()) GTEST_SKIP() << "a small file system cannot be mounted here: " << small.error();
    const fault f{r.name, {"{dir}/book.txt", "{dir}/small/"}, {}, {}, RLIM_INFINITY, r.message, r.pieces_kept,
                  "small/"};
    expect_fault(f, book, dir, {});
  }
}

}  // namespace
}  // namespace quorrel::reliability
