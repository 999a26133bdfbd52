// The window's desktop calls on Windows, under wine, where no person is
// needed: the open-file dialog's filter list, the version test and the shell's open. The dialogs themselves
// are driven through the Win32 window's end-to-end test.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "core/win32_support.h"
#include "platform/backend.h"
#include "platform/backend_win32.h"
#include "platform/com_dlg.h"
#include "platform/system.h"

namespace {

using namespace std::literals;

// The Windows program's own desktop, as quorrel.exe installs it.
const quorrel::platform::ScopedBackend g_system(quorrel::platform::systemBackend());

// The registry key of ours under HKCU, deleted again when the test ends.
class ScopedKey {
 public:
  explicit ScopedKey(std::wstring path) : m_path(std::move(path)) {}
  ~ScopedKey() { RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str()); }
  bool set(const wchar_t* name, const std::wstring& value) const {
    return RegSetKeyValueW(HKEY_CURRENT_USER, m_path.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

 private:
  std::wstring m_path;
};

std::wstring besideThisTest(const wchar_t* name) {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

TEST(WindowsPlatform, FilterListIsPairsOfNulEndedUtf16) {
  const struct {
    std::string filter;
    std::wstring list;
  } cases[] = {
      {"*.txt|*.txt", L"*.txt\0*.txt\0\0"s},
      {"", L"*.*\0*.*\0\0"s},
      {"   ", L"*.*\0*.*\0\0"s},
      {"文本|*.txt;*.log|全部|*.*", L"文本\0*.txt;*.log\0全部\0*.*\0\0"s},
      {"文本|*.txt|全部", L"文本\0*.txt\0\0"s},
      {"文本|*.txt||全部|*.*", L"文本\0*.txt\0\0"s},
      {"\t", L""s},
  };
  for (const auto& c : cases)
    EXPECT_EQ(quorrel::platform::openFileFilter(modComDlg32::FilterPairs(c.filter)), c.list) << c.filter;
}

// The probe is started under the versions wine shows a program it is told
// to; a test of a fixed answer, or of the compatibility version, fails here.
TEST(WindowsPlatform, VistaOrLaterFollowsTheRunningVersion) {
  const ScopedKey key(L"Software\\Wine\\AppDefaults\\windows_version_probe.exe");
  const struct {
    const char* version;
    DWORD status;  // bit 0 IsVistaOrLater, bit 1 "Runas"
  } cases[] = {{"win2k", 0}, {"winxp64", 0}, {"vista", 3}, {"win7", 3}, {"win10", 3}};
  const std::wstring probe = besideThisTest(L"windows_version_probe.exe");
  for (const auto& c : cases) {
    ASSERT_TRUE(key.set(L"Version", quorrel::win32::widen(c.version)));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(probe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &started));
    const quorrel::win32::unique_kernel process(started.hProcess), thread(started.hThread);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD status = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.get(), &status));
    EXPECT_EQ(status, c.status) << c.version;
  }
}

// Wine hands a web address to the browser its registry names: a script here
// that records it. A missing document is refused with the system's reason.
TEST(WindowsPlatform, ShellOpenHandsTheTargetToTheDefaultHandler) {
  const ScopedKey browser(L"Software\\Wine\\WineBrowser");
  std::wstring script = std::wstring(L"" QUORREL_SOURCE_DIR) + L"/tests/windows/log_url.sh";
  ASSERT_TRUE(browser.set(L"Browsers", script));
  const char* const log = "C:\\quorrel-opened-urls.txt";
  DeleteFileA(log);

  const std::string page = "https://www.quorrel-shop.example/recharge";
  std::string errorText = "前";
  EXPECT_TRUE(modSystem::ShellOpen(nullptr, "Runas", page, errorText));
  EXPECT_EQ(errorText, "前");
  std::string opened;
  for (int wait = 0; wait < 300 && opened.empty(); ++wait) {
    std::this_thread::sleep_for(100ms);
    std::ifstream in(log);
    std::getline(in, opened);
  }
  EXPECT_EQ(opened, page);
  DeleteFileA(log);

  EXPECT_FALSE(modSystem::ShellOpen(nullptr, "Open", "C:\\没有这个目录\\小说.txt", errorText));
  EXPECT_NE(errorText, "前");
  EXPECT_FALSE(errorText.empty());
}

}  // namespace
