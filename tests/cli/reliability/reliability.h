#pragma once
// What the reliability tests share beyond the process helpers: a user other
// than root (root ignores permissions), a small file system of its own, folders
// nested deeper than a path can name, and byte-exact checks of files too large
// to hold twice in memory.

#include <dirent.h>     // fdopendir: deep folders are walked by descriptor
#include <sched.h>      // unshare(CLONE_NEWNS): a private mount namespace
#include <sys/mount.h>  // mount, umount2: a small tmpfs

#include <cstring>
#include <functional>

#include "split_process.h"

namespace quorrel::reliability {

using namespace quorrel::cli_testing;

// Who the tool runs as where permissions must count. Empty with the reason
// when they cannot be made to count here.
struct user_choice {
  std::optional<uid_t> user;  // nullopt: this process's own user, which is not root
  std::string unavailable;    // why permissions cannot be tested, "" when they can
};

// Root runs the tool as nobody; anyone else as themselves. Checks in a child
// that the user can be taken and can run the tool.
inline user_choice user_without_privileges() {
  if (::geteuid() != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(unprivileged_user) != 0 || ::setuid(unprivileged_user) != 0)
      ::_exit(1);
    ::_exit(::access(tool.c_str(), X_OK) == 0 ? 0 : 2);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 3;
  if (code == 1) return {std::nullopt, "root cannot become user 65534 here"};
  if (code == 2) return {std::nullopt, "user 65534 may not run " + tool};
  if (code != 0) return {std::nullopt, "cannot check user 65534"};
  return {unprivileged_user, ""};
}

// This test process moves into a mount namespace of its own (each GoogleTest
// case runs in its own process under ctest), where mounts stay private.
// Returns why not, or "".
inline std::string private_mounts() {
  if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making mounts private: ") + std::strerror(errno);
  return "";
}

// A tmpfs on `folder` for as long as it lives.
class small_file_system {
 public:
  small_file_system(const std::string& folder, const std::string& options) : folder_(folder) {
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
      error_ = std::string("mount -t tmpfs -o ") + options + ": " + std::strerror(errno);
  }
  ~small_file_system() {
    if (error_.empty()) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  small_file_system(const small_file_system&) = delete;
  small_file_system& operator=(const small_file_system&) = delete;
  const std::string& error() const { return error_; }

 private:
  std::string folder_;
  std::string error_;
};

// Removes `name` in the folder `parent` and everything under it, by
// descriptor, so that no path grows past the system's limit.
inline void remove_tree_at(int parent, const char* name) {
  if (::unlinkat(parent, name, 0) == 0) return;
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  for (const auto& n : names) remove_tree_at(::dirfd(dir), n.c_str());
  ::closedir(dir);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

// A chain of folders, each named `step`, inside `root`, deep enough that its
// full path is longer than `bytes`. Holds the deepest folder open.
class deep_folder {
 public:
  deep_folder(const std::string& root, const std::string& step, std::size_t bytes)
      : root_(root), step_(step) {
    path_ = root;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd >= 0 && path_.size() <= bytes) {
      ::mkdirat(fd, step.c_str(), 0755);
      const int next = ::openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = next;
      path_ += "/" + step;
    }
    fd_ = fd;
  }
  ~deep_folder() {
    if (fd_ >= 0) ::close(fd_);
    const int root = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    remove_tree_at(root, step_.c_str());
    ::close(root);
  }
  deep_folder(const deep_folder&) = delete;
  deep_folder& operator=(const deep_folder&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }  // too long to use as it is

  // The regular files in the deepest folder, with their bytes.
  listing files() const {
    listing found;
    const int fd = ::dup(fd_);
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) return found;
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
      struct stat info {};
      if (::fstatat(fd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(info.st_mode)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
          found[std::string(entry->d_name) + "/"] = "";
        continue;
      }
      const int file = ::openat(fd_, entry->d_name, O_RDONLY | O_CLOEXEC);
      std::string bytes;
      char buffer[65536];
      for (ssize_t got; file >= 0 && (got = ::read(file, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
      if (file >= 0) ::close(file);
      found[entry->d_name] = bytes;
    }
    ::closedir(dir);
    return found;
  }

  void write(const std::string& name, std::string_view bytes) const {
    const int file = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) throw std::runtime_error("cannot create " + name + " in the deep folder");
    while (!bytes.empty()) {
      const ssize_t put = ::write(file, bytes.data(), bytes.size());
      if (put <= 0) break;
      bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    ::close(file);
  }

 private:
  std::string root_, step_, path_;
  int fd_ = -1;
};

// A file written from a generator of blocks, so that sources of hundreds of
// megabytes never sit in memory whole. `block(i)` returns the i-th block, ""
// after the last.
inline void write_blocks(const std::string& path, const std::function<std::string(std::size_t)>& block) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0;; ++i) {
    const std::string bytes = block(i);
    if (bytes.empty()) break;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Whether the file holds exactly the blocks, compared a block at a time.
inline ::testing::AssertionResult file_holds_blocks(const std::string& path,
                                                    const std::function<std::string(std::size_t)>& block) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return ::testing::AssertionFailure() << "cannot open " << path;
  std::uint64_t offset = 0;
  std::string got;
  for (std::size_t i = 0;; ++i) {
    const std::string want = block(i);
    if (want.empty()) break;
    got.resize(want.size());
    in.read(got.data(), static_cast<std::streamsize>(want.size()));
    got.resize(static_cast<std::size_t>(in.gcount()));
    if (got != want) {
      const auto result = same_bytes(got, want);
      return ::testing::AssertionFailure() << "from byte " << offset << ": " << result.message();
    }
    offset += want.size();
  }
  if (in.peek() != std::char_traits<char>::eof())
    return ::testing::AssertionFailure() << path << " is longer than the expected " << offset << " bytes";
  return ::testing::AssertionSuccess();
}

}  // namespace quorrel::reliability
