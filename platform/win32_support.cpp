#include "platform/win32_support.h"

#include <objbase.h>  // CoInitializeEx

#include "core/win32_text.h"
#include "platform/com_dlg_rules.h"

namespace quorrel::platform {

std::wstring openFileFilter(std::string_view filter) {
  std::wstring list;
  for (const FileFilter& pair : filterPairs(filter)) {
    list += widen(pair.text);
    list += L'\0';
    list += widen(pair.patterns);
    list += L'\0';
  }
  if (!list.empty()) list += L'\0';
  return list;
}

OPENFILENAMEW openFileDialog(HWND owner, const std::wstring& title, const std::wstring& initialDir,
                             const std::wstring& filters, std::wstring& file, DWORD flags) {
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = initialDir.c_str();
  dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();  // the system's "打开"
  // Empty, not null: the dialog then appends the extension of the filter
  // chosen ("长篇" beside 长篇.txt is 长篇.txt), where null appends nothing.
  dialog.lpstrDefExt = L"";
  dialog.Flags = flags;
  return dialog;
}

std::wstring systemPath(const std::string& path) {
  const std::wstring wide = widen(path);
  constexpr std::size_t plainLimit = MAX_PATH - 12;  // the shortest limit of the plain form
  if (wide.size() < plainLimit || wide.starts_with(L"\\\\?\\")) return wide;
  std::wstring full(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  if (full.empty()) return wide;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool isFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason(text ? text : L"", length);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' '))
    reason.pop_back();
  return reason.empty() ? "error " + std::to_string(error) : narrow(reason);
}

ComApartment::ComApartment()
    : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}

// S_FALSE (already initialised here) is balanced too; RPC_E_CHANGED_MODE is not.
ComApartment::~ComApartment() {
  if (SUCCEEDED(m_result)) CoUninitialize();
}

}  // namespace quorrel::platform
