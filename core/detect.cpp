#include "core/detect.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
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

// Checks bytes [from, to) of the file against UTF-8 by themselves (`to` -1:
// up to the end), into `utf8`. Gives up early once `give_up` is set (the
// other half found too many faults, which decides), or once `utf8` does.
// False when a read failed: `error` says why. `scratch` is allocated by the
// caller. `stopped`, when given, is asked before each block: true ends
// both halves.
bool check_utf8(const file::handle& source, std::int64_t from, std::int64_t to, std::vector<char>& scratch,
                std::atomic<bool>& give_up, utf8_validator& utf8, std::string& error,
                const std::function<bool()>& stopped = {}) {
  while ((to < 0 || from < to) && !give_up.load(std::memory_order_relaxed)) {
    if (stopped && stopped()) {
      give_up = true;
      return true;
    }
    // In range: below `to` while there is a `to`.
    const std::size_t want =
        to < 0 ? scratch.size() : std::min(scratch.size(), static_cast<std::size_t>(to - from));
    const std::int64_t got = read_at(source, scratch.data(), want, from, error);
    if (got < 0) return false;
    if (got == 0) break;
    if (!utf8.feed({scratch.data(), static_cast<std::size_t>(got)})) {
      give_up = true;
      return true;
    }
    from += got;
  }
  if (!utf8.finish()) give_up = true;
  return true;
}

// The 1-based line of byte `at`: line ends before it (CR LF, CR or LF)
// plus one. Reads the file up to there again; only a file that passes as
// UTF-8 with some invalid sequences comes here.
std::int64_t line_of(const file::handle& source, std::int64_t at, std::vector<char>& scratch,
                     std::string& error) {
  std::int64_t line = 1;
  bool after_cr = false;
  for (std::int64_t from = 0; from < at;) {
    const std::size_t want = std::min<std::size_t>(scratch.size(), static_cast<std::size_t>(at - from));
    const std::int64_t got = read_at(source, scratch.data(), want, from, error);
    if (got <= 0) return got < 0 ? -1 : line;
    for (const char c : std::string_view(scratch.data(), static_cast<std::size_t>(got))) {
      if (c == '\r' || (c == '\n' && !after_cr)) ++line;
      after_cr = c == '\r';
    }
    from += got;
  }
  return line;
}

}  // namespace

// A large file is checked for UTF-8 in two halves at once: the second core
// is idle until the split begins.
bool detect_source_encoding(const file::handle& source, std::int64_t size, encoding& found,
                            invalid_sequences& invalid, std::string& error,
                            const std::function<bool()>& stop) {
  invalid = {};
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
  bool stopped = false;  // asked on this thread only; the other half sees give_up
  const std::function<bool()> asked = [&] { return stopped = stopped || (stop && stop()); };
  std::vector<char> scratch(read_block);
  std::string second_error;
  utf8_validator first(utf8_most_faults), second(utf8_most_faults);
  std::int64_t cut = -1;
  char at_cut[4] = {};  // (c & 0xC0) below is the same whether char is signed or not
  if (size >= static_cast<std::int64_t>(4 * read_block) &&
      read_at(source, at_cut, sizeof at_cut, size / 2, error) == static_cast<std::int64_t>(sizeof at_cut)) {
    // The second half starts on a character, past any continuation bytes
    // (10xxxxxx); after four of them the first half is invalid anyway.
    cut = size / 2;
    for (int i = 0; i < 4 && (at_cut[i] & 0xC0) == 0x80; ++i) ++cut;
    std::vector<char> second_scratch(read_block);
    std::atomic<bool> other_done{false};
    std::thread other([&] {
      try {
        if (!check_utf8(source, cut, -1, second_scratch, give_up, second, second_error)) give_up = true;
      } catch (const std::bad_alloc&) {  // the reason of a failed read could not be kept
        second_error = messages::out_of_memory;
        give_up = true;
      }
      other_done = true;
    });
    if (!check_utf8(source, 0, cut, scratch, give_up, first, error, asked)) give_up = true;
    // The second half may take longer: a stop is still asked for meanwhile.
    while (!other_done) {
      if (asked()) give_up = true;
      std::this_thread::sleep_for(stop_tick);
    }
    other.join();
    if (error.empty()) error = second_error;
  } else {
    error.clear();
    check_utf8(source, 0, -1, scratch, give_up, first, error, asked);
  }
  if (stopped) {
    error.clear();
    return false;
  }
  if (!error.empty()) return false;
  // Either half past the limit ends both, and the file is not UTF-8
  // whichever stopped first; otherwise both read to their end.
  const std::uint64_t faults = first.faults() + second.faults();
  const bool utf8 = !give_up && passes_as_utf8(faults, first.characters() + second.characters());
  found = detect_encoding(head, utf8);
  if (utf8 && faults > 0) {
    const auto at = first.faults() > 0 ? static_cast<std::int64_t>(first.first_fault())
                                       : cut + static_cast<std::int64_t>(second.first_fault());
    const std::int64_t line = line_of(source, at, scratch, error);
    if (line < 0) return false;
    invalid = {faults, line};
  }
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
