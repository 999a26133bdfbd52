#pragma once
// Which encoding a source file is in, decided from the file itself before
// the run reads its first line (core/encoding.h says how: a byte-order mark,
// else UTF-8 when the file passes as such, else GB18030 or Big5).
//
// Both functions read through the handle and hold nothing after they
// return. A read error comes back as false with the system's reason.

#include <cstdint>
#include <functional>
#include <string>

#include "core/encoding.h"
#include "core/file.h"

namespace quorrel {

// Reads the start of the source and, unless it has a byte-order mark, all
// of it (less when it is plainly not UTF-8). `size` is what the file system
// says (0 for files that do not know it); it only decides how the reading
// is shared between two threads. A source taken for UTF-8 although some of
// its sequences are not valid gets them counted in `invalid`, with the line
// of the first (read again up to there). `stop` is asked between blocks on
// the calling thread, also while it waits for the other one: true ends the
// reading, and the answer is false with `error` empty.
bool detect_source_encoding(const file::handle& source, std::int64_t size, encoding& found,
                            invalid_sequences& invalid, std::string& error,
                            const std::function<bool()>& stop = {});

// A forced encoding still recognises its own byte-order mark: sets
// `enc.bom` when the source starts with the mark of enc's layout.
void take_bom(const file::handle& source, encoding& enc);

}  // namespace quorrel
