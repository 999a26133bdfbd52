#pragma once
// The table of contents of a split as one JSON document (UTF-8): the
// source, its encoding, the heading rule, the encoding of the pieces, and
// per piece its number, path and file name, kind, title, where it starts in
// the source (line and byte) and its size. Text that is not valid UTF-8 (a
// path given in bytes) is shown with U+FFFD in place of the bad sequences;
// control characters (C0, DEL, C1) are escaped, so no title acts on a
// terminal.
//
// The document is made in parts as the pieces come, so that its size never
// counts against memory: json_head, json_piece for each piece, json_end.
// contents_file streams it into the file --contents names.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/file.h"
#include "core/heading_choice.h"
#include "core/split.h"

namespace quorrel::cli {

// What the document says before its pieces.
struct contents {
  std::string source;
  encoding source_encoding;
  encoding pieces_encoding;
  heading_choice rule;
  std::vector<std::string> keywords;  // UTF-8, for the keyword rule
};

struct contents_piece {
  std::int64_t number = 0;
  std::string path;
  piece_kind kind = piece_kind::chapter;
  std::string title;  // UTF-8, blanks at either end dropped; none for front matter
  std::int64_t line = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Up to the opening of the list of pieces.
std::string json_head(const contents& table);
// One piece of the list; `first` for the first of them.
std::string json_piece(const contents_piece& piece, bool first);
// The rest of the document after the last piece (`any`: there was one).
std::string json_end(bool any);

// The document on its way to `path`: written into a new file beside it
// while the split runs, and put in place of `path` at the end, so that a
// run that fails leaves neither a half table nor a stray file. The new
// file is made when this is, so a folder that cannot take it stops the run
// before any piece is written; it is removed unless finish() succeeds.
class contents_file {
 public:
  contents_file(std::string path, const file::identity& source_id);
  ~contents_file();
  contents_file(const contents_file&) = delete;
  contents_file& operator=(const contents_file&) = delete;

  // The reason of the first failure (the file could not be made or
  // written), if any; what is written after it is dropped.
  const std::optional<std::string>& failure() const { return failure_; }

  void write(std::string_view text);

  // Writes what is held, closes the file and puts it in place; false with
  // failure() saying why.
  bool finish();

 private:
  void write_held();

  std::string path_, temporary_;
  file::piece made_;
  std::string held_;  // written in blocks
  std::optional<std::string> failure_;
  bool created_ = false;  // the new file exists
  bool done_ = false;     // and is in place
};

}  // namespace quorrel::cli
