#include "cli/contents.h"

#include <cstdio>  // snprintf

#include "core/path.h"

namespace quorrel::cli {
namespace {

void append_string(std::string& out, std::string_view text) {
  const std::string utf8 = decode(text, encoding{"UTF-8", "", char_layout::utf8});
  out += '"';
  for (const char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
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

std::string to_json(const contents& table) {
  std::string out = "{\n  \"source\": ";
  append_string(out, table.source);
  out += ",\n  \"encoding\": ";
  append_string(out, table.source_encoding.name);
  out += ",\n  \"bom\": ";
  out += table.source_encoding.bom.empty() ? "false" : "true";
  switch (table.rule.which) {
    case heading_choice::rule::keywords:
      out += ",\n  \"rule\": {\"name\": \"keywords\", \"keywords\": [";
      for (std::size_t i = 0; i < table.keywords.size(); ++i) {
        if (i > 0) out += ", ";
        append_string(out, table.keywords[i]);
      }
      out += "]}";
      break;
    case heading_choice::rule::form: out += ",\n  \"rule\": {\"name\": \"auto\"}"; break;
    case heading_choice::rule::pattern:
      out += ",\n  \"rule\": {\"name\": \"pattern\", \"pattern\": ";
      append_string(out, table.rule.pattern);
      out += "}";
      break;
  }
  out += ",\n  \"pieces_encoding\": ";
  append_string(out, table.pieces_encoding.name);
  out += ",\n  \"pieces_bom\": ";
  out += table.pieces_encoding.bom.empty() ? "false" : "true";
  out += ",\n  \"pieces\": [";
  for (std::size_t i = 0; i < table.pieces.size(); ++i) {
    const contents::piece& p = table.pieces[i];
    out += i == 0 ? "\n    {\"number\": " : ",\n    {\"number\": ";
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
  }
  out += table.pieces.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace quorrel::cli
