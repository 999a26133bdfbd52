#include "core/keyword_rule.h"

#include <algorithm>
#include <cstring>  // memchr

namespace quorrel {
namespace {

// Keywords are a few bytes long: a plain loop beats a call to memcmp.
bool same_bytes(const char* at, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    if (at[i] != bytes[i]) return false;
  return true;
}

// The list follows the host: asked afresh before each line.
class keyword_rule final : public heading_rule {
 public:
  keyword_rule(const encoding& enc, std::string_view sample) : test_(enc, sample) {}

  bool refresh(rule_host& host) override {
    const std::uint64_t version = host.keywords_version();
    if (have_keywords_ && version == version_) return false;
    test_.set_keywords(host.keywords());
    version_ = version;
    have_keywords_ = true;
    return true;
  }
  probe_bytes probe() const override { return test_.probe(); }
  line_kind classify(std::string_view line, std::int64_t number) override {
    (void)number;
    return test_(line) ? line_kind::chapter : line_kind::body;
  }
  void begin_parts() override { test_.begin_parts(); }
  std::size_t part(std::string_view window, std::size_t base, bool last) override {
    return test_.part(window, base, last);
  }
  line_kind found() const override { return test_.found() ? line_kind::chapter : line_kind::body; }
  std::size_t longest() const override { return test_.longest(); }

 private:
  heading_test test_;
  std::uint64_t version_ = 0;
  bool have_keywords_ = false;
};

}  // namespace

std::unique_ptr<heading_rule> make_keyword_rule(const encoding& enc, std::string_view sample) {
  return std::make_unique<keyword_rule>(enc, sample);
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
