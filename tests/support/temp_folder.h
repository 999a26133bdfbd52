#pragma once
// A fresh folder in the system's temporary folder for one test, with a random
// name, removed with everything in it at the end. Paths are UTF-8 strings
// built with '/', which Windows takes as well; the folder's own path is the
// system's spelling.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/path.h"

namespace quorrel::testing {

// On Windows a std::string would be read in the ANSI code page, so paths go
// to the file system as UTF-8 explicitly.
inline std::filesystem::path utf8_path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string utf8_name(const std::filesystem::path& path) {
  const std::u8string name = path.generic_u8string();
  return {name.begin(), name.end()};
}

class temp_folder {
 public:
  temp_folder() {
    std::random_device random;
    do
      path_ =
          (std::filesystem::temp_directory_path() / ("quorrel-test-" + std::to_string(random()))).string();
    while (!std::filesystem::create_directory(path_));
  }
  ~temp_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const std::string& path() const { return path_; }
  // The folder's path with a trailing "/", ready to be a destination.
  std::string dir() const { return path_ + "/"; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

  std::string write(const std::string& name, std::string_view bytes) const {
    const std::string file = *this / name;
    std::ofstream(utf8_path(file), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

  // Names of the regular files in a folder, sorted.
  std::vector<std::string> files(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(utf8_path(*this / sub)))
      if (entry.is_regular_file()) names.push_back(utf8_name(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorrel::testing
