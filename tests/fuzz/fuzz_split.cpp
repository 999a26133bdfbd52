// libFuzzer target: any byte string is a split case (see split_check.h);
// a broken invariant aborts with a description of what broke.

#include <stdlib.h>  // mkdtemp

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "split_check.h"

namespace {

// One folder for the whole session, emptied after every case and removed at
// exit. Never destroyed itself: the exit handler still needs its name.
const std::string& session_folder() {
  static const std::string* folder = [] {
    auto* pattern =
        new std::string((std::filesystem::temp_directory_path() / "quorrel-fuzz-XXXXXX").string());
    if (::mkdtemp(pattern->data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(session_folder(), ignored);
    });
    return pattern;
  }();
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto c = quorrel::fuzzing::decode_case({reinterpret_cast<const char*>(data), size});
  const std::string problems = quorrel::fuzzing::check_split(c, session_folder());
  if (!problems.empty()) {
    std::fprintf(stderr, "split invariants broken:\n%s", problems.c_str());
    std::abort();
  }
  return 0;
}
