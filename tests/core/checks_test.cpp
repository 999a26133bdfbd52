// The checks before a split: their messages, their order, and the refusal
// to write a piece over the source.

#include <gtest/gtest.h>

#include <unistd.h>  // link, symlink

#include <filesystem>

#include "core/checks.h"
#include "core/path.h"
#include "tests/support/temp_folder.h"

namespace quorrel {
namespace {

using testing::temp_folder;

TEST(Checks, ReportsTheFirstProblemInOrder) {
  temp_folder tmp;
  const auto novel = tmp.write("novel.txt", "第一章\r\n");
  std::filesystem::create_directory(tmp / "folder");
  struct example {
    std::string source, destination;
    std::size_t keywords;
    std::string message;
  };
  const std::vector<example> examples = {
      {"", "", 0, "请选择要分割的文件"},
      {" \t　", "", 0, "请选择要分割的文件"},
      {novel, "  ", 0, "请选择要保存分割文件的目录"},
      {tmp / "missing.txt", tmp.dir(), 0, "文件“" + tmp / "missing.txt" + "”不存在"},
      {tmp / "folder", tmp.dir(), 2, "文件“" + tmp / "folder" + "”不存在"},
      {tmp / "*.txt", tmp.dir(), 2, "文件“" + tmp / "*.txt" + "”不存在"},  // no wildcards
      {"/dev/zero", tmp.dir(), 2, "文件“/dev/zero”不存在"},
      {novel, tmp.dir(), 0, "请添加分割关键词"},
      {"  " + novel + "　", tmp.dir(), 2, ""},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.source + " | " + ex.destination);
    const auto check = check_inputs(ex.source, ex.destination, ex.keywords);
    EXPECT_EQ(check.ok, ex.message.empty());
    EXPECT_EQ(check.message, ex.message);
  }
}

TEST(Checks, TrimsBothPathsButKeepsTheDestinationAsTyped) {
  temp_folder tmp;
  const auto novel = tmp.write("novel.txt", "x");
  const auto check = check_inputs("\t " + novel + " ", "　" + tmp / "out" + "  ", 1);
  ASSERT_TRUE(check.ok);
  EXPECT_EQ(check.request.source, novel);
  EXPECT_EQ(check.request.destination, tmp / "out");
  EXPECT_EQ(trim_blanks("　 a b　\t"), "a b");

  // Exact paths, as the command line gives them: every blank is part of them.
  EXPECT_EQ(check_inputs(novel + " ", tmp / "out", 1, path_text::exact).message, "文件“" + novel + " ”不存在");
  const auto exact = check_inputs(novel, "　" + tmp / "out ", 1, path_text::exact);
  ASSERT_TRUE(exact.ok);
  EXPECT_EQ(exact.request.destination, "　" + tmp / "out ");
}

TEST(Checks, RefusesToWriteAPieceOverTheSource) {
  temp_folder tmp;
  std::filesystem::create_directory(tmp / "sub");
  const auto piece = tmp.write("0003.txt", "第一章\r\n");
  const auto prefixed = tmp.write("book10000.txt", "第一章\r\n");
  const auto other = tmp.write("0003.txt.bak", "第一章\r\n");
  const auto linked = tmp.write("linked.txt", "第一章\r\n");
  ASSERT_EQ(::link(linked.c_str(), (tmp / "sub/0042.txt").c_str()), 0);
  const auto pointed = tmp.write("pointed.txt", "第一章\r\n");
  ASSERT_EQ(::symlink(pointed.c_str(), (tmp / "sub/0007.txt").c_str()), 0);
  const auto padded = tmp.write("00012.txt", "第一章\r\n");  // a name no piece gets

  struct example {
    std::string source, destination;
    bool refused;
  };
  const std::vector<example> examples = {
      {piece, tmp.dir(), true},
      {piece, tmp / "sub/../", true},          // another spelling of the folder
      {piece, tmp / "sub/", false},
      {prefixed, tmp / "book", true},          // five digits after 9999
      {prefixed, tmp / "boo", false},
      {other, tmp.dir(), false},
      {linked, tmp / "sub/", true},            // a hard link among the pieces
      {pointed, tmp / "sub/", true},           // a symbolic link among the pieces
      {padded, tmp.dir(), false},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.source + " -> " + ex.destination);
    const auto check = check_inputs(ex.source, ex.destination, 2);
    EXPECT_EQ(check.ok, !ex.refused);
    if (ex.refused) {
      EXPECT_EQ(check.message, "分割文件会覆盖原始文件“" + ex.source + "”，请选择其他存放目录");
    }
  }
}

// The characters Windows names cannot hold, found before the system is
// asked; Linux names may hold every one of them.
TEST(Checks, FindsWhatAWindowsNameCannotHold) {
  struct example {
    std::string_view path;
    std::size_t windows_at;  // npos: a name Windows takes
  };
  constexpr auto none = std::string_view::npos;
  const std::vector<example> examples = {
      {"D:\\out\\*", 7},      {"out\\?", 4},          {"out\\<", 4},
      {"out\\a|b", 5},        {"my out\"", 6},         {"novel.txt:", 9},
      {"out\\x:s", 5},        {"a\tb", 1},             {"1:x", 1},
      {"\\\\.\\D:\\x?", 8},    {"Z:", none},            {"z:x", none},
      {"D:\\书\\卷", none},   {"\\\\?\\D:\\out\\", none}, {"\\\\server\\share\\", none},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.path);
    EXPECT_EQ(unnameable_at(ex.path, true), ex.windows_at);
    EXPECT_EQ(unnameable_at(ex.path, false), none);
  }

  temp_folder tmp;
  const auto novel = tmp.write("novel.txt", "第一章\r\n");
  EXPECT_TRUE(check_inputs(novel, tmp / "a|b*?", 2).ok);
}

}  // namespace
}  // namespace quorrel
