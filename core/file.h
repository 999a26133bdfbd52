#pragma once
// What the splitter needs of the file system, the same on every system: the
// source opened and read at an offset, pieces created, written and removed
// safely, a folder's names, and files told apart by identity.
// file_posix.cpp and file_win32.cpp implement it; the build picks one.
//
// Paths are UTF-8. Every call that reports a failure returns a result: true
// when done, else false with a reason worded for the user: the system's own
// description of the error, or one of the reasons in messages.h for a hazard
// the program refuses by itself. Nothing throws but std::bad_alloc. A handle
// owns what it holds and closes it when it goes.
//
// A piece is never anything but a regular file that this run created or
// truncated: create_piece follows no link in the last part of the path, never
// waits on a pipe or a device, and refuses the source itself before a single
// byte is truncated or written; remove_piece removes only a piece that
// create_piece returned, and only while its path still names that very file.
// A piece shares its data with no other name, and one run at a time writes
// into a folder (hold_folder).

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace quorrel::file {

// Which file a path or handle leads to: device and inode, or volume serial
// and file index. Two equal identities are the same file, whatever the names.
struct identity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const identity&, const identity&) = default;
};

struct failure {
  std::string reason;  // shown after the path in the message
};

// The system's description of an errno value, in UTF-8 and in the user's
// language where the system has it: on POSIX systems strerror's text under
// the locale the program set (setlocale), on Windows the C runtime's own.
std::string system_reason(int error);

// A value, or the failure that kept it from being made.
template <class T>
class result {
 public:
  result(T value) : value_(std::move(value)) {}
  result(failure failed) : failure_(std::move(failed)) {}
  explicit operator bool() const { return !failure_; }
  T& operator*() { return value_; }
  T* operator->() { return &value_; }
  const std::string& reason() const { return failure_->reason; }

 private:
  T value_{};
  std::optional<failure> failure_;
};

// Done, or the failure that kept it from being done.
template <>
class result<void> {
 public:
  result() = default;
  result(failure failed) : failure_(std::move(failed)) {}
  explicit operator bool() const { return !failure_; }
  const std::string& reason() const { return failure_->reason; }

 private:
  std::optional<failure> failure_;
};

// An open file of the system, closed when the handle goes. Move-only.
class handle {
 public:
  using native_type = std::intptr_t;       // a descriptor, or a HANDLE's bits
  static constexpr native_type none = -1;  // no file (INVALID_HANDLE_VALUE too)

  handle() = default;
  explicit handle(native_type native) : native_(native) {}
  handle(handle&& other) noexcept : native_(std::exchange(other.native_, none)) {}
  handle& operator=(handle&& other) noexcept {
    if (this != &other) {
      drop();
      native_ = std::exchange(other.native_, none);
    }
    return *this;
  }
  ~handle() { drop(); }

  bool is_open() const { return native_ != none; }
  native_type native() const { return native_; }

  // Closes it now: the failure when what was written may not have reached
  // the file. Closed afterwards either way.
  [[nodiscard]] result<void> close();

 private:
  void drop();  // closes, errors ignored
  native_type native_ = none;
};

// ---------------------------------------------------------------------------
// The source

struct source {
  handle file;
  std::uint64_t size = 0;  // bytes when opened; reading goes on to the real end
  identity id;
};

// Opens `path` (links followed) for reading. Only a regular file is taken,
// and opening never waits: a path that became a pipe since it was checked is
// refused, not waited on.
result<source> open_source(const std::string& path);

// Reads up to into.size() bytes from `offset`: how many were read, 0 at the end.
result<std::size_t> read_at(const handle& file, std::uint64_t offset, std::span<char> into);

// ---------------------------------------------------------------------------
// Pieces

struct piece {
  handle file;
  identity id;
};

// Opens `path` as a piece: creates it, or truncates the regular file found
// there. Refused (nothing created, nothing changed) when the path is a
// symbolic link, a pipe, a device or anything but a regular file, or when it
// is the file `source_id` names. A regular file found there that has other
// names (hard links) or, on POSIX systems, another owner than the run's user
// is never written into: its name is removed and the piece created afresh,
// so the other names keep their data; when the name cannot be removed the
// piece is refused and the file stays as it was. Every piece returned is a
// file this run created or truncated, with no other name.
result<piece> create_piece(const std::string& path, const identity& source_id);

// Writes all of `bytes` at the current position (pieces are written front to back).
[[nodiscard]] result<void> write_all(const handle& file, std::string_view bytes);

// Closes the piece if still open and removes it from `path`, unless the path
// names another file by now (it was replaced meanwhile). Errors are ignored:
// the failure that led here is the one to report.
void remove_piece(const std::string& path, piece& made);

// Holds `folder` for this run's writing for as long as the handle lives, so
// that a second run into the same folder, from any process, is refused:
// nullopt when another run holds it. Nothing is created on disk for it (an
// advisory lock on the open folder, or a named object of the system's named
// after the folder's identity), and a run that ends in any way lets it go.
// A folder that cannot be opened or held for any other reason does not stop
// the run: the handle is then empty.
std::optional<handle> hold_folder(const std::string& folder);

// ---------------------------------------------------------------------------
// Whole files put in place

// Whether a file made elsewhere may be put at `to`: nothing is there, or a
// regular file (a link, pipe, device or folder is refused, with the reason).
[[nodiscard]] result<void> may_put_in_place(const std::string& to);

// Puts the complete, closed file at `from` in place of `to` in one step, so
// `to` is never seen half written; `to` is checked as above first, and
// what it names is replaced, never written through.
[[nodiscard]] result<void> put_in_place(const std::string& from, const std::string& to);

// ---------------------------------------------------------------------------
// Checks before a run

// The file `path` leads to (links followed), or nullopt when it cannot be told.
std::optional<identity> identity_of(const std::string& path);

// Whether `path` leads to a regular file (links followed).
bool is_regular_file(const std::string& path);

// Makes the folder `folder` and whichever of its parents are missing; done
// when it is a folder already (links followed). The failure names the
// system's reason, a file in the way included.
[[nodiscard]] result<void> make_folders(const std::string& folder);

// Where the file `path` names lives: the folder to list and the name in it,
// found as the system finds the file when it opens the path (on Windows a
// relative or drive-relative path like "Z:x" is taken against the current
// folder of its drive). `path` names a file: its last part is not empty.
struct placement {
  std::string folder;
  std::string name;
};
placement place_of(const std::string& path);

// Whether two names (UTF-8) in one folder name the same entry, compared as
// the system compares them: exactly on Linux; on Windows without regard to
// letter case in any script ("ä" and "Ä", full-width letters too).
bool same_name(std::string_view a, std::string_view b);

// Calls `each` with the name of every entry of `folder` ("." and ".." may be
// among them). False when the folder cannot be listed.
bool list_folder(const std::string& folder, const std::function<void(std::string_view name)>& each);

}  // namespace quorrel::file
