#include "core/checks.h"

#include <charconv>
#include <initializer_list>
#include <optional>

#include "core/file.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/split.h"  // piece_path

namespace quorrel {
namespace {

constexpr std::string_view ideographic_space = "\xE3\x80\x80";

bool starts_blank(std::string_view s) {
  return s.starts_with(' ') || s.starts_with('\t') || s.starts_with(ideographic_space);
}
bool ends_blank(std::string_view s) {
  return s.ends_with(' ') || s.ends_with('\t') || s.ends_with(ideographic_space);
}

// Whether a file name is one a piece may get: "<name_prefix><digits>.txt",
// or with titles also "<name_prefix><digits> <title>.txt". Only the numbers
// piece_path writes count: four digits, or more without a leading zero.
// The name is read from its end, so that the prefix is compared as the file
// system compares names (its case may differ, and with it the length of its
// UTF-8), and a prefix that ends in digits itself is tried at every length.
bool is_numbered_stem(std::string_view stem, std::string_view name_prefix) {
  std::size_t digits_at = stem.size();
  while (digits_at > 0 && stem[digits_at - 1] >= '0' && stem[digits_at - 1] <= '9') --digits_at;
  for (std::size_t length = 4; length <= 18 && length <= stem.size() - digits_at; ++length) {
    if (length > 4 && stem[stem.size() - length] == '0') continue;
    if (file::same_name(stem.substr(0, stem.size() - length), name_prefix)) return true;
  }
  return false;
}

bool is_piece_name(std::string_view file_name, std::string_view name_prefix, piece_names names) {
  constexpr std::string_view extension = ".txt";
  if (file_name.size() < extension.size() ||
      !file::same_name(file_name.substr(file_name.size() - extension.size()), extension))
    return false;
  const std::string_view stem = file_name.substr(0, file_name.size() - extension.size());
  if (is_numbered_stem(stem, name_prefix)) return true;
  if (names != piece_names::titles) return false;
  for (std::size_t space = stem.find(' '); space != std::string_view::npos; space = stem.find(' ', space + 1))
    if (is_numbered_stem(stem.substr(0, space), name_prefix)) return true;
  return false;
}

// Whether some file that the split may write is the source itself (the same
// file under another name, through a link, or the very path), so that the
// user is told before anything is written. The folder is the one the system
// will write into, however the destination names it; each candidate is
// decided by identity. A folder that cannot be listed passes here; creating
// each piece refuses the source all the same.
bool pieces_could_overwrite(const std::string& source, const std::string& destination, piece_names names) {
  const std::optional<file::identity> source_id = file::identity_of(source);
  if (!source_id) return false;
  constexpr std::string_view first_number = "0000.txt";
  const file::placement first = file::place_of(piece_path(destination, 0));
  const std::string name_prefix = first.name.substr(0, first.name.size() - first_number.size());
  bool overwrites = false;
  file::list_folder(first.folder, [&](std::string_view name) {
    if (!overwrites && is_piece_name(name, name_prefix, names))
      overwrites = file::identity_of(first.folder == "." ? std::string(name) : first.folder + std::string(name)) ==
                   source_id;
  });
  return overwrites;
}

// The message for the first byte of `path` that no file name can hold, or "".
std::string unnameable_in(const std::string& path) {
  const std::size_t at = unnameable_at(path);
  return at == std::string::npos ? std::string() : messages::unnameable(path, path[at]);
}

}  // namespace

bool is_piece_path(const std::string& path, const std::string& destination, piece_names names) {
  constexpr std::string_view first_number = "0000.txt";
  const file::placement first = file::place_of(piece_path(destination, 0));
  const file::placement at = file::place_of(path);
  const std::optional<file::identity> folder = file::identity_of(first.folder);
  const bool same_folder = folder ? folder == file::identity_of(at.folder) : first.folder == at.folder;
  return same_folder && is_piece_name(at.name, first.name.substr(0, first.name.size() - first_number.size()), names);
}

std::string_view trim_blanks(std::string_view s) {
  while (starts_blank(s)) s.remove_prefix(s.starts_with(ideographic_space) ? 3 : 1);
  while (ends_blank(s)) s.remove_suffix(s.ends_with(ideographic_space) ? 3 : 1);
  return s;
}

input_check check_inputs(std::string_view source_text, std::string_view destination_text,
                         std::size_t keyword_count, path_text paths, piece_names names) {
  const bool trim = paths == path_text::trimmed;
  const std::string source(trim ? trim_blanks(source_text) : source_text);
  const std::string destination(trim ? trim_blanks(destination_text) : destination_text);
  const auto first_problem = [&]() -> std::string {
    if (source.empty()) return std::string(messages::no_source);
    if (destination.empty()) return std::string(messages::no_destination);
    for (const std::string* path : {&source, &destination})
      if (std::string unnameable = unnameable_in(*path); !unnameable.empty()) return unnameable;
    if (!file::is_regular_file(source)) return messages::source_missing(source);
    if (keyword_count == 0) return std::string(messages::no_keywords);
    if (pieces_could_overwrite(source, destination, names)) return messages::would_overwrite(source);
    return {};
  };
  input_check result;
  result.message = first_problem();
  result.ok = result.message.empty();
  if (result.ok) result.request = {source, destination};
  return result;
}

}  // namespace quorrel
