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
  std::string dir() const { return path_.string() + separator; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  std::string write(const std::string& name, const std::string& bytes) const {
    const std::string file = *this / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  // Names of the regular files in a folder, sorted.
  std::vector<std::string> files(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_ / sub))
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorrel::testing
