#include "split_check.h"

#include <fcntl.h>   // open: the source is written with plain system calls
#include <unistd.h>  // write, close

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "core/encoding.h"
#include "core/keyword_rule.h"  // heading_test
#include "core/piece_name.h"
#include "core/split.h"
#include "core/text.h"

namespace quorrel::fuzzing {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The reference: how the rules cut a source into lines, written apart from
// the core and as plainly as possible.

struct reference_layout {
  int unit = 1;             // bytes per code unit
  bool big_endian = false;  // of a two-byte unit
  std::string ideographic;  // U+3000 in the encoding, "" when it has none
  std::string crlf;
};

reference_layout layout_for(char_layout layout) {
  reference_layout r;
  switch (layout) {
    case char_layout::utf8: r.ideographic = "\xE3\x80\x80"; break;
    case char_layout::gb18030: r.ideographic = "\xA1\xA1"; break;
    case char_layout::big5: r.ideographic = "\xA1\x40"; break;
    case char_layout::single_byte: break;
    case char_layout::utf16le: r.unit = 2; break;
    case char_layout::utf16be:
      r.unit = 2;
      r.big_endian = true;
      break;
  }
  r.crlf = r.unit == 1    ? std::string("\r\n")
           : r.big_endian ? std::string("\0\r\0\n", 4)
                          : std::string("\r\0\n\0", 4);
  return r;
}

unsigned unit_at(std::string_view s, std::size_t i, const reference_layout& r) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(s[k])); };
  if (r.unit == 1) return b(i);
  return r.big_endian ? (b(i) << 8 | b(i + 1)) : (b(i + 1) << 8 | b(i));
}

// Lines after `skip` bytes (the byte-order mark): CR LF, CR or LF end one,
// in whole units counted from the start; the line end is not part of the
// line, and text after the last line end is a line of its own.
std::vector<std::string_view> reference_lines(std::string_view s, std::size_t skip,
                                              const reference_layout& r) {
  std::vector<std::string_view> lines;
  const auto u = static_cast<std::size_t>(r.unit);
  std::size_t start = skip, i = skip;
  while (start < s.size()) {
    if (i + u > s.size()) {
      lines.push_back(s.substr(start));
      break;
    }
    const unsigned c = unit_at(s, i, r);
    if (c != '\r' && c != '\n') {
      i += u;
      continue;
    }
    lines.push_back(s.substr(start, i - start));
    i += u;
    if (c == '\r' && i + u <= s.size() && unit_at(s, i, r) == '\n') i += u;
    start = i;
  }
  return lines;
}

bool reference_blank(std::string_view line, const reference_layout& r) {
  if (r.unit == 2) {
    if (line.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < line.size(); i += 2) {
      const unsigned c = unit_at(line, i, r);
      if (c != ' ' && c != '\t' && c != 0x3000) return false;
    }
    return true;
  }
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
    } else if (!r.ideographic.empty() && line.substr(i).starts_with(r.ideographic)) {
      i += r.ideographic.size();
    } else {
      return false;
    }
  }
  return true;
}

// RFC 3629, one sequence at a time: whether `s` passes as UTF-8, with at most
// 16 invalid sequences, each outweighed by 1,000 bytes from 0xC0 up.
bool reference_utf8(std::string_view s) {
  std::size_t faults = 0, leads = 0;
  for (const char c : s) leads += static_cast<unsigned char>(c) >= 0xC0;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int more = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c < 0x80) more = 0;
    else if (c >= 0xC2 && c <= 0xDF) more = 1;
    else if (c == 0xE0) more = 2, lo = 0xA0;
    else if (c == 0xED) more = 2, hi = 0x9F;
    else if (c >= 0xE1 && c <= 0xEF) more = 2;
    else if (c == 0xF0) more = 3, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) more = 3;
    else if (c == 0xF4) more = 3, hi = 0x8F;
    else more = -1;  // leads nothing
    int k = 1;
    for (; k <= more && i + static_cast<std::size_t>(k) < s.size(); ++k) {
      const auto t = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) break;
    }
    faults += k <= more || more < 0;  // broken, cut off at the end, or leading nothing
    i += static_cast<std::size_t>(k <= more ? k : more < 0 ? 1 : 1 + more);
  }
  return faults <= 16 && leads >= faults * 1000;
}

// The byte-order mark at the start of `s` and the layout it names.
std::optional<std::pair<std::string, char_layout>> reference_bom(std::string_view s) {
  if (s.starts_with("\xEF\xBB\xBF")) return {{"\xEF\xBB\xBF", char_layout::utf8}};
  if (s.starts_with("\xFF\xFE")) return {{"\xFF\xFE", char_layout::utf16le}};
  if (s.starts_with("\xFE\xFF")) return {{"\xFE\xFF", char_layout::utf16be}};
  return std::nullopt;
}

// UTF-16 without a mark, told by its line ends: some CR or LF byte beside a
// zero byte on one side of its pair, and no CR or LF byte on the other side.
std::optional<char_layout> reference_utf16_by_line_ends(std::string_view s) {
  const auto end_byte = [](char c) { return c == '\r' || c == '\n'; };
  for (const int side : {0, 1}) {
    bool line_end = false, clean = true;
    for (std::size_t i = 0; i + 1 < s.size() && i < 64 * 1024; i += 2) {
      line_end = line_end || (end_byte(s[i + side]) && s[i + 1 - side] == '\0');
      clean = clean && !end_byte(s[i + 1 - side]);
    }
    if (line_end && clean) {
      // Unless it is UTF-8 text with NUL bytes in it.
      const std::string_view head = s.substr(0, 64 * 1024);
      const bool non_ascii = std::any_of(head.begin(), head.end(), [](char c) { return (c & 0x80) != 0; });
      if (non_ascii && reference_utf8(head)) return std::nullopt;
      return side == 0 ? char_layout::utf16le : char_layout::utf16be;
    }
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Running the core

class recording_host : public split_host {
 public:
  explicit recording_host(std::vector<std::string> keywords) : keywords_(std::move(keywords)) {}
  std::uint64_t keywords_version() override { return 1; }
  std::vector<std::string> keywords() override { return keywords_; }
  void progress(std::int64_t saved) override { captions.push_back(saved); }
  void piece_done(const piece_info& piece) override { pieces.push_back(piece); }

  std::vector<std::int64_t> captions;
  std::vector<piece_info> pieces;

 private:
  std::vector<std::string> keywords_;
};

std::string hex(std::string_view bytes, std::size_t limit = 48) {
  std::string out;
  char two[4];
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(two, sizeof two, "%02X ", static_cast<unsigned char>(bytes[i]));
    out += two;
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool write_all(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && !bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    ok = put > 0;
    if (ok) bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return ::close(fd) == 0 && ok;
}

// The files in `folder`, by name, with their bytes.
std::map<std::string, std::string> files_in(const std::string& folder) {
  std::map<std::string, std::string> found;
  for (const auto& entry : fs::directory_iterator(folder))
    found[entry.path().filename().string()] =
        entry.is_regular_file() ? read_all(entry.path()) : "<not a file>";
  return found;
}

void empty_folder(const std::string& folder) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) fs::remove_all(entry.path(), ignored);
}

// Where two byte strings first differ, and the bytes there.
std::string difference(std::string_view actual, std::string_view expected) {
  const auto at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first - actual.begin());
  const std::size_t from = at < 8 ? 0 : at - 8;
  std::ostringstream out;
  out << actual.size() << " bytes, expected " << expected.size() << "; first difference at byte " << at
      << "\n    got:      " << hex(actual.substr(std::min(from, actual.size())), 32)
      << "\n    expected: " << hex(expected.substr(std::min(from, expected.size())), 32);
  return out.str();
}

}  // namespace

const std::vector<std::optional<std::string>>& encoding_choices() {
  static const std::vector<std::optional<std::string>> choices = {
      std::nullopt, "UTF-8", "GB18030", "GBK", "Big5", "UTF-16LE", "UTF-16BE", "windows-1252"};
  return choices;
}

split_case decode_case(std::string_view data) {
  split_case c;
  auto take = [&]() -> unsigned {
    if (data.empty()) return 0;
    const auto b = static_cast<unsigned char>(data[0]);
    data.remove_prefix(1);
    return b;
  };
  c.forced_encoding = encoding_choices()[take() % encoding_choices().size()];
  const unsigned count = take() % 4;
  for (unsigned k = 0; k < count; ++k) {
    const std::size_t length = std::min<std::size_t>(take() % 16, data.size());
    c.keywords.emplace_back(data.substr(0, length));
    data.remove_prefix(length);
  }
  c.source.assign(data);
  return c;
}

std::string encode_case(const split_case& c) {
  const auto& choices = encoding_choices();
  const auto choice = std::find(choices.begin(), choices.end(), c.forced_encoding);
  std::string out(1, static_cast<char>(choice == choices.end() ? 0 : choice - choices.begin()));
  out += static_cast<char>(std::min<std::size_t>(c.keywords.size(), 3));
  for (std::size_t k = 0; k < c.keywords.size() && k < 3; ++k) {
    const std::string_view keyword = std::string_view(c.keywords[k]).substr(0, 15);
    out += static_cast<char>(keyword.size());
    out += keyword;
  }
  return out + c.source;
}

std::string check_split(const split_case& c, const std::string& folder) {
  std::ostringstream problems;
  const std::string source = (fs::path(folder) / "source.txt").string();
  const std::string pieces_folder = (fs::path(folder) / "pieces").string();
  const std::string destination = pieces_folder + "/";
  empty_folder(folder);
  fs::create_directory(pieces_folder);
  if (!write_all(source, c.source)) return "cannot write the source in " + folder;

  split_options options;
  std::optional<encoding> forced;
  if (c.forced_encoding) {
    forced = encoding_by_name(*c.forced_encoding);
    if (!forced) return "the core does not know the encoding " + *c.forced_encoding;
    options.forced_encoding = forced;
  }
  recording_host host(c.keywords);
  const split_result result = run_split({source, destination}, host, options);
  if (result.failure) problems << "the run failed: " << result.failure->message() << "\n";
  if (result.stopped) problems << "the run stopped though nobody asked it to\n";
  const encoding& enc = result.source_encoding;

  // The encoding the rules name.
  const auto bom = reference_bom(c.source);
  if (forced) {
    const std::string expected_bom = bom && bom->second == forced->layout ? bom->first : "";
    if (enc.layout != forced->layout) problems << "a forced encoding changed its layout\n";
    if (enc.bom != expected_bom)
      problems << "forced " << *c.forced_encoding << ": byte-order mark [" << hex(enc.bom) << "], expected ["
               << hex(expected_bom) << "]\n";
  } else if (bom) {
    if (enc.layout != bom->second || enc.bom != bom->first)
      problems << "the byte-order mark [" << hex(bom->first) << "] gave " << enc.name << "\n";
  } else if (const auto utf16 = reference_utf16_by_line_ends(c.source)) {
    if (enc.layout != *utf16 || !enc.bom.empty())
      problems << "UTF-16 line ends without a mark gave " << enc.name << "\n";
  } else if (reference_utf8(c.source)) {
    if (enc.layout != char_layout::utf8 || !enc.bom.empty())
      problems << "a source that passes as UTF-8 was taken for " << enc.name << "\n";
  } else if (!((enc.name == "GB18030" && enc.layout == char_layout::gb18030) ||
               (enc.name == "Big5" && enc.layout == char_layout::big5))) {
    problems << "a source that is not UTF-8 was taken for " << enc.name << ", not GB18030 or Big5\n";
  }
  if (!problems.str().empty()) {
    empty_folder(folder);
    return problems.str();
  }

  // The pieces the rules give for these lines.
  const reference_layout layout = layout_for(enc.layout);
  heading_test is_heading(enc);
  is_heading.set_keywords(c.keywords);
  struct expected_piece {
    std::string bytes;
    std::string_view first_line;
  };
  std::vector<expected_piece> expected;
  std::vector<std::int64_t> expected_captions;
  for (const std::string_view line : reference_lines(c.source, enc.bom.size(), layout)) {
    if (reference_blank(line, layout)) continue;
    const bool heading = is_heading(line);
    if (heading) expected_captions.push_back(static_cast<std::int64_t>(expected.size()));
    if (heading || expected.empty()) {
      expected.push_back({enc.bom + (heading ? "" : layout.crlf), line});
    }
    if (layout.unit == 2 && line.size() % 2 != 0) {
      // The source's odd last byte, after the line end.
      expected.back()
          .bytes.append(line.substr(0, line.size() - 1))
          .append(layout.crlf)
          .append(1, line.back());
      continue;
    }
    expected.back().bytes.append(line).append(layout.crlf);
  }
  if (!expected.empty()) expected_captions.push_back(static_cast<std::int64_t>(expected.size()));

  // What the run left: exactly those pieces, named without a gap.
  const auto found = files_in(pieces_folder);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string name =
        fs::path(piece_path(destination, static_cast<std::int64_t>(i))).filename().string();
    const auto it = found.find(name);
    if (it == found.end()) {
      problems << "piece " << name << " is missing\n";
      continue;
    }
    const std::string& actual = it->second;
    const std::string& want = expected[i].bytes;
    if (actual == want) continue;
    problems << "piece " << name << ":";
    if (!actual.starts_with(enc.bom)) problems << " does not start with the byte-order mark;";
    if (!actual.ends_with(layout.crlf)) problems << " does not end with CR LF;";
    problems << " " << difference(actual, want) << "\n";
  }
  for (const auto& [name, bytes] : found) {
    bool wanted = false;
    for (std::size_t i = 0; i < expected.size() && !wanted; ++i)
      wanted = name == fs::path(piece_path(destination, static_cast<std::int64_t>(i))).filename().string();
    if (!wanted) problems << "unexpected file " << name << " (" << bytes.size() << " bytes)\n";
  }
  if (result.pieces != static_cast<std::int64_t>(expected.size()))
    problems << "the run counted " << result.pieces << " pieces, expected " << expected.size() << "\n";
  // Progress counts pieces on disk, which lag behind the headings: each
  // report at most the pieces ended by then, never going back, the last exact.
  bool captions_fit = host.captions.size() == expected_captions.size() &&
                      (host.captions.empty() || host.captions.back() == expected_captions.back());
  for (std::size_t i = 0; captions_fit && i < host.captions.size(); ++i)
    captions_fit =
        host.captions[i] <= expected_captions[i] && (i == 0 || host.captions[i] >= host.captions[i - 1]);
  if (!captions_fit) {
    problems << "progress reported";
    for (auto n : host.captions) problems << " " << n;
    problems << ", expected";
    for (auto n : expected_captions) problems << " " << n;
    problems << "\n";
  }

  // What the run said of each piece.
  if (host.pieces.size() != expected.size()) {
    problems << "the run reported " << host.pieces.size() << " pieces done\n";
  } else {
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const piece_info& p = host.pieces[i];
      const std::string_view line = expected[i].first_line;
      if (p.number != static_cast<std::int64_t>(i) || p.path != piece_path(destination, p.number))
        problems << "piece " << i << " reported as number " << p.number << ", path " << p.path << "\n";
      if (p.size != expected[i].bytes.size())
        problems << "piece " << i << " reported with " << p.size << " bytes, expected "
                 << expected[i].bytes.size() << "\n";
      const bool first_line_ok =
          p.first_line.size() <= 512 && line.starts_with(p.first_line) &&
          (line.size() <= 512 ? p.first_line.size() == line.size() : p.first_line.size() + 4 > 512);
      if (!first_line_ok)
        problems << "piece " << i << " reported first line [" << hex(p.first_line) << "] of [" << hex(line)
                 << "]\n";
    }
  }

  // A dry run reports the same and writes nothing.
  empty_folder(pieces_folder);
  recording_host dry_host(c.keywords);
  options.dry_run = true;
  const split_result dry = run_split({source, destination}, dry_host, options);
  if (dry.failure) problems << "the dry run failed: " << dry.failure->message() << "\n";
  if (dry.pieces != result.pieces) problems << "the dry run counted " << dry.pieces << " pieces\n";
  if (!files_in(pieces_folder).empty()) problems << "the dry run wrote files\n";
  bool same_reports = dry_host.pieces.size() == host.pieces.size();
  for (std::size_t i = 0; same_reports && i < host.pieces.size(); ++i)
    same_reports = dry_host.pieces[i].number == host.pieces[i].number &&
                   dry_host.pieces[i].path == host.pieces[i].path &&
                   dry_host.pieces[i].size == host.pieces[i].size &&
                   dry_host.pieces[i].first_line == host.pieces[i].first_line;
  if (!same_reports) problems << "the dry run reported other pieces than the real run\n";

  empty_folder(folder);
  return problems.str();
}

}  // namespace quorrel::fuzzing
