#pragma once
// What file_win32.cpp decides from a file's metadata alone, apart so that it
// can be tested without making the files (Windows builds only).

#include <cstdint>

namespace quorrel::file {

// What a reparse point with `tag` is to the splitter. Only a name surrogate
// (symbolic link, junction, mount point) and an app execution alias send a
// path elsewhere; the system's other reparse points (cloud files such as
// OneDrive's, deduplicated or compressed files, ...) are ordinary files that a
// filter serves in place, and WSL's sockets, pipes and devices are no files.
enum class reparse_kind { file, link, special };
reparse_kind kind_of_reparse(std::uint32_t tag);

}  // namespace quorrel::file
