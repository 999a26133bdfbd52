// modComDlg32 and modSystem on a scripted desktop: what the dialogs are asked
// (start, filters, prompt, root) and what is made of their answers, and the
// verb and address of the shell call, on real folders in a temporary folder.
// No toolkit: the same tables run on Linux and under wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/path.h"
#include "platform/com_dlg.h"
#include "platform/system.h"
#include "tests/support/fake_backend.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using quorrel::platform::FileFilter;
using quorrel::platform::OsVersion;
using quorrel::platform::ScopedBackend;
using quorrel::testing::fake_backend;
using quorrel::testing::temp_folder;

class ComDlg : public ::testing::Test {
 protected:
  ComDlg() {
    // Windows takes no name ending in a space: those rows are Linux's.
    std::error_code ignored;
    for (const char* folder : {"书", ".hidden", "dir ", "   ", "程序"})
      fs::create_directory(quorrel::testing::utf8_path(dir / folder), ignored);
    spaced =
        quorrel::separator == '/' && fs::is_directory(quorrel::testing::utf8_path(dir / "dir "), ignored);
    dir.write("书/a.txt", "");
    desktop.program_folder = expand("#");
  }

  // "@" stands for the temporary folder, "#" for the program's; '/' is the
  // platform's separator.
  std::string expand(std::string path) const {
    for (const auto& [mark, folder] : {std::pair{'#', dir / "程序"}, std::pair{'@', dir.path()}})
      if (const auto at = path.find(mark); at != std::string::npos) path.replace(at, 1, folder);
    std::replace(path.begin(), path.end(), '/', quorrel::separator);
    return path;
  }

  temp_folder dir;
  bool spaced = false;  // folders named with a trailing space exist
  fake_backend desktop;
  ScopedBackend guard{desktop};
};

// The dialog starts there, and the caller's variable receives it. Names
// without a folder are looked up in the temporary folder, made current.
TEST_F(ComDlg, OpenFileStartsInAFolderThatExists) {
  const struct {
    std::string given, used;
  } rows[] = {
      {"", "#"},
      {"   ", "#"},  // spaces only, though a folder has that name here
      {"@/书", "@/书/"},
      {"@/书/", "@/书/"},
      {"书", "书/"},
      {"@/.hidden", "@/.hidden/"},
      {"@/dir ", "@/dir /"},
      {" @/书", "#"},  // spaces before a folder are part of it
      {"@/书/a.txt", "#"},
      {"@/无", "#"},
  };
  const fs::path before = fs::current_path();
  fs::current_path(quorrel::testing::utf8_path(dir.path()));
  for (const auto& r : rows) {
    if (!spaced && r.given.ends_with(' ')) continue;
    desktop.dialogs.clear();
    std::string startDir = expand(r.given);
    modComDlg32::ShowOpenFile(nullptr, "选择", startDir, "*.txt|*.txt", 0);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].start, expand(r.used)) << r.given;
    EXPECT_EQ(startDir, expand(r.used)) << r.given;
  }
  fs::current_path(before);
}

TEST_F(ComDlg, OpenFileOffersTheFilterPairs) {
  const struct {
    std::string filter;
    std::vector<FileFilter> offered;  // the first one selected
  } rows[] = {
      {"*.txt|*.txt", {{"*.txt", "*.txt"}}},
      {"", {{"*.*", "*.*"}}},
      {"   ", {{"*.*", "*.*"}}},
      {"文本|*.txt; *.log|全部|*.*", {{"文本", "*.txt; *.log"}, {"全部", "*.*"}}},
      {"文本|*.txt|全部", {{"文本", "*.txt"}}},       // a text without a pattern is dropped
      {"文本|*.txt||全部|*.*", {{"文本", "*.txt"}}},  // an empty part ends the list
      {"\t", {}},                                     // a tab is no blank
  };
  for (const auto& r : rows) {
    desktop.dialogs.clear();
    std::string startDir;
    modComDlg32::ShowOpenFile(nullptr, "选择", startDir, r.filter, 0);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].filters, r.offered) << r.filter;
  }
}

// The scripted dialog moves the current directory, as a real one may.
TEST_F(ComDlg, OpenFileAnswersAndKeepsTheCurrentDirectory) {
  const std::uint32_t caller = modComDlg32::kLongNames | modComDlg32::kNoChangeDir;
  const struct {
    std::string answer;
    std::uint32_t flags;
    std::string result;
    bool moved;  // the current directory is the dialog's afterwards
  } rows[] = {
      {"@/书/a.txt", caller, "@/书/a.txt", false},
      {"@/新.txt", caller, "@/新.txt", false},  // a typed name of a missing file
      {"@/书/a.txt\0@/书/b.txt\0"s, caller, "@/书/a.txt", false},
      {"", caller, "", false},
      {"", modComDlg32::kLongNames, "", true},
  };
  const fs::path before = fs::current_path();
  const fs::path moved = quorrel::testing::utf8_path(dir / "书");
  desktop.while_dialog_open = [&] { fs::current_path(moved); };
  int owner = 0;
  for (const auto& r : rows) {
    desktop.dialogs.clear();
    desktop.file_answer = expand(r.answer);
    std::string startDir;
    const std::string chosen = modComDlg32::ShowOpenFile(&owner, " 选择 ", startDir, "", r.flags);
    const fs::path after = fs::current_path();
    fs::current_path(before);
    EXPECT_EQ(chosen, expand(r.result));
    EXPECT_EQ(desktop.dialogs[0].owner, &owner);
    EXPECT_EQ(desktop.dialogs[0].title, " 选择 ");
    EXPECT_TRUE(fs::equivalent(after, r.moved ? moved : before)) << r.answer;
  }
}

TEST_F(ComDlg, FolderPickerShowsThePromptAtTheRootsPlace) {
  const struct {
    std::string prompt, shown;
    std::int16_t code;
    std::int32_t csidl;
  } rows[] = {
      {"", "请选择文件夹:", 0, 0},
      {"选择目录", "选择目录", 1, 0},
      {" ", " ", -32768, 0},
      {"选择目录", "选择目录", 2, 2},
      {"选择目录", "选择目录", 11, 11},
      {"选择目录", "选择目录", 12, 16},
      {"选择目录", "选择目录", 13, 17},
      {"选择目录", "选择目录", 32767, 32771},
  };
  int owner = 0;
  for (const auto& r : rows) {
    desktop.dialogs.clear();
    modComDlg32::BrowseFolder(r.prompt, &owner, r.code);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].title, r.shown);
    EXPECT_EQ(desktop.dialogs[0].owner, &owner);
    EXPECT_EQ(desktop.dialogs[0].csidl, r.csidl) << r.code;
    EXPECT_EQ(modComDlg32::MapFolderRoot(r.code), r.csidl);
  }
  EXPECT_EQ(modComDlg32::BrowseFlags(), modComDlg32::kReturnOnlyFsDirs);
}

TEST_F(ComDlg, FolderPickerReturnsARealFolderWithOneSeparator) {
  const struct {
    std::string answer, result;
  } rows[] = {
      {"@/书", "@/书/"}, {"@/书/", "@/书/"}, {"@/书//", "@/书/"}, {"@/dir ", "@/dir /"},
      {"", ""},          {"@/书/a.txt", ""}, {"@/无", ""},
  };
  for (const auto& r : rows) {
    if (!spaced && r.answer.ends_with(' ')) continue;
    desktop.folder_answer = expand(r.answer);
    EXPECT_EQ(modComDlg32::BrowseFolder("选择目录", nullptr, 0), expand(r.result)) << r.answer;
  }
  desktop.folder_answer = fs::path(dir.path()).root_path().string();
  EXPECT_EQ(modComDlg32::BrowseFolder("选择目录", nullptr, 0), desktop.folder_answer);
}

TEST_F(ComDlg, ShellVerbFollowsTheWindowsVersion) {
  const struct {
    OsVersion version;
    bool vistaOrLater;
  } rows[] = {
      {{true, 5}, false},  {{true, 6}, true},    {{true, 10}, true},
      {{true, -1}, false}, {{false, 13}, false}, {{false, 0}, false},
  };
  for (const auto& r : rows) {
    desktop.version = r.version;
    EXPECT_EQ(modSystem::IsVistaOrLater(), r.vistaOrLater) << r.version.major;
    EXPECT_EQ(modSystem::ShellVerb(), r.vistaOrLater ? "Runas" : "Open");
  }
}

// Whatever the verb, the same handler opens the same address; a refusal's
// reason reaches the caller, and only then.
TEST_F(ComDlg, ShellOpenHandsTheTargetToTheDefaultHandler) {
  const std::string shop = "https://www.quorrel-shop.example/recharge";
  const struct {
    std::string verb, target;
    bool accepted;
    std::string errorText;
  } rows[] = {
      {"Runas", shop, true, "前"},
      {"Open", shop, false, "没有浏览器"},
      {"Runas", expand("@/书/a b.txt"), true, "前"},
  };
  desktop.refusal = "没有浏览器";
  for (const auto& r : rows) {
    desktop.opened.clear();
    desktop.accepted = r.accepted;
    std::string errorText = "前";
    int owner = 0;
    EXPECT_EQ(modSystem::ShellOpen(&owner, r.verb, r.target, errorText), r.accepted);
    EXPECT_EQ(desktop.opened, std::vector<std::string>{r.target});
    EXPECT_EQ(errorText, r.errorText);
  }
}

}  // namespace

#ifndef _WIN32
// A program that never installed its backend stops at once and says why.
TEST(ComDlgDeathTest, StopsWhenNoBackendIsInstalled) {
  EXPECT_DEATH(modComDlg32::BrowseFolder("", nullptr, 0), "before a backend was installed");
}
#endif
