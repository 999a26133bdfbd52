#include "cli/contents.h"

#include <cstdio>  // snprintf
#include <random>

#include "cli/console.h"
#include "core/path.h"

namespace quorrel::cli {
namespace {

constexpr std::size_t write_block = 64 * 1024;  // bytes held before they go to the file

// Control characters as \u escapes: C0, which JSON requires, and DEL and the
// C1 controls (U+0080 to U+009F, C2 80 to C2 9F in UTF-8), which a terminal
// showing the document could act on.
void append_string(std::string& out, std::string_view text) {
  const std::string utf8 = decode(text, encoding{"UTF-8", "", char_layout::utf8});
  out += '"';
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto byte = static_cast<unsigned char>(c);
    const bool c1 = is_c1_at(utf8, i);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F || c1) {
          const unsigned code = c1 ? static_cast<unsigned char>(utf8[++i]) : byte;
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

const char* kind_name(piece_kind kind) {
  switch (kind) {
    case piece_kind::front_matter: return "front_matter";
    case piece_kind::volume: return "volume";
    case piece_kind::chapter: return "chapter";
    case piece_kind::special: return "special";
    case piece_kind::size_cut: return "size_cut";
  }
  return "chapter";
}

std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of(separators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string json_head(const contents& table) {
  std::string out = "{\n  \"source\": ";
  append_string(out, table.source);
  out += ",\n  \"encoding\": ";
  append_string(out, table.source_encoding.name);
  out += ",\n  \"bom\": ";
  out += table.source_encoding.bom.empty() ? "false" : "true";
  out += ",\n  \"rule\": {\"name\": ";
  append_string(out, rule_name(table.rule.which));
  switch (table.rule.which) {
    case heading_choice::rule::keywords:
      out += ", \"keywords\": [";
      for (std::size_t i = 0; i < table.keywords.size(); ++i) {
        if (i > 0) out += ", ";
        append_string(out, table.keywords[i]);
      }
      out += "]";
      break;
    case heading_choice::rule::form: break;
    case heading_choice::rule::pattern:
      out += ", \"pattern\": ";
      append_string(out, table.rule.pattern);
      break;
  }
  out += "}";
  out += ",\n  \"pieces_encoding\": ";
  append_string(out, table.pieces_encoding.name);
  out += ",\n  \"pieces_bom\": ";
  out += table.pieces_encoding.bom.empty() ? "false" : "true";
  out += ",\n  \"pieces\": [";
  return out;
}

std::string json_piece(const contents_piece& p, bool first) {
  std::string out = first ? "\n    {\"number\": " : ",\n    {\"number\": ";
  out += std::to_string(p.number);
  out += ", \"file\": ";
  append_string(out, file_name(p.path));
  out += ", \"path\": ";
  append_string(out, p.path);
  out += ", \"kind\": \"";
  out += kind_name(p.kind);
  out += "\", \"title\": ";
  if (p.kind == piece_kind::front_matter) out += "null";
  else append_string(out, p.title);
  out += ", \"line\": " + std::to_string(p.line);
  out += ", \"offset\": " + std::to_string(p.offset);
  out += ", \"size\": " + std::to_string(p.size) + "}";
  return out;
}

std::string json_end(bool any) { return any ? "\n  ]\n}\n" : "]\n}\n"; }

contents_file::contents_file(std::string path, const file::identity& source_id) : path_(std::move(path)) {
  std::random_device random;
  temporary_ = path_ + "." + std::to_string(random()) + ".tmp";
  auto made = file::create_piece(temporary_, source_id);
  if (!made) {
    failure_ = made.reason();
    return;
  }
  made_ = std::move(*made);
  created_ = true;
}

contents_file::~contents_file() {
  if (created_ && !done_) file::remove_piece(temporary_, made_);
}

void contents_file::write(std::string_view text) {
  if (failure_) return;
  held_ += text;
  if (held_.size() >= write_block) write_held();
}

void contents_file::write_held() {
  if (auto written = file::write_all(made_.file, held_); !written) failure_ = written.reason();
  held_.clear();
}

bool contents_file::finish() {
  if (!failure_) write_held();
  if (!failure_) {
    if (auto closed = made_.file.close(); !closed) failure_ = closed.reason();
  }
  if (!failure_) {
    if (auto placed = file::put_in_place(temporary_, path_); !placed) failure_ = placed.reason();
  }
  done_ = !failure_;
  return done_;
}

}  // namespace quorrel::cli
