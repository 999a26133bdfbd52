#pragma once
// The checks made before a split, in the order the user sees their messages.
// The window and the command-line tool both call check_inputs, so the same
// input gets the same message everywhere. Only how the paths are read
// differs: the window's text boxes drop the blanks a user typed around a
// path, the command line takes its operands exactly as the shell passed them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/piece_name.h"  // piece_names
#include "core/split.h"       // split_request

namespace quorrel {

struct input_check {
  bool ok = false;
  split_request request;  // when ok: the paths, trimmed when asked
  std::string message;    // when not ok: the text to show
};

enum class path_text {
  trimmed,  // blanks around each path dropped first (trim_blanks): typed into a text box
  exact,    // every byte is part of the path: a command-line operand
};

enum class destination_use {
  required,  // the pieces are written there, or named after it
  optional,  // nothing is written (a check of the book): may be left empty
};

// source_text and destination_text as typed (UTF-8); keyword_count is the
// number of items in the keyword list. Checks, first failure wins:
// empty source, empty destination, a character no file name can hold in
// either path (unnameable_at), source not a regular file, no keyword,
// a piece that would overwrite the source.
// The destination's folder is searched for the source under a name of the
// form `names` gives pieces. An empty destination that is `optional` passes,
// and nothing is checked about it.
input_check check_inputs(std::string_view source_text, std::string_view destination_text,
                         std::size_t keyword_count, path_text paths = path_text::trimmed,
                         piece_names names = piece_names::numbers,
                         destination_use destination = destination_use::required);

// Makes the destination's folder, with its missing parents, when the
// destination (checked) ends with a separator and so names a folder to write
// into; a prefix is left as it is. The message when the folder cannot be
// made, "" when it is there. Called once the checks have passed, and only by
// a run that writes.
std::string make_destination_folder(const std::string& destination);

// How many files in the destination's folder are named as pieces of this
// destination (either form: 0001.txt, 0001 <title>.txt) but were not
// written by a run that has just written `written` pieces: those of an
// earlier run with other headings or names. Each number below `written`
// has one file of this run; every other file of such a name is counted.
// Nothing is removed. 0 when the folder cannot be listed.
std::int64_t leftover_pieces(const std::string& destination, std::int64_t written);

// Whether `path` is a name under which the split into `destination` may
// write a piece (in the folder the pieces go to, compared as the file
// system compares names), whether or not a file is there yet.
bool is_piece_path(const std::string& path, const std::string& destination, piece_names names);

// The keyword list a run starts with when none is given: 第 and 章, so a
// heading is a line like "第十二章".
inline std::vector<std::string> default_keywords() { return {"第", "章"}; }

// Leading and trailing spaces, tabs and ideographic spaces (U+3000) removed.
std::string_view trim_blanks(std::string_view utf8);

}  // namespace quorrel
