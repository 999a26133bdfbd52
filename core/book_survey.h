#pragma once
// The form rule's first pass over a book: every line that is not blank is
// counted, and each one whose bytes may have a heading's shape
// (core/shape_filter.h) is decoded, read (core/heading_form.h) and noted in
// a heading_book with its line number, exactly as the run will number it.
//
// A source of several MiB is read as two halves at once, cut after a line
// end near its middle; the second half's lines are numbered on from the
// first's. `stop` is asked once per block read, on the calling thread only.
// Running out of memory on either thread throws std::bad_alloc here.

#include <cstdint>
#include <functional>
#include <string>

#include "core/encoding.h"
#include "core/file.h"
#include "core/heading_book.h"
#include "core/shape_filter.h"

namespace quorrel {

enum class survey_outcome { done, stopped, failed };

struct book_survey {
  survey_outcome outcome = survey_outcome::done;
  std::string error;          // failed: the system's reason
  std::int64_t nonblank = 0;  // lines that are not blank
  int parts = 1;              // read as one pass or as two halves
};

// Sources from this size on (bytes after the mark) are read as two halves.
constexpr std::uint64_t survey_halves_from = 4 << 20;
// Bytes read at a time: a block and its index stay in the core's cache.
constexpr std::size_t survey_block = 1 << 17;

// Reads `source` from byte `from` (after its mark) to its end; `size` is its
// size when opened, a hint for where to cut it.
book_survey survey_book(const file::handle& source, std::int64_t from, std::uint64_t size,
                        const encoding& enc, const shape_filter& filter, const std::function<bool()>& stop,
                        heading_book& book);

}  // namespace quorrel
