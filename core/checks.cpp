#include "core/checks.h"

#include <charconv>
#include <optional>

#include "core/file.h"
#include "core/messages.h"
#include "core/path.h"

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
bool is_piece_name(std::string_view file_name, std::string_view name_prefix, piece_names names) {
  constexpr std::string_view extension = ".txt";
  if (file_name.size() < name_prefix.size() + extension.size() ||
      !same_name(file_name.substr(0, name_prefix.size()), name_prefix) ||
      !same_name(file_name.substr(file_name.size() - extension.size()), extension))
    return false;
  std::string_view digits = file_name.substr(name_prefix.size(), file_name.size() - name_prefix.size() - 4);
  if (const auto space = digits.find(' '); names == piece_names::titles && space != std::string_view::npos)
    digits = digits.substr(0, space);
  if (digits.size() < 4 || digits.size() > 18 || (digits.size() > 4 && digits[0] == '0')) return false;
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size();
}

// Whether some file that the split may write is the source itself (the same
// file under another name, through a link, or the very path), so that the
// user is told before anything is written. A folder that cannot be listed
// passes here; creating each piece refuses the source all the same.
bool pieces_could_overwrite(const std::string& source, const std::string& destination, piece_names names) {
  const std::optional<file::identity> source_id = file::identity_of(source);
  if (!source_id) return false;
  const auto slash = destination.find_last_of(separators);
  const std::string folder = slash == std::string::npos ? "." : destination.substr(0, slash + 1);
  const std::string name_prefix = slash == std::string::npos ? destination : destination.substr(slash + 1);
  bool overwrites = false;
  file::list_folder(folder, [&](std::string_view name) {
    if (!overwrites && is_piece_name(name, name_prefix, names))
      overwrites = file::identity_of(destination.substr(0, destination.size() - name_prefix.size()) +
                                     std::string(name)) == source_id;
  });
  return overwrites;
}

}  // namespace

std::string_view trim_blanks(std::string_view s) {
  while (starts_blank(s)) s.remove_prefix(s.starts_with(ideographic_space) ? 3 : 1);
  while (ends_blank(s)) s.remove_suffix(s.ends_with(ideographic_space) ? 3 : 1);
  return s;
}

input_check check_inputs(std::string_view source_text, std::string_view destination_text,
                         std::size_t keyword_count, path_text paths, piece_names names) {
  input_check result;
  const bool trim = paths == path_text::trimmed;
  const std::string source(trim ? trim_blanks(source_text) : source_text);
  const std::string destination(trim ? trim_blanks(destination_text) : destination_text);
  if (source.empty()) {
    result.message = messages::no_source;
  } else if (destination.empty()) {
    result.message = messages::no_destination;
  } else if (!file::is_regular_file(source)) {
    result.message = messages::source_missing(source);
  } else if (keyword_count == 0) {
    result.message = messages::no_keywords;
  } else if (pieces_could_overwrite(source, destination, names)) {
    result.message = messages::would_overwrite(source);
  } else {
    result.ok = true;
    result.request = {source, destination};
  }
  return result;
}

}  // namespace quorrel
