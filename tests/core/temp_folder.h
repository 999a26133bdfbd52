#pragma once
// A fresh folder in the system's temporary folder for one test, removed with
// everything in it.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/path.h"

namespace quorrel::testing {

// Paths in the program are UTF-8; std::filesystem takes a plain string in
// the system's code page on Windows, so names cross as UTF-8 explicitly.
inline std::filesystem::path utf8_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

class temp_folder {
 public:
  temp_folder() {
    // A random name; create_directory says whether it is new.
    std::random_device random;
    do path_ = std::filesystem::temp_directory_path() / ("quorrel-test-" + std::to_string(random()));
    while (!std::filesystem::create_directory(path_));
  }
  ~temp_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  // The folder's path with a trailing separator, ready to be a destination.
  std::string dir() const { return utf8_of(path_) + separator; }
  std::string operator/(const std::string& name) const { return utf8_of(path_ / utf8_path(name)); }

  std::string write(const std::string& name, const std::string& bytes) const {
    const std::string file = *this / name;
    std::ofstream(utf8_path(file), std::ios::binary) << bytes;
    return file;
  }

  // Names of the regular files in a folder, sorted.
  std::vector<std::string> files(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_ / utf8_path(sub)))
      if (entry.is_regular_file()) names.push_back(utf8_of(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorrel::testing
