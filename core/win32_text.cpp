#include "core/win32_text.h"

#include <windows.h>

namespace quorrel {

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
    return FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                          nullptr, error, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
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

}  // namespace quorrel
