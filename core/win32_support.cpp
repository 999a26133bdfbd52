#include "core/win32_support.h"

namespace quorrel::win32 {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), length);
  return out;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int size = static_cast<int>(utf16.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::string system_message(unsigned long error) {
  const auto format = [error](LANGID language, wchar_t*& text) {
    return FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  };
  wchar_t* text = nullptr;
  // Language 0 would look first for a neutral text, then the thread's
  // locale, which need not be the language the user reads Windows in.
  DWORD length = format(GetUserDefaultUILanguage(), text);
  if (length == 0) length = format(0, text);
  std::wstring reason(text ? text : L"", length);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' '))
    reason.pop_back();
  return reason.empty() ? "error " + std::to_string(error) : narrow(reason);
}

std::wstring full_path(const std::wstring& path) {
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  if (full.empty()) return path;
  full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  return full.empty() ? path : full;
}

std::wstring system_path(const std::string& path) {
  const std::wstring wide = widen(path);
  constexpr std::size_t plain_limit = MAX_PATH - 12;  // what CreateDirectoryW takes
  // A device path made full would read as a UNC share named ".".
  if (wide.size() < plain_limit || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) return wide;
  const std::wstring full = full_path(wide);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::vector<std::string> command_line_arguments() {
  int count = 0;
  const unique_argv wide(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> out;
  for (int i = 1; wide && i < count; ++i) out.push_back(narrow(wide.get()[i]));
  return out;
}

}  // namespace quorrel::win32
