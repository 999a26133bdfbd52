#include "core/file.h"

#include <windows.h>

#include <algorithm>
#include <cstring>  // strerror
#include <string>

#include "core/messages.h"
#include "core/path.h"
#include "core/win32_file.h"
#include "core/win32_stop.h"
#include "core/win32_support.h"

namespace quorrel::file {
namespace {

using win32::narrow;
using win32::system_message;
using win32::system_path;
using win32::widen;

failure system_failure(DWORD error) { return {system_message(error)}; }
failure last_failure() { return system_failure(GetLastError()); }
failure refused(std::string_view reason) { return {std::string(reason)}; }

HANDLE native_of(const handle& file) { return reinterpret_cast<HANDLE>(file.native()); }
handle own(HANDLE opened) { return handle(reinterpret_cast<handle::native_type>(opened)); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What an open handle is, for the checks below.
struct facts {
  bool disk = false;  // a file or folder on a volume: no device, pipe or console
  DWORD attributes = 0;
  reparse_kind reparse = reparse_kind::file;  // what its reparse point makes it, if it has one
  std::uint64_t size = 0;
  DWORD links = 0;  // names of the file's data (hard links)
  identity id;
};

std::optional<facts> facts_of(HANDLE file) {
  facts out;
  out.disk = GetFileType(file) == FILE_TYPE_DISK;
  if (!out.disk) return out;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  out.attributes = info.dwFileAttributes;
  out.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  out.links = info.nNumberOfLinks;
  out.id = {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  if (out.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) return std::nullopt;
    out.reparse = kind_of_reparse(tag.ReparseTag);
  }
  return out;
}

bool is_plain_file(const facts& f) {
  return f.disk && !(f.attributes & FILE_ATTRIBUTE_DIRECTORY) && f.reparse == reparse_kind::file;
}

// Why no piece is written over what was found.
failure not_plain(const facts& f) {
  if (f.disk && f.reparse == reparse_kind::link) return refused(messages::piece_is_link);
  return refused(messages::piece_is_not_regular);
}

// Opens a path for its facts alone (no reading or writing), links followed;
// folders open too.
handle open_to_look(const std::wstring& path) {
  return own(
      CreateFileW(path.c_str(), 0, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Removes the name `path` while it still names the plain file `id`, through
// one handle, so that the file removed is the one checked even if the path
// changes meanwhile. False only when that file is still there under that
// name.
bool remove_same(const std::wstring& path, const identity& id) {
  const handle now = own(CreateFileW(path.c_str(), DELETE, share_all, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!now.is_open()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  const auto found = facts_of(native_of(now));
  if (!found || !is_plain_file(*found) || found->id != id) return true;
  FILE_DISPOSITION_INFO remove{};
  remove.DeleteFile = TRUE;
  return SetFileInformationByHandle(native_of(now), FileDispositionInfo, &remove, sizeof remove);
}

// Opens a path for its facts alone, a link or junction itself and not what
// it points to.
handle open_unfollowed(const std::wstring& path) {
  return own(CreateFileW(path.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The folder that holds `folder` (its last part dropped), or "" when it has
// no parent to make: a root, a drive, or a single relative name.
std::string parent_of(std::string_view folder) {
  while (!folder.empty() && is_separator(folder.back())) folder.remove_suffix(1);
  const std::size_t last = folder.find_last_of(separators);
  return last == std::string_view::npos ? std::string() : std::string(folder.substr(0, last + 1));
}

bool is_folder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Reads and writes go in steps a DWORD can count.
constexpr std::size_t step = 1u << 30;

}  // namespace

// The C runtime's errno texts have no other language.
std::string system_reason(int error) { return std::strerror(error); }

result<void> make_folders(const std::string& folder) {
  const std::wstring wide = system_path(folder);
  if (is_folder(wide) || CreateDirectoryW(wide.c_str(), nullptr)) return {};
  DWORD error = GetLastError();
  if (error == ERROR_PATH_NOT_FOUND) {
    // A missing parent: made first, then this folder once more.
    const std::string parent = parent_of(folder);
    if (parent.empty()) return system_failure(error);
    if (auto made = make_folders(parent); !made) return made;
    if (CreateDirectoryW(wide.c_str(), nullptr)) return {};
    error = GetLastError();
  }
  // Made by another program meanwhile, or a file in the way.
  if (error == ERROR_ALREADY_EXISTS)
    return is_folder(wide) ? result<void>() : system_failure(ERROR_DIRECTORY);
  return system_failure(error);
}

result<void> handle::close() {
  if (!is_open()) return {};
  const HANDLE file = native_of(*this);
  native_ = none;
  if (!CloseHandle(file)) return last_failure();
  return {};
}

void handle::drop() {
  if (is_open()) CloseHandle(native_of(*this));
  native_ = none;
}

result<source> open_source(const std::string& path) {
  // No other program may write to the source while it is read (one that
  // already does is refused with the system's reason); it may still be
  // renamed or deleted, which leaves the text being read as it is.
  constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  handle opened = own(CreateFileW(system_path(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!opened.is_open()) return last_failure();
  const auto found = facts_of(native_of(opened));
  if (!found) return last_failure();
  if (!found->disk || (found->attributes & FILE_ATTRIBUTE_DIRECTORY))
    return refused(messages::piece_is_not_regular);
  return source{std::move(opened), found->size, found->id};
}

result<std::size_t> read_at(const handle& file, std::uint64_t offset, std::span<char> into) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const stoppable_call stoppable;
  if (ReadFile(native_of(file), into.data(), static_cast<DWORD>(std::min(into.size(), step)), &got, &at))
    return static_cast<std::size_t>(got);
  if (GetLastError() == ERROR_HANDLE_EOF) return std::size_t{0};
  return last_failure();
}

result<piece> create_piece(const std::string& path, const identity& source_id) {
  const std::wstring wide = system_path(path);
  // FILE_FLAG_OPEN_REPARSE_POINT: a link or junction at the path is opened
  // itself, never what it points to, and then refused.
  constexpr DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  DWORD error = 0;
  // The path can change between the calls below; a few rounds settle it.
  for (int round = 0; round < 3; ++round) {
    handle created =
        own(CreateFileW(wide.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, flags, nullptr));
    if (created.is_open()) {
      const auto made = facts_of(native_of(created));
      if (!made) return last_failure();
      // A device name (NUL, CON...) opens the device even with CREATE_NEW:
      // nothing was created.
      if (!is_plain_file(*made)) return not_plain(*made);
      return piece{std::move(created), made->id};
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
      return system_failure(error);

    // Looked at before it is opened for writing: a link, junction or folder
    // is refused unopened.
    const handle looked = open_unfollowed(wide);
    if (!looked.is_open()) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // removed meanwhile: create it after all
      return last_failure();
    }
    const auto found = facts_of(native_of(looked));
    if (!found) return last_failure();
    if (!is_plain_file(*found)) return not_plain(*found);
    // The source is open without write sharing, so opening it below would
    // fail for that reason instead of this one.
    if (found->id == source_id) return refused(messages::piece_is_source);
    if (error == ERROR_ACCESS_DENIED) return system_failure(error);  // a read-only file, say

    // DELETE as well: a piece that another program holds open without delete
    // sharing is refused here, while it still holds its old text, instead of
    // being cut short and then left behind when the run fails. A reparse
    // point that is a file (a cloud file, say) is opened through its filter,
    // as any program opens it; that it is still the file looked at is
    // checked below.
    const DWORD open_flags = found->attributes & FILE_ATTRIBUTE_REPARSE_POINT ? FILE_ATTRIBUTE_NORMAL : flags;
    handle existing = own(CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, share, nullptr, OPEN_EXISTING,
                                      open_flags, nullptr));
    if (!existing.is_open()) {
      error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND) continue;
      return system_failure(error);
    }
    // Decided on the file opened, not on the path looked at before, which may
    // have been replaced in between; nothing is truncated until then.
    const auto opened = facts_of(native_of(existing));
    if (!opened) return last_failure();
    if (opened->id != found->id) continue;
    if (!is_plain_file(*opened)) return not_plain(*opened);
    if (opened->id == source_id) return refused(messages::piece_is_source);
    if (opened->links > 1) {
      // Written into, it would change what its other names show: its name is
      // removed (once this handle is closed) and the piece made afresh.
      existing = handle();
      if (!remove_same(wide, opened->id)) return refused(messages::piece_has_links);
      error = ERROR_FILE_EXISTS;
      continue;
    }
    if (!SetEndOfFile(native_of(existing))) return last_failure();  // at offset 0: truncates
    return piece{std::move(existing), opened->id};
  }
  return system_failure(error);
}

result<void> write_all(const handle& file, std::string_view bytes) {
  const stoppable_call stoppable;
  while (!bytes.empty()) {
    DWORD put = 0;
    if (!WriteFile(native_of(file), bytes.data(), static_cast<DWORD>(std::min(bytes.size(), step)), &put,
                   nullptr))
      return last_failure();
    bytes.remove_prefix(put);
  }
  return {};
}

void remove_piece(const std::string& path, piece& made) {
  (void)made.file.close();
  (void)remove_same(system_path(path), made.id);
}

std::optional<handle> hold_folder(const std::string& folder) {
  const handle opened = open_to_look(system_path(folder));
  if (!opened.is_open()) return handle();
  const auto found = facts_of(native_of(opened));
  if (!found || !found->disk) return handle();
  // A named object lives while a handle to it is open, in any process, and
  // goes with the last one: no file is made and none is left behind by a
  // run that crashed. Its existence is the lock; nobody needs to own it.
  // Global: runs in other sessions (other users) into the folder count too.
  std::wstring name = L"Global\\quorrel-split-folder";
  for (const std::uint64_t part : {found->id.volume, found->id.index}) {
    name += L'-';
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(part >> shift) & 0xF];
  }
  SetLastError(ERROR_SUCCESS);
  const HANDLE made = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  // Denied: it exists, made by another user's run.
  if (made == nullptr) return error == ERROR_ACCESS_DENIED ? std::nullopt : std::optional<handle>(handle());
  handle held = own(made);
  if (error == ERROR_ALREADY_EXISTS) return std::nullopt;
  return held;
}

reparse_kind kind_of_reparse(std::uint32_t tag) {
  constexpr std::uint32_t app_alias = 0x8000001B;  // IO_REPARSE_TAG_APPEXECLINK
  constexpr std::uint32_t wsl_socket = 0x80000023, wsl_pipe = 0x80000024, wsl_character_device = 0x80000025,
                          wsl_block_device =
                              0x80000026;  // IO_REPARSE_TAG_AF_UNIX, _LX_FIFO, _LX_CHR, _LX_BLK
  if (IsReparseTagNameSurrogate(tag) || tag == app_alias) return reparse_kind::link;
  if (tag == wsl_socket || tag == wsl_pipe || tag == wsl_character_device || tag == wsl_block_device)
    return reparse_kind::special;
  return reparse_kind::file;
}

result<void> may_put_in_place(const std::string& to) {
  // GetFileAttributesW does not follow a link.
  const DWORD attributes = GetFileAttributesW(system_path(to).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    return system_failure(error);
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return refused(messages::piece_is_link);
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
    return refused(messages::piece_is_not_regular);
  return {};
}

result<void> put_in_place(const std::string& from, const std::string& to) {
  if (auto allowed = may_put_in_place(to); !allowed) return allowed;
  if (!MoveFileExW(system_path(from).c_str(), system_path(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return last_failure();
  return {};
}

std::optional<identity> identity_of(const std::string& path) {
  const handle file = open_to_look(system_path(path));
  if (!file.is_open()) return std::nullopt;
  const auto found = facts_of(native_of(file));
  if (!found || !found->disk) return std::nullopt;
  return found->id;
}

bool is_regular_file(const std::string& path) {
  const handle file = open_to_look(system_path(path));
  if (!file.is_open()) return false;
  const auto found = facts_of(native_of(file));
  return found && found->disk && !(found->attributes & FILE_ATTRIBUTE_DIRECTORY);
}

placement place_of(const std::string& path) {
  const std::wstring placed = win32::full_path(widen(path));
  const std::size_t last = placed.find_last_of(L"\\/");
  if (last == std::wstring::npos) return {".", path};
  return {narrow(placed.substr(0, last + 1)), narrow(placed.substr(last + 1))};
}

bool same_name(std::string_view a, std::string_view b) {
  const std::wstring wide_a = widen(a), wide_b = widen(b);
  return CompareStringOrdinal(wide_a.data(), static_cast<int>(wide_a.size()), wide_b.data(),
                              static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

bool list_folder(const std::string& folder, const std::function<void(std::string_view name)>& each) {
  std::wstring pattern = system_path(folder);
  // "C:" alone is the current folder of drive C, so it takes no separator.
  const bool drive_only = pattern.size() == 2 && pattern[1] == L':';
  if (!pattern.empty() && !drive_only && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry{};
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  const win32::unique_search owned(search);
  do each(narrow(entry.cFileName));
  while (FindNextFileW(search, &entry));
  return true;
}

}  // namespace quorrel::file
