#include "core/file.h"

#include <dirent.h>    // opendir: a folder's names
#include <fcntl.h>     // open and its flags
#include <langinfo.h>  // nl_langinfo: the encoding of the system's texts
#include <locale.h>    // newlocale: the C locale's texts, when no other can be read
#include <sys/file.h>  // flock: one run at a time per folder
#include <sys/stat.h>  // fstat, lstat, stat: what a descriptor or path is
#include <unistd.h>    // pread, write, ftruncate, close, unlink

#include <cerrno>
#include <cstring>
#include <memory>

#include "core/encoding.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/stop_signals.h"

namespace quorrel::file {
namespace {

failure system_failure(int error) { return {system_reason(error)}; }
failure refused(std::string_view reason) { return {std::string(reason)}; }

int fd_of(const handle& file) { return static_cast<int>(file.native()); }

identity identity_from(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// Why no piece is written over something that is not a regular file.
failure not_regular(mode_t mode) {
  if (S_ISLNK(mode)) return refused(messages::piece_is_link);
  if (S_ISFIFO(mode)) return refused(messages::piece_is_pipe);
  if (S_ISDIR(mode)) return system_failure(EISDIR);
  return refused(messages::piece_is_not_regular);
}

// Opening a path that was a regular file failed: it may have become a link
// (ELOOP under O_NOFOLLOW) or a pipe without a reader (ENXIO) meanwhile.
failure open_failure(const std::string& path, int error) {
  struct stat now {};
  if ((error == ELOOP || error == ENXIO) && ::lstat(path.c_str(), &now) == 0 && !S_ISREG(now.st_mode))
    return not_regular(now.st_mode);
  return system_failure(error);
}

// Whether a regular file's data is seen under another name or belongs to
// another user: writing into it would change what they see.
bool shared(const struct stat& info) { return info.st_nlink > 1 || info.st_uid != ::geteuid(); }

// Removes the name `path` while it still names the file `id`: errno's value
// when it could not be removed (0 when the path names another file by now:
// nothing to remove, and nothing removed).
int remove_same(const std::string& path, const identity& id) {
  struct stat now {};
  if (::lstat(path.c_str(), &now) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISREG(now.st_mode) || identity_from(now) != id) return 0;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

// Removes a shared file's name so that the piece can be made afresh; the
// failure when it stays.
result<void> unshare(const std::string& path, const struct stat& info) {
  if (remove_same(path, identity_from(info)) == 0) return {};
  return refused(info.st_nlink > 1 ? messages::piece_has_links : messages::piece_of_other_user);
}

// The folder that holds `folder` (its last part dropped), or "" when it has
// no parent to make: a root, or a single relative name.
std::string parent_of(std::string_view folder) {
  while (!folder.empty() && is_separator(folder.back())) folder.remove_suffix(1);
  const std::size_t last = folder.find_last_of(separators);
  return last == std::string_view::npos ? std::string() : std::string(folder.substr(0, last + 1));
}

}  // namespace

std::string system_reason(int error) {
  char buffer[256];
  // The GNU strerror_r, safe on the writer thread: it returns the text,
  // in the locale's encoding (translated where the system has translations).
  const std::string text = ::strerror_r(error, buffer, sizeof buffer);
  const std::string_view codeset = ::nl_langinfo(CODESET);
  if (codeset == "UTF-8" || codeset == "ANSI_X3.4-1968") return text;
  if (const auto enc = encoding_by_name(codeset)) return decode(text, *enc);
  // An encoding that cannot be read: the C locale's text, which is ASCII.
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  return c_locale ? ::strerror_l(error, c_locale) : "error " + std::to_string(error);
}

result<void> make_folders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return {};
  if (::mkdir(folder.c_str(), 0777) == 0) return {};
  int error = errno;
  if (error == ENOENT) {
    // A missing parent: made first, then this folder once more.
    const std::string parent = parent_of(folder);
    if (parent.empty()) return system_failure(error);
    if (auto made = make_folders(parent); !made) return made;
    if (::mkdir(folder.c_str(), 0777) == 0) return {};
    error = errno;
  }
  // Made by another process meanwhile, or something else in the way.
  if (error == EEXIST)
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? result<void>()
                                                                       : system_failure(ENOTDIR);
  return system_failure(error);
}

result<void> handle::close() {
  if (!is_open()) return {};
  const int fd = fd_of(*this);
  native_ = none;
  // Linux releases the descriptor even when close reports an error, so it
  // is never closed twice.
  if (::close(fd) != 0) return system_failure(errno);
  return {};
}

void handle::drop() {
  if (is_open()) ::close(fd_of(*this));
  native_ = none;
}

result<source> open_source(const std::string& path) {
  // O_NONBLOCK: should the path have become a FIFO since it was checked,
  // opening it must not wait for a writer.
  handle opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!opened.is_open()) return system_failure(errno);
  const int fd = fd_of(opened);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return system_failure(errno);
  if (!S_ISREG(info.st_mode)) return system_failure(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return source{std::move(opened), static_cast<std::uint64_t>(info.st_size), identity_from(info)};
}

result<std::size_t> read_at(const handle& file, std::uint64_t offset, std::span<char> into) {
  for (;;) {
    const ssize_t got = ::pread(fd_of(file), into.data(), into.size(), static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    // A stop that cut the read short ends it: a source that stalls would
    // otherwise hold the run forever.
    if (errno != EINTR || interrupted_by_stop()) return system_failure(errno);
  }
}

result<piece> create_piece(const std::string& path, const identity& source_id) {
  // O_NOFOLLOW: never through a link. O_NONBLOCK: never waiting on a pipe or
  // a device (regular files ignore it). O_NOCTTY: a terminal found there
  // never becomes ours.
  constexpr int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int error = 0;
  // The path can change between the calls below; a few rounds settle it.
  for (int round = 0; round < 3; ++round) {
    handle created(::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666));
    if (created.is_open()) {
      struct stat info {};
      if (::fstat(fd_of(created), &info) != 0) return system_failure(errno);
      return piece{std::move(created), identity_from(info)};
    }
    if (errno != EEXIST) return system_failure(errno);

    struct stat found {};
    if (::lstat(path.c_str(), &found) != 0) {
      error = errno;
      if (error == ENOENT) continue;  // removed meanwhile: create it after all
      return system_failure(error);
    }
    // Anything but a regular file is refused unopened: opening a device can
    // already act on it. The source is refused before anything is removed.
    if (!S_ISREG(found.st_mode)) return not_regular(found.st_mode);
    if (identity_from(found) == source_id) return refused(messages::piece_is_source);
    error = EEXIST;
    if (shared(found)) {
      if (auto gone = unshare(path, found); !gone) return failure{gone.reason()};
      continue;
    }
    handle existing(::open(path.c_str(), flags));
    if (!existing.is_open()) {
      error = errno;
      if (error == ENOENT) continue;
      return open_failure(path, error);
    }
    // Decided on the file opened, not on the path looked at before, which may
    // have been replaced in between; nothing is truncated until then.
    struct stat opened {};
    if (::fstat(fd_of(existing), &opened) != 0) return system_failure(errno);
    if (!S_ISREG(opened.st_mode)) return not_regular(opened.st_mode);
    if (identity_from(opened) == source_id) return refused(messages::piece_is_source);
    if (shared(opened)) {
      if (auto gone = unshare(path, opened); !gone) return failure{gone.reason()};
      continue;
    }
    if (::ftruncate(fd_of(existing), 0) != 0) return system_failure(errno);
    return piece{std::move(existing), identity_from(opened)};
  }
  return system_failure(error);
}

result<void> write_all(const handle& file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd_of(file), bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR && !interrupted_by_stop()) continue;
    if (put < 0) return system_failure(errno);
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return {};
}

void remove_piece(const std::string& path, piece& made) {
  (void)made.file.close();
  (void)remove_same(path, made.id);
}

std::optional<handle> hold_folder(const std::string& folder) {
  handle opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC));
  if (!opened.is_open()) return handle();
  // The lock goes with the descriptor: closed, or the process gone, it is free.
  for (;;) {
    if (::flock(fd_of(opened), LOCK_EX | LOCK_NB) == 0) return opened;
    if (errno == EWOULDBLOCK) return std::nullopt;
    if (errno != EINTR) return handle();
  }
}

result<void> may_put_in_place(const std::string& to) {
  struct stat found {};
  if (::lstat(to.c_str(), &found) != 0) return errno == ENOENT ? result<void>() : system_failure(errno);
  if (!S_ISREG(found.st_mode)) return not_regular(found.st_mode);
  return {};
}

result<void> put_in_place(const std::string& from, const std::string& to) {
  if (auto allowed = may_put_in_place(to); !allowed) return allowed;
  if (::rename(from.c_str(), to.c_str()) != 0) return system_failure(errno);
  return {};
}

std::optional<identity> identity_of(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return identity_from(info);
}

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

placement place_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool same_name(std::string_view a, std::string_view b) { return a == b; }

bool list_folder(const std::string& folder, const std::function<void(std::string_view name)>& each) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) each(entry->d_name);
  return true;
}

}  // namespace quorrel::file
