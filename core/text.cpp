#include "core/text.h"

#include <algorithm>
#include <cstring>  // memchr

namespace quorrel {
namespace {

unsigned char byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// Length in bytes of the character starting at `i`. Bytes that do not form a
// valid character count as one character each, so a walk never skips a
// byte that may start a real one.
std::size_t gb18030_length(std::string_view s, std::size_t i) {
  const unsigned char lead = byte_at(s, i);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= s.size()) return 1;
  const unsigned char second = byte_at(s, i + 1);
  if (second >= 0x30 && second <= 0x39) {
    if (i + 3 < s.size()) {
      const unsigned char third = byte_at(s, i + 2), fourth = byte_at(s, i + 3);
      if (third >= 0x81 && third <= 0xFE && fourth >= 0x30 && fourth <= 0x39) return 4;
    }
    return 1;
  }
  return (second >= 0x40 && second <= 0xFE && second != 0x7F) ? 2 : 1;
}

std::size_t big5_length(std::string_view s, std::size_t i) {
  const unsigned char lead = byte_at(s, i);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= s.size()) return 1;
  const unsigned char trail = byte_at(s, i + 1);
  return ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE)) ? 2 : 1;
}

// Keywords and blanks are a few bytes long: a plain loop beats a call to
// memcmp.
bool same_bytes(const char* at, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    if (at[i] != bytes[i]) return false;
  return true;
}

}  // namespace

line_rules::line_rules(const encoding& enc)
    : layout_(enc.layout), wide_(layout_ == char_layout::utf16le || layout_ == char_layout::utf16be) {
  // In the encodings we walk, space, tab, CR and LF are ASCII bytes, or
  // ASCII code units in UTF-16.
  auto ascii = [&](char c) {
    if (layout_ == char_layout::utf16le) return std::string{c, '\0'};
    if (layout_ == char_layout::utf16be) return std::string{'\0', c};
    return std::string(1, c);
  };
  std::string ideographic_space;
  switch (layout_) {
    case char_layout::utf8: ideographic_space = "\xE3\x80\x80"; break;
    case char_layout::gb18030: ideographic_space = "\xA1\xA1"; break;
    case char_layout::big5: ideographic_space = "\xA1\x40"; break;
    case char_layout::utf16le: ideographic_space = std::string("\x00\x30", 2); break;
    case char_layout::utf16be: ideographic_space = std::string("\x30\x00", 2); break;
    case char_layout::single_byte: break;
  }
  auto as_blank = [](const std::string& bytes) {
    blank b{{}, bytes.size()};
    std::memcpy(b.bytes, bytes.data(), bytes.size());
    return b;
  };
  blanks_ = {as_blank(ideographic_space), as_blank(ascii(' ')), as_blank(ascii('\t'))};
  crlf_ = ascii('\r') + ascii('\n');
}

line_end line_rules::find_end_wide(std::string_view text) const {
  const std::size_t size = text.size();
  const bool le = layout_ == char_layout::utf16le;
  const std::size_t units = size / 2;
  for (std::size_t u = 0; u < units; ++u) {
    const unsigned char lo = byte_at(text, 2 * u + (le ? 0 : 1));
    const unsigned char hi = byte_at(text, 2 * u + (le ? 1 : 0));
    if (hi != 0 || (lo != '\r' && lo != '\n')) continue;
    if (lo == '\n') return {2 * u, 2};
    const bool then_lf = u + 1 < units && byte_at(text, 2 * u + 2 + (le ? 0 : 1)) == '\n' &&
                         byte_at(text, 2 * u + 2 + (le ? 1 : 0)) == 0;
    return {2 * u, then_lf ? 4u : 2u};
  }
  return {size, 0};
}

bool line_rules::is_blank_wide(std::string_view line) const { return blank_length(line) == line.size(); }

std::size_t line_rules::blank_length(std::string_view text) const {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p < end) {
    const auto left = static_cast<std::size_t>(end - p);
    const blank* b = blanks_.data();
    const blank* const none = b + blanks_.size();
    while (b != none && !(b->size != 0 && b->size <= left && same_bytes(p, b->bytes, b->size))) ++b;
    if (b == none) break;
    p += b->size;
  }
  return static_cast<std::size_t>(p - begin);
}

std::size_t line_rules::longest_blank() const {
  std::size_t longest = 0;
  for (const blank& b : blanks_) longest = std::max(longest, b.size);
  return longest;
}

bool line_rules::starts_character(std::string_view line, std::size_t pos, std::size_t& walked) const {
  if (layout_ != char_layout::gb18030 && layout_ != char_layout::big5) walked = std::max(walked, pos);
  switch (layout_) {
    case char_layout::single_byte: return true;
    case char_layout::utf8: return pos >= line.size() || (byte_at(line, pos) & 0xC0) != 0x80;
    case char_layout::utf16le:
    case char_layout::utf16be: {
      if (pos % 2 != 0) return false;
      if (pos + 1 >= line.size()) return true;
      const unsigned char high = byte_at(line, pos + (layout_ == char_layout::utf16le ? 1 : 0));
      return high < 0xDC || high > 0xDF;  // not the second half of a surrogate pair
    }
    case char_layout::gb18030:
      while (walked < pos) walked += gb18030_length(line, walked);
      return walked == pos;
    case char_layout::big5:
      while (walked < pos) walked += big5_length(line, walked);
      return walked == pos;
  }
  return false;
}

heading_test::heading_test(const encoding& enc, std::string_view sample)
    : encoding_(enc), rules_(enc), byte_count_(256, 0), pair_count_(256 * 256, 0) {
  sample = sample.substr(0, 256 * 1024);  // plenty to tell rare pairs from common ones
  unsigned previous = 0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const unsigned byte = static_cast<unsigned char>(sample[i]);
    ++byte_count_[byte];
    if (i > 0) ++pair_count_[previous << 8 | byte];
    previous = byte;
  }
}

std::uint32_t heading_test::rarity(const std::string& bytes, std::size_t at) const {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() == 1) return byte_count_[byte(0)];
  return pair_count_[static_cast<unsigned>(byte(at)) << 8 | byte(at + 1)];
}

void heading_test::set_keywords(const std::vector<std::string>& utf8_keywords) {
  keywords_.clear();
  unmatchable_ = false;
  // Every keyword must occur, so a repeated one adds nothing but the time
  // to look for it again: each is kept once.
  std::vector<std::string_view> distinct(utf8_keywords.begin(), utf8_keywords.end());
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  for (const std::string_view utf8 : distinct) {
    auto encoded = encode(utf8, encoding_);
    if (!encoded) {
      unmatchable_ = true;
      continue;
    }
    if (encoded->empty()) continue;  // occurs in every line
    keyword k{std::move(*encoded), 0};
    for (std::size_t i = 1; i + 1 < k.bytes.size(); ++i)
      if (rarity(k.bytes, i) < rarity(k.bytes, k.probe)) k.probe = i;
    keywords_.push_back(std::move(k));
  }
  std::stable_sort(keywords_.begin(), keywords_.end(), [&](const keyword& a, const keyword& b) {
    return rarity(a.bytes, a.probe) < rarity(b.bytes, b.probe);
  });
  places_.assign(keywords_.size(), place{});
  longest_ = 0;
  for (const keyword& k : keywords_) longest_ = std::max(longest_, k.bytes.size());
  probe_ = {};
  if (!keywords_.empty() && !unmatchable_) {
    const keyword& k = keywords_.front();
    probe_.first = static_cast<unsigned char>(k.bytes[k.probe]);
    if (k.bytes.size() > 1) probe_.second = static_cast<unsigned char>(k.bytes[k.probe + 1]);
  }
}

bool heading_test::occurs(std::string_view text, const keyword& k, std::size_t from, std::size_t last,
                          std::size_t& walked) const {
  const char* data = text.data();
  const char probe = k.bytes[k.probe];
  // The probe byte sits k.probe bytes into each place the keyword may start.
  // Its hits come in increasing order, so the character walk only goes on.
  std::size_t at_probe = from + k.probe;
  const std::size_t last_probe = last + k.probe;
  while (at_probe <= last_probe) {
    const void* hit = std::memchr(data + at_probe, probe, last_probe + 1 - at_probe);
    if (!hit) return false;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - data) - k.probe;
    if (same_bytes(data + at, k.bytes.data(), k.bytes.size()) && rules_.starts_character(text, at, walked))
      return true;
    at_probe = at + k.probe + 1;
  }
  return false;
}

bool heading_test::operator()(std::string_view line) const {
  if (unmatchable_) return false;
  for (const keyword& k : keywords_) {
    if (k.bytes.size() > line.size()) return false;
    std::size_t walked = 0;
    if (!occurs(line, k, 0, line.size() - k.bytes.size(), walked)) return false;
  }
  return true;
}

void heading_test::begin_parts() { std::fill(places_.begin(), places_.end(), place{}); }

std::size_t heading_test::part(std::string_view window, std::size_t base, bool last) {
  const std::size_t end = base + window.size();
  std::size_t keep = end;  // the first byte of the line still needed
  for (std::size_t i = 0; i < keywords_.size() && !unmatchable_; ++i) {
    place& p = places_[i];
    if (p.found) continue;
    const keyword& k = keywords_[i];
    // A place is decided once the keyword fits after it and, but at the
    // line's end, so do the bytes a character walk reads (up to 3 past it):
    // the walk then goes exactly as over the whole line.
    const std::size_t reach = last ? k.bytes.size() : std::max<std::size_t>(k.bytes.size(), 4);
    if (end >= p.next + reach) {
      const std::size_t last_start = end - reach;
      std::size_t walked = p.walked - base;
      p.found = occurs(window, k, p.next - base, last_start - base, walked);
      p.next = last_start + 1;
      // Keep the walk up with the search, so that what is kept stays short.
      if (!p.found && !last) rules_.starts_character(window, p.next - base, walked);
      p.walked = walked + base;
    }
    if (!p.found) keep = std::min({keep, p.next, p.walked});
  }
  return keep / 4 * 4;
}

bool heading_test::found() const {
  if (unmatchable_) return false;
  for (const place& p : places_)
    if (!p.found) return false;
  return true;
}

}  // namespace quorrel
