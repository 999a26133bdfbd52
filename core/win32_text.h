#pragma once
// UTF-8 inside the program, UTF-16 at every Windows call: the two
// conversions, for Windows builds only. Text that is not valid UTF-8 (or
// UTF-16) converts with U+FFFD in place of the bad sequence.

#include <string>
#include <string_view>

namespace quorrel {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The system's description of a Windows error code, in the user's own
// language (the one Windows shows its texts in) where Windows has the text
// in it, else as FormatMessageW finds it; "error N" when it has none.
std::string system_message(unsigned long error);

}  // namespace quorrel
