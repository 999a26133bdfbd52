#include "core/checks.h"

#include <initializer_list>
#include <optional>

#include "core/file.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/piece_name.h"

namespace quorrel {
namespace {

constexpr std::string_view ideographic_space = "\xE3\x80\x80";

bool starts_blank(std::string_view s) {
  return s.starts_with(' ') || s.starts_with('\t') || s.starts_with(ideographic_space);
}
bool ends_blank(std::string_view s) {
  return s.ends_with(' ') || s.ends_with('\t') || s.ends_with(ideographic_space);
}

// The folder the pieces of `destination` go into, as the system will find
// it, and the start of their names in it.
file::placement pieces_place(const std::string& destination) {
  constexpr std::string_view first_number = "0000.txt";
  file::placement first = file::place_of(piece_path(destination, 0));
  first.name.resize(first.name.size() - first_number.size());
  return first;
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
  const file::placement place = pieces_place(destination);
  bool overwrites = false;
  file::list_folder(place.folder, [&](std::string_view name) {
    if (!overwrites && piece_number(name, place.name, names))
      overwrites = file::identity_of(place.folder == "." ? std::string(name)
                                                         : place.folder + std::string(name)) == source_id;
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
  const file::placement pieces = pieces_place(destination);
  const file::placement at = file::place_of(path);
  const std::optional<file::identity> folder = file::identity_of(pieces.folder);
  const bool same_folder = folder ? folder == file::identity_of(at.folder) : pieces.folder == at.folder;
  return same_folder && piece_number(at.name, pieces.name, names).has_value();
}

std::string_view trim_blanks(std::string_view s) {
  while (starts_blank(s)) s.remove_prefix(s.starts_with(ideographic_space) ? 3 : 1);
  while (ends_blank(s)) s.remove_suffix(s.ends_with(ideographic_space) ? 3 : 1);
  return s;
}

input_check check_inputs(std::string_view source_text, std::string_view destination_text,
                         std::size_t keyword_count, path_text paths, piece_names names, destination_use use) {
  const bool trim = paths == path_text::trimmed;
  const std::string source(trim ? trim_blanks(source_text) : source_text);
  const std::string destination(trim ? trim_blanks(destination_text) : destination_text);
  const bool destination_used = use == destination_use::required || !destination.empty();
  const auto first_problem = [&]() -> std::string {
    if (source.empty()) return std::string(messages::no_source);
    if (destination_used && destination.empty()) return std::string(messages::no_destination);
    for (const std::string* path : {&source, &destination})
      if (std::string unnameable = unnameable_in(*path); !unnameable.empty()) return unnameable;
    if (!file::is_regular_file(source)) return messages::source_missing(source);
    if (keyword_count == 0) return std::string(messages::no_keywords);
    if (destination_used && pieces_could_overwrite(source, destination, names))
      return messages::would_overwrite(source);
    return {};
  };
  input_check result;
  result.message = first_problem();
  result.ok = result.message.empty();
  if (result.ok) result.request = {source, destination};
  return result;
}

std::string make_destination_folder(const std::string& destination) {
  if (destination.empty() || !is_separator(destination.back())) return {};
  if (auto made = file::make_folders(destination); !made)
    return messages::folder_not_made(destination, made.reason());
  return {};
}

std::int64_t leftover_pieces(const std::string& destination, std::int64_t written) {
  const file::placement place = pieces_place(destination);
  std::vector<bool> taken(static_cast<std::size_t>(written));  // a number whose file of this run is counted
  std::int64_t leftovers = 0;
  file::list_folder(place.folder, [&](std::string_view name) {
    const auto number = piece_number(name, place.name, piece_names::titles);
    if (!number) return;
    if (*number >= written || taken[static_cast<std::size_t>(*number)]) ++leftovers;
    else taken[static_cast<std::size_t>(*number)] = true;
  });
  return leftovers;
}

}  // namespace quorrel
