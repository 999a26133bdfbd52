#include "core/detect.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>  // bad_alloc
#include <thread>
#include <vector>

#include "core/messages.h"

namespace quorrel {
namespace {

constexpr std::size_t read_block = 1 << 20;  // bytes checked at a time
// How often the calling thread asks about a stop while it waits for the
// other half: a window handles its events there.
constexpr std::chrono::milliseconds stop_tick{10};

// Reads up to `bytes` at byte `at` of the source: how many were read (0 at
// the end), or -1 with the reason in `reason`.
std::int64_t read_at(const file::handle& source, char* to, std::size_t bytes, std::int64_t at,
                     std::string& reason) {
  auto got = file::read_at(source, static_cast<std::uint64_t>(at), {to, bytes});
  if (!got) {
    reason = got.reason();
    return -1;
  }
  return static_cast<std::int64_t>(*got);
}

// Whether bytes [from, to) of the file are valid UTF-8 by themselves (`to`
// -1: up to the end). Gives up early once `give_up()` says so (asked before
// each block), saying true: no fault was seen in what was read, and the
// other half's answer decides, so the answer never depends on which half
// finished first. A read error sets `error` to its reason. `scratch` is
// allocated by the caller.
bool valid_utf8(const file::handle& source, std::int64_t from, std::int64_t to, std::vector<char>& scratch,
                const std::function<bool()>& give_up, std::string& error) {
  utf8_validator utf8;
  while ((to < 0 || from < to) && !give_up()) {
    const std::size_t want = to < 0 ? scratch.size() : std::min<std::size_t>(scratch.size(), to - from);
    const std::int64_t got = read_at(source, scratch.data(), want, from, error);
    if (got < 0) return false;
    if (got == 0) break;
    if (!utf8.feed({scratch.data(), static_cast<std::size_t>(got)})) return false;
    from += got;
  }
  return give_up() || utf8.finish();
}

// A large file is checked for UTF-8 in two halves at once: the second core
// is idle until the split begins.
}  // namespace

bool detect_source_encoding(const file::handle& source, std::int64_t size, encoding& found,
                            std::string& error, const std::function<bool()>& stop) {
  std::string head(64 * 1024, '\0');  // whatever the size says: /proc files say 0
  const std::int64_t got = read_at(source, head.data(), head.size(), 0, error);
  if (got < 0) return false;
  head.resize(static_cast<std::size_t>(got));
  if (encoding_from_bom(head)) {
    found = detect_encoding(head, false);
    return true;
  }
  if (auto by_line_ends = encoding_from_line_ends(head)) {
    found = *by_line_ends;
    return true;
  }
  std::atomic<bool> give_up{false};
  bool stopped = false;
  // The calling thread asks about a stop; the other half sees it as give_up.
  const std::function<bool()> asked = [&] {
    if (!stopped && stop && stop()) stopped = give_up = true;
    return give_up.load();
  };
  const std::function<bool()> told = [&] { return give_up.load(); };
  std::vector<char> scratch(read_block);
  std::string second_error;
  bool valid = false;
  std::int64_t cut = size / 2;
  char at_cut[4] = {};  // (c & 0xC0) below is the same whether char is signed or not
  if (size >= static_cast<std::int64_t>(4 * read_block) &&
      read_at(source, at_cut, sizeof at_cut, cut, error) == static_cast<std::int64_t>(sizeof at_cut)) {
    // The second half starts on a character, past any continuation bytes
    // (10xxxxxx); after four of them the first half is invalid anyway.
    for (int i = 0; i < 4 && (at_cut[i] & 0xC0) == 0x80; ++i) ++cut;
    bool second_valid = false;
    std::atomic<bool> second_done{false};
    std::vector<char> second_scratch(read_block);
    std::thread second([&] {
      try {
        second_valid = valid_utf8(source, cut, -1, second_scratch, told, second_error);
      } catch (const std::bad_alloc&) {  // the reason of a failed read could not be kept
        second_error = messages::out_of_memory;
      }
      if (!second_valid) give_up = true;
      second_done = true;
    });
    const bool first_valid = valid_utf8(source, 0, cut, scratch, asked, error);
    if (!first_valid) give_up = true;
    // The second half may take longer: a stop is still asked for meanwhile.
    while (!second_done) {
      asked();
      std::this_thread::sleep_for(stop_tick);
    }
    second.join();
    valid = first_valid && second_valid;
    if (error.empty()) error = second_error;
  } else {
    error.clear();
    valid = valid_utf8(source, 0, -1, scratch, asked, error);
  }
  if (stopped) {
    error.clear();
    return false;
  }
  if (!error.empty()) return false;
  found = detect_encoding(head, valid);
  return true;
}

void take_bom(const file::handle& source, encoding& enc) {
  char head[3] = {};
  std::string ignored;
  const std::int64_t got = read_at(source, head, sizeof head, 0, ignored);
  const auto marked = encoding_from_bom({head, got > 0 ? static_cast<std::size_t>(got) : 0});
  if (marked && marked->layout == enc.layout) enc.bom = marked->bom;
}

}  // namespace quorrel
