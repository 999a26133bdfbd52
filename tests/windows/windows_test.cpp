// Windows only: what the tool does differently there.
#include <windows.h>
// After windows.h, which it builds on.
#include <winioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/checks.h"
#include "core/file.h"
#include "core/messages.h"
#include "core/stop_signals.h"
#include "core/win32_file.h"
#include "core/win32_support.h"
#include "split_process.h"
#include "temp_folder.h"

namespace quorrel {
namespace {

namespace fs = std::filesystem;
using testing::read_bytes;
using testing::temp_folder;
using win32::narrow;
using win32::widen;

// The GBK bytes of 第一章 and 第二章, each a heading line.
const std::string two_chapters =
    "\xB5\xDA\xD2\xBB\xD5\xC2\r\n\xD2\xBB\r\n\xB5\xDA\xB6\xFE\xD5\xC2\r\n\xB6\xFE\r\n";

// Runs quorrel-split.exe, which sits beside this program, with UTF-16
// arguments and its output and messages on pipes, as the command-line tests
// do.
cli_testing::outcome split(const std::vector<std::wstring>& arguments) {
  std::vector<std::string> utf8;
  for (const auto& argument : arguments) utf8.push_back(narrow(argument));
  return cli_testing::run(utf8);
}

std::wstring wide(const fs::path& path) { return path.wstring(); }
std::string utf8(const fs::path& path) { return narrow(path.wstring()); }

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A piece that would be the source itself is found by volume serial and file
// index, however the destination is written: "\" or "/" after its folder, a
// drive-relative folder ("C:", "C:x": the current folder of that drive),
// names in any letter case of any script. A hard link under the piece's name
// is refused, any other file is not.
TEST(WindowsPaths, PiecesThatAreTheSourceAreRefusedHoweverTheFolderIsNamed) {
  struct row {
    std::string source;       // in the working folder
    std::string destination;  // "{dir}" is the working folder, "{drive}" its drive
    std::string other;        // a second name there, "" for none
    bool linked;              // that name is the source's hard link, else another file
  };
  const fs::path before = fs::current_path();
  for (const row& r :
       {row{"novel.txt", "{dir}\\", "0000.txt", true}, row{"novel.txt", "{dir}\\", "0000.txt", false},
        row{"novel.txt", "{dir}\\book", "book0007.txt", true}, row{"novel.txt", "{dir}/", "0000.txt", true},
        row{"novel.txt", "{dir}\\sub\\", "sub\\0001.txt", true},
        row{"novel.txt", "{dir}\\Book", "book0002.TXT", true}, row{"0001.txt", "{drive}", "", false},
        row{"x0001.txt", "{drive}x", "", false}, row{"0001.txt", ".\\", "", false},
        row{"0001.txt", "{drive}.\\", "", false}, row{"out\\ä0001.txt", "out\\Ä", "", false},
        row{"out\\ａｂ0001.txt", "out\\ＡＢ", "", false}}) {
    temp_folder tmp;
    fs::current_path(fs::path(widen(tmp.path())));  // left at the end of the row, so that the folder can go
    for (const char* sub : {"sub", "out"}) fs::create_directory(fs::path(tmp / sub));
    const std::wstring source = widen(tmp.dir() + r.source);  // UTF-16: the names are not in the code page
    write_file(fs::path(source), two_chapters);
    if (r.linked) {
      EXPECT_TRUE(CreateHardLinkW(widen(tmp / r.other).c_str(), source.c_str(), nullptr));
    } else if (!r.other.empty()) {
      tmp.write(r.other, "another file");
    }
    std::string destination = r.destination;
    if (destination.starts_with("{dir}")) destination.replace(0, 5, tmp.path());
    if (destination.starts_with("{drive}")) destination.replace(0, 7, tmp.dir().substr(0, 2));
    SCOPED_TRACE(r.source + " -> " + destination + " " + r.other);
    const bool refused = r.other.empty() || r.linked;
    const auto check = check_inputs(r.source, destination, 1);
    EXPECT_EQ(check.ok, !refused) << check.message;
    EXPECT_EQ(check.message, refused ? messages::would_overwrite(r.source) : "");
    fs::current_path(before);
  }
}

// A path goes to the system in the \\?\ form (full, "\" only) from the
// plain form's limit on, counted in UTF-16 code units; a UNC path as
// \\?\UNC\, and one already in the \\?\ or the device (\\.\) namespace
// as given.
TEST(WindowsPaths, LongPathsTakeTheLongFormOnce) {
  const auto a = [](int count, std::string_view unit = "a") {
    std::string out;
    while (count-- > 0) out += unit;
    return out;
  };
  const std::string four_bytes = "\xF0\xA0\x80\x80";  // U+20000, two code units
  const struct {
    std::string path, sent;
  } rows[] = {
      {"C:\\" + a(244), "C:\\" + a(244)},
      {"C:\\" + a(245), "\\\\?\\C:\\" + a(245)},
      {"C:\\" + a(244, "书"), "C:\\" + a(244, "书")},
      {"C:\\" + a(243) + four_bytes, "\\\\?\\C:\\" + a(243) + four_bytes},
      {"C:/" + a(245), "\\\\?\\C:\\" + a(245)},
      {"\\\\server\\share\\" + a(240), "\\\\?\\UNC\\server\\share\\" + a(240)},
      {"\\\\?\\C:\\" + a(300), "\\\\?\\C:\\" + a(300)},
      {"\\\\.\\C:\\" + a(300), "\\\\.\\C:\\" + a(300)},
  };
  for (const auto& r : rows) EXPECT_EQ(narrow(win32::system_path(r.path)), r.sent) << r.path;
}

// Chinese and long names reach the tool as UTF-16 arguments and the file
// system as UTF-16 paths (\\?\ beyond MAX_PATH); what it writes to a
// redirected output is UTF-8.
TEST(WindowsNames, ChineseAndLongNamesThroughTheCommandLine) {
  for (const int depth : {1, 16}) {
    SCOPED_TRACE(depth);
    temp_folder tmp;
    fs::path folder = fs::path(tmp.dir());
    for (int i = 0; i < depth; ++i) folder /= L"小说文件夹，第" + std::to_wstring(i) + L"层，名字很长很长";
    fs::create_directories(folder / fs::path(L"章节"));
    if (depth > 1) {
      ASSERT_GT(wide(folder).size(), std::size_t{MAX_PATH});
    }
    const fs::path source = folder / fs::path(L"第一部.txt");
    write_file(source, two_chapters);
    const fs::path destination = folder / fs::path(L"章节");

    const auto done = split({wide(source), wide(destination) + L"\\", L"-k", L"章"});
    EXPECT_EQ(done.exit_code, 0) << done.err;
    EXPECT_EQ(done.out, std::string(messages::finished) + "\n");
    EXPECT_EQ(read_file(destination / "0000.txt"), "\xB5\xDA\xD2\xBB\xD5\xC2\r\n\xD2\xBB\r\n");
    EXPECT_EQ(read_file(destination / "0001.txt"), "\xB5\xDA\xB6\xFE\xD5\xC2\r\n\xB6\xFE\r\n");

    const std::string prefix = utf8(destination) + "\\卷";
    const auto listed = split({wide(source), widen(prefix), L"--list"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(listed.out,
              prefix + "0000.txt\t12\t第一章\n" + prefix + "0001.txt\t12\t第二章\n合计：2个文件，24字节\n");
  }
}

// A folder another run is writing into (its named lock held, here by the
// test) is refused before anything is made in it.
TEST(WindowsFiles, AFolderAnotherRunWritesIntoIsRefused) {
  temp_folder tmp;
  const std::string source = tmp.write("novel.txt", two_chapters);
  const std::string busy = tmp / "busy\\";
  fs::create_directory(fs::path(widen(busy)));
  const auto held = file::hold_folder(busy);
  ASSERT_TRUE(held && held->is_open());
  const auto refused = split({widen(source), widen(busy) + L"第"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err, messages::folder_busy(busy) + "\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_TRUE(fs::is_empty(fs::path(widen(busy))));
}

// Mount-point data for FSCTL_SET_REPARSE_POINT (REPARSE_DATA_BUFFER is a
// driver kit declaration).
struct mount_point {
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  WORD data_length = 0, reserved = 0;
  WORD substitute_offset = 0, substitute_length = 0, print_offset = 0, print_length = 0;
  wchar_t names[MAX_PATH * 2] = {};
};

// A junction at `at` (an empty folder is made) to the folder `to`.
bool make_junction(const fs::path& at, const fs::path& to) {
  if (!CreateDirectoryW(wide(at).c_str(), nullptr)) return false;
  const HANDLE folder = CreateFileW(wide(at).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring target = L"\\??\\" + wide(to);
  mount_point data;
  const auto bytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
  target.copy(data.names, target.size());
  data.substitute_length = bytes;
  data.print_offset = bytes + sizeof(wchar_t);  // an empty name to print, after the target's NUL
  data.data_length = static_cast<WORD>(4 * sizeof(WORD) + bytes + 2 * sizeof(wchar_t));
  DWORD returned = 0;
  const bool made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data, 8 + data.data_length, nullptr, 0,
                                    &returned, nullptr);
  CloseHandle(folder);
  return made;
}

// What a piece's path may hold: create_piece decides on the file it opened,
// by volume serial and file index, and changes nothing it refuses. A hard
// link to another file is made afresh, so the other name keeps its bytes; a
// symbolic link or a junction is refused, and what it points to stays as it
// was. Wine 8 makes neither (CreateSymbolicLinkW does nothing,
// FSCTL_SET_REPARSE_POINT is not supported): those rows do not run there.
TEST(WindowsFiles, PiecesAreOnlyFilesTheRunMayWrite) {
  enum class found {
    nothing,
    other_file,
    other_link,
    source_link,
    folder,
    device,
    held_open,
    symbolic_link,
    junction
  };
  struct row {
    found at_path;
    std::string_view refusal;  // "" when the piece is made, "?" for the system's reason
  };
  std::string unmade;  // rows whose link this system cannot make
  for (const row& r :
       {row{found::nothing, ""}, row{found::other_file, ""}, row{found::other_link, ""},
        row{found::source_link, messages::piece_is_source},
        row{found::folder, messages::piece_is_not_regular},
        row{found::device, messages::piece_is_not_regular}, row{found::held_open, "?"},
        row{found::symbolic_link, messages::piece_is_link}, row{found::junction, messages::piece_is_link}}) {
    SCOPED_TRACE(static_cast<int>(r.at_path));
    temp_folder tmp;
    const std::string source = tmp.write("novel.txt", two_chapters);
    auto reading = file::open_source(source);  // open, as during a run
    ASSERT_TRUE(reading) << reading.reason();
    const auto source_id = reading->id;
    std::string path = tmp / "0000.txt";
    HANDLE holder = INVALID_HANDLE_VALUE;  // another program's, without delete sharing
    switch (r.at_path) {
      case found::nothing: break;
      case found::other_file: tmp.write("0000.txt", "old"); break;
      case found::other_link:
        CreateHardLinkW(widen(path).c_str(), widen(tmp.write("kept.txt", "kept")).c_str(), nullptr);
        break;
      case found::source_link: CreateHardLinkW(widen(path).c_str(), widen(source).c_str(), nullptr); break;
      case found::folder: fs::create_directory(fs::path(path)); break;
      case found::device: path = tmp / "NUL"; break;
      case found::held_open:
        tmp.write("0000.txt", "old");
        holder =
            CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        break;
      case found::symbolic_link:
        CreateSymbolicLinkW(widen(path).c_str(), widen(tmp.write("kept.txt", "kept")).c_str(),
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
        break;
      case found::junction:
        fs::create_directory(fs::path(tmp / "kept"));
        make_junction(fs::path(widen(path)), fs::path(widen(tmp / "kept")));
        break;
    }
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (r.refusal == messages::piece_is_link &&
        (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
      unmade += r.at_path == found::junction ? " junctions" : " symbolic links,";
      continue;
    }
    auto made = file::create_piece(path, source_id);
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    if (r.refusal.empty()) {
      ASSERT_TRUE(made) << made.reason();
      EXPECT_NE(made->id, source_id);
      BY_HANDLE_FILE_INFORMATION info{};
      ASSERT_TRUE(GetFileInformationByHandle(reinterpret_cast<HANDLE>(made->file.native()), &info));
      EXPECT_EQ(info.nNumberOfLinks, 1u);
      EXPECT_TRUE(file::write_all(made->file, "new"));
      EXPECT_TRUE(made->file.close());
      EXPECT_EQ(read_file(fs::path(widen(path))), "new");
      EXPECT_EQ(read_bytes(tmp / "kept.txt"), r.at_path == found::other_link ? "kept" : "");
      continue;
    }
    ASSERT_FALSE(made);
    if (r.refusal == "?") {
      EXPECT_FALSE(made.reason().empty());
      EXPECT_EQ(read_file(fs::path(widen(path))), "old");  // still whole, and removable
    } else {
      EXPECT_EQ(made.reason(), r.refusal);
    }
    EXPECT_EQ(read_bytes(source), two_chapters);
    if (r.at_path == found::device) {
      EXPECT_EQ(tmp.files(), std::vector<std::string>{"novel.txt"});  // nothing made
    }
    if (r.at_path == found::symbolic_link) {
      EXPECT_EQ(read_bytes(tmp / "kept.txt"), "kept");
    }
    if (r.at_path == found::junction) {
      EXPECT_TRUE(fs::is_empty(fs::path(widen(tmp / "kept"))));
    }
  }
  if (!unmade.empty()) std::cout << "rows not run, this system makes none of:" << unmade << "\n";
}

// The source is read with no other program writing to it: one that already
// writes is refused with the system's reason, and none may start while it is
// read; renaming or deleting it stays possible.
TEST(WindowsFiles, TheSourceIsReadWhileNoOtherProgramWritesIt) {
  temp_folder tmp;
  const std::string source = tmp.write("novel.txt", two_chapters);
  const auto open_it = [&](DWORD access, DWORD share) {
    return CreateFileW(widen(source).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  };
  const HANDLE writer = open_it(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const auto refused = file::open_source(source);
  CloseHandle(writer);
  ASSERT_FALSE(refused);
  EXPECT_FALSE(refused.reason().empty());

  auto reading = file::open_source(source);
  ASSERT_TRUE(reading) << reading.reason();
  for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
    const HANDLE other = open_it(access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_EQ(other != INVALID_HANDLE_VALUE, access == DELETE) << access;
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
}

// Which reparse points are links: those that name another place. Cloud
// files (OneDrive), deduplicated, compressed and container files are files
// where they stand; WSL's special files are no files.
TEST(WindowsLinks, OnlyReparsePointsThatNameAnotherPlaceAreLinks) {
  using file::reparse_kind;
  const struct {
    std::uint32_t tag;
    reparse_kind kind;
  } tags[] = {
      {0xA000000C, reparse_kind::link},     // IO_REPARSE_TAG_SYMLINK
      {0xA0000003, reparse_kind::link},     // IO_REPARSE_TAG_MOUNT_POINT (junctions too)
      {0xA000001D, reparse_kind::link},     // IO_REPARSE_TAG_LX_SYMLINK
      {0xA0000019, reparse_kind::link},     // IO_REPARSE_TAG_GLOBAL_REPARSE
      {0xA0001027, reparse_kind::link},     // IO_REPARSE_TAG_WCI_LINK_1
      {0x8000001B, reparse_kind::link},     // IO_REPARSE_TAG_APPEXECLINK: an app alias
      {0x9000001A, reparse_kind::file},     // IO_REPARSE_TAG_CLOUD
      {0x9000601A, reparse_kind::file},     // IO_REPARSE_TAG_CLOUD_6 (OneDrive)
      {0x9000F01A, reparse_kind::file},     // IO_REPARSE_TAG_CLOUD_F
      {0x80000021, reparse_kind::file},     // IO_REPARSE_TAG_ONEDRIVE
      {0x80000013, reparse_kind::file},     // IO_REPARSE_TAG_DEDUP
      {0x80000017, reparse_kind::file},     // IO_REPARSE_TAG_WOF (compressed)
      {0x80000018, reparse_kind::file},     // IO_REPARSE_TAG_WCI
      {0x9000001C, reparse_kind::file},     // IO_REPARSE_TAG_PROJFS
      {0xC0000004, reparse_kind::file},     // IO_REPARSE_TAG_HSM
      {0x8000001E, reparse_kind::file},     // IO_REPARSE_TAG_STORAGE_SYNC
      {0x80000023, reparse_kind::special},  // IO_REPARSE_TAG_AF_UNIX
      {0x80000024, reparse_kind::special},  // IO_REPARSE_TAG_LX_FIFO
      {0x80000025, reparse_kind::special},  // IO_REPARSE_TAG_LX_CHR
      {0x80000026, reparse_kind::special},  // IO_REPARSE_TAG_LX_BLK
  };
  for (const auto& t : tags) EXPECT_EQ(file::kind_of_reparse(t.tag), t.kind) << std::hex << t.tag;
}

// A piece is removed only while its path still names the file the run made.
TEST(WindowsFiles, RemovesOnlyThePieceItMade) {
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced);
    temp_folder tmp;
    const std::string path = tmp / "0000.txt";
    auto made = file::create_piece(path, {});
    ASSERT_TRUE(made) << made.reason();
    (void)made->file.close();
    if (replaced) {
      // Moved away, not deleted: a new file could take a deleted one's index.
      ASSERT_TRUE(MoveFileW(widen(path).c_str(), widen(tmp / "moved.txt").c_str()));
      tmp.write("0000.txt", "the user's");
    }
    file::remove_piece(path, *made);
    const std::vector<std::string> left =
        replaced ? std::vector<std::string>{"0000.txt", "moved.txt"} : std::vector<std::string>{};
    EXPECT_EQ(tmp.files(), left);
  }
}

// A stop cuts short a write or a read that waits in the system (here on a
// pipe nobody reads from or writes to, as a stalled network folder would):
// interrupt_thread() makes it fail instead of waiting. Should it not, the
// other end of the pipe lets the call finish, so the test ends either way.
TEST(WindowsFiles, AStopCutsShortAWriteOrReadThatWaits) {
  for (const bool writing : {true, false}) {
    SCOPED_TRACE(writing);
    HANDLE read_end = nullptr, write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 4096));
    const file::handle reader(reinterpret_cast<file::handle::native_type>(read_end));
    const file::handle writer(reinterpret_cast<file::handle::native_type>(write_end));
    std::atomic<bool> done{false};
    bool failed = false;
    std::thread waiting([&] {
      char byte = 0;
      if (writing) failed = !file::write_all(writer, std::string(1 << 20, 'x'));
      else failed = !file::read_at(reader, 0, {&byte, 1});
      done = true;
    });
    for (int tick = 0; tick < 250 && !done; ++tick) {
      EXPECT_TRUE(interrupt_thread(waiting));
      Sleep(20);
    }
    EXPECT_TRUE(done);
    std::vector<char> drained(1 << 16);
    while (!done) {
      DWORD moved = 0, waiting_bytes = 0;
      if (!writing) WriteFile(write_end, "x", 1, &moved, nullptr);
      else if (PeekNamedPipe(read_end, nullptr, 0, nullptr, &waiting_bytes, nullptr) && waiting_bytes > 0)
        ReadFile(read_end, drained.data(), static_cast<DWORD>(drained.size()), &moved, nullptr);
      Sleep(1);
    }
    waiting.join();
    EXPECT_TRUE(failed);
  }
}

}  // namespace
}  // namespace quorrel
