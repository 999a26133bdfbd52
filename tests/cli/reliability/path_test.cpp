// Paths at the edges: emoji, a leading "-", names at and past the file
// system's 255-byte limit, folders nested past the 4096-byte limit of a
// path, and a destination prefix that is also the start of the source's name.

#include <gtest/gtest.h>

#include "reliability.h"

namespace quorrel::reliability {
namespace {

struct path_row {
  const char* name;
  std::vector<std::string> files;    // made with the three chapters, relative to the folder
  std::vector<std::string> folders;  // made first
  std::vector<std::string> args;     // "{dir}" stands for the folder, which is also the working folder
  int exit_code;
  std::string prefix;   // on success: where the pieces go
  std::string message;  // on failure: stderr, "{dir}" replaced
};

void expect_paths(const path_row& r) {
  temp_folder dir;
  for (const auto& f : r.folders) ASSERT_TRUE(fs::create_directories(dir / f)) << f;
  for (const auto& f : r.files) write_file(dir / f, three_chapters);
  const listing before = folder_contents(dir.path());
  launch how;
  how.cwd = dir.path();
  const outcome o = run(in_folder(r.args, dir), how);
  EXPECT_EQ(o.exit_code, r.exit_code) << o;
  if (r.exit_code == 0) {
    EXPECT_EQ(o.out, saved);
    expect_contents(dir.path(), with_pieces(before, r.prefix, three_pieces));
  } else {
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, replace_all(r.message, "{dir}", dir.path()) + "\n");
    expect_contents(dir.path(), before);
  }
}

TEST(Paths, TakesEmojiAndNamesThatBeginWithADash) {
  const std::vector<path_row> rows = {
      {"emoji in folders, file and prefix",
       {"📚 书/小说😀.txt"},
       {"📚 书", "🎉 输出"},
       {"{dir}/📚 书/小说😀.txt", "{dir}/🎉 输出/第😀"},
       0,
       "🎉 输出/第😀",
       ""},
      {"a leading dash behind ./", {"-book.txt"}, {}, {"./-book.txt", "./-out"}, 0, "-out", ""},
      {"a source named - after --", {"-"}, {"out"}, {"--", "-", "out/"}, 0, "out/", ""},
      {"a destination named like an option after --",
       {"-book.txt"},
       {},
       {"--", "-book.txt", "-k"},
       0,
       "-k",
       ""},
      {"a destination named like a long option after --",
       {"-book.txt"},
       {},
       {"-q", "--", "-book.txt", "--list"},
       0,
       "--list",
       ""},
      {"a missing source named like an option after --",
       {},
       {},
       {"--", "--help", "out"},
       1,
       "",
       "文件“--help”不存在"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_paths(r);
  }
}

TEST(Paths, NamesUpToTheSystemsLimitWorkAndLongerOnesAreReported) {
  const std::string name_255 = repeat("章", 85);           // 255 bytes
  const std::string prefix_247 = repeat("第", 82) + "a";   // with "0000.txt": 255 bytes
  const std::string prefix_248 = repeat("第", 82) + "ab";  // 256 bytes
  const std::string ascii_248(248, 'p');
  const std::vector<path_row> rows = {
      {"a source name of 255 bytes", {name_255}, {}, {"{dir}/" + name_255, "{dir}/out"}, 0, "out", ""},
      {"piece names of 255 bytes",
       {"book.txt"},
       {},
       {"{dir}/book.txt", "{dir}/" + prefix_247},
       0,
       prefix_247,
       ""},
      {"piece names of 256 bytes",
       {"book.txt"},
       {},
       {"{dir}/book.txt", "{dir}/" + prefix_248},
       2,
       "",
       "写入文件“{dir}/" + prefix_248 + "0000.txt”失败：File name too long"},
      {"piece names of 256 ASCII bytes",
       {"book.txt"},
       {},
       {"book.txt", ascii_248},
       2,
       "",
       "写入文件“" + ascii_248 + "0000.txt”失败：File name too long"},
      {"a source name of 256 bytes",
       {},
       {},
       {"{dir}/" + name_255 + "a", "{dir}/out"},
       1,
       "",
       "文件“{dir}/" + name_255 + "a”不存在"},
      {"a folder name of 256 bytes in the destination",
       {"book.txt"},
       {},
       {"{dir}/book.txt", "{dir}/" + name_255 + "a/"},
       2,
       "",
       "创建存放目录“{dir}/" + name_255 + "a/”失败：File name too long"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_paths(r);
  }
}

// A prefix that leaves room for four digits but not five: the run writes
// 0000 to 9999 and stops at 10000 with the system's reason.
TEST(Paths, APrefixWithNoRoomForAFifthDigitStopsAtPiece10000) {
  novel book;
  for (int chapter = 1; chapter <= 10001; ++chapter) book.heading("第" + std::to_string(chapter) + "章");
  const std::string prefix = repeat("第", 82) + "a";  // 247 bytes: 9999.txt fits, 10000.txt does not
  temp_folder dir;
  write_file(dir / "book.txt", book.source);
  const listing before = folder_contents(dir.path());
  const outcome o = run({"-q", dir / "book.txt", dir / prefix});
  EXPECT_EQ(o.exit_code, 2) << o;
  EXPECT_EQ(o.err, "写入文件“" + dir / (prefix + "10000.txt") + "”失败：File name too long\n");
  const std::vector<std::string> kept(book.pieces.begin(), book.pieces.begin() + 10000);
  expect_contents(dir.path(), with_pieces(before, prefix, kept));
}

TEST(Paths, FoldersDeeperThanAPathCanNameWorkFromInside) {
  temp_folder dir;
  const deep_folder deep(dir.path(), repeat("深", 60), 4200);  // 181 bytes a level
  ASSERT_TRUE(deep.ok()) << "cannot make the deep folders";
  ASSERT_GT(deep.path().size(), 4096u);
  deep.write("book.txt", three_chapters);
  struct row {
    const char* name;
    std::vector<std::string> args;  // "{deep}" stands for the deep folder's full path
    bool from_inside;               // run with the deep folder as the working folder
    int exit_code;
    std::string message;
    std::vector<std::string> pieces;  // on success, in the deep folder at "out"
  };
  const std::vector<row> rows = {
      {"relative paths from inside", {"book.txt", "out"}, true, 0, "", three_pieces},
      {"a relative source, the destination by its full path",
       {"book.txt", "{deep}/out"},
       true,
       2,
       "写入文件“{deep}/out0000.txt”失败：File name too long",
       {}},
      {"the source by its full path", {"{deep}/book.txt", "out"}, true, 1, "文件“{deep}/book.txt”不存在", {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    launch how;
    if (r.from_inside) how.cwd_fd = deep.fd();
    std::vector<std::string> args;
    for (const auto& a : r.args) args.push_back(replace_all(a, "{deep}", deep.path()));
    const outcome o = run(args, how);
    EXPECT_EQ(o.exit_code, r.exit_code) << o.exit_code << "\n" << o.err.substr(0, 200);
    if (r.exit_code == 0) {
      EXPECT_EQ(o.out, saved);
    } else {
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(o.err, replace_all(r.message, "{deep}", deep.path()) + "\n");
    }
    listing expected{{"book.txt", three_chapters}};
    expected = with_pieces(expected, "out", r.pieces);
    EXPECT_EQ(deep.files(), expected);
    for (std::size_t i = 0; i < r.pieces.size(); ++i)
      ASSERT_EQ(::unlinkat(deep.fd(), ("out" + piece_name(i)).c_str(), 0), 0);
  }
}

TEST(Paths, ADestinationPrefixThatBeginsTheSourcesName) {
  const std::string refused = "分割文件会覆盖原始文件“{dir}/novel0000.txt”，请选择其他存放目录";
  const std::vector<path_row> rows = {
      {"novel.txt into novel", {"novel.txt"}, {}, {"{dir}/novel.txt", "{dir}/novel"}, 0, "novel", ""},
      {"novel into novel", {"novel"}, {}, {"{dir}/novel", "{dir}/novel"}, 0, "novel", ""},
      {"novel.txt into novel.txt",
       {"novel.txt"},
       {},
       {"{dir}/novel.txt", "{dir}/novel.txt"},
       0,
       "novel.txt",
       ""},
      {"novel0000 into novel", {"novel0000"}, {}, {"{dir}/novel0000", "{dir}/novel"}, 0, "novel", ""},
      {"novel0000.txt.bak into novel",
       {"novel0000.txt.bak"},
       {},
       {"{dir}/novel0000.txt.bak", "{dir}/novel"},
       0,
       "novel",
       ""},
      {"novel00000.txt into novel", {"novel00000.txt"}, {}, {"novel00000.txt", "novel"}, 0, "novel", ""},
      {"novel0000.txt into novel: refused",
       {"novel0000.txt"},
       {},
       {"{dir}/novel0000.txt", "{dir}/novel"},
       1,
       "",
       refused},
      {"novel0000.txt into novel, relative: refused",
       {"novel0000.txt"},
       {},
       {"novel0000.txt", "./novel"},
       1,
       "",
       "分割文件会覆盖原始文件“novel0000.txt”，请选择其他存放目录"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_paths(r);
  }
}

}  // namespace
}  // namespace quorrel::reliability
