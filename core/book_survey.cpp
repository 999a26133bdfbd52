#include "core/book_survey.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>  // bad_alloc
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/icu_converter.h"
#include "core/text.h"

namespace quorrel {
namespace {

constexpr std::size_t longest_line = 256;     // 60 characters of four bytes, and an indent
constexpr std::size_t longest_subtitle = 20;  // characters

// One stretch of the source, [begin, end) (end -1: to the end of the
// file), its lines numbered from 1.
struct part {
  std::int64_t begin = 0, end = -1;
  heading_book book;
  std::int64_t lines = 0, nonblank = 0;
  std::int64_t last = 0;  // the last line that is not blank
  std::size_t last_characters = 0;
  survey_outcome outcome = survey_outcome::done;
  std::string error;
  bool out_of_memory = false;

  explicit part(std::size_t limit) : book(limit) {}
};

void survey_part(const file::handle& source, const encoding& enc, const shape_filter& filter,
                 const std::function<bool()>& stop, part& p) {
  const icu::converter_ptr converter = icu::open_converter(enc.name);
  if (!converter) return;
  const line_rules rules(enc);
  const std::size_t unit = rules.crlf().size() / 2;
  const std::size_t cr_offset = enc.layout == char_layout::utf16be ? 1 : 0;
  // An index of each block read (none in UTF-16), zeros after the block for it.
  std::optional<line_index> index = filter.index();
  std::vector<char> buffer(survey_block + line_index::padding);
  if (index) index->build({buffer.data(), 0});
  std::vector<char16_t> decoded(longest_line + 1);
  std::array<char, 4 * longest_subtitle + 4> kept{};  // the line before, once the buffer moves on
  std::size_t begin = 0, end = 0;
  std::int64_t next = p.begin;
  std::string_view previous;  // the line before that is not blank
  bool eof = false, long_line = false, attended = false;
  // The lines from `begin` that end before `limit` and that the index
  // needs no look at: counted, never looked at one by one. Returns where
  // the first other line starts.
  const auto skim = [&](std::size_t limit) {
    const std::size_t flagged = index->next_attention(begin, limit);
    const std::size_t last = index->last_end(begin, flagged);
    if (last == line_index::none) return begin;
    if (index->nonblank_in(begin, last + 1) > 0) {
      const std::size_t end_of_text = index->last_nonblank(begin, last + 1);
      const std::size_t before = index->last_end(begin, end_of_text);
      const std::size_t start = before == line_index::none ? begin : before + index->terminator(before);
      p.last = p.lines + static_cast<std::int64_t>(index->lines_in(begin, end_of_text + 1));
      previous = {buffer.data() + start, end_of_text - start};
    }
    p.lines += static_cast<std::int64_t>(index->lines_in(begin, last + 1));
    p.nonblank += static_cast<std::int64_t>(index->nonblank_in(begin, last + 1));
    return last + index->terminator(last);
  };
  for (;;) {
    for (;;) {
      // A line ending in the block's last byte may go on (a CR before an
      // LF not read yet); the end of a long line is taken one by one.
      if (attended && !long_line) begin = skim(eof || end == 0 ? end : end - 1);
      const std::string_view rest(buffer.data() + begin, end - begin);
      if (rest.empty() && eof) break;
      const line_look looked = index ? filter.look(*index, begin) : filter.look(rest);
      const bool cr_at_end = looked.terminator == unit && looked.length + unit == rest.size() &&
                             rest[looked.length + cr_offset] == '\r';
      if ((looked.terminator == 0 || cr_at_end) && !eof) break;
      const std::string_view content = rest.substr(0, looked.length);
      ++p.lines;
      if (long_line || !looked.blank) {
        ++p.nonblank;
        if (!long_line && content.size() <= longest_line && looked.may_be_shaped) {
          const line_shape shape = read_line_shape(icu::decode_into(converter.get(), content, decoded));
          if (shape.shape != heading_shape::none)
            p.book.add(p.lines, p.nonblank, shape, p.lines - p.last,
                       filter.characters(previous, longest_subtitle));
        }
        p.last = p.lines;
        // A long line keeps more bytes than a subtitle has.
        previous = long_line ? std::string_view(kept.data(), kept.size()) : content;
      }
      long_line = false;
      begin += looked.length + looked.terminator;
    }
    if (eof) break;
    if (stop()) {
      p.outcome = survey_outcome::stopped;
      return;
    }
    // The buffer is about to move: keep the line before as its first bytes.
    if (previous.data() != kept.data()) {
      const std::size_t size = std::min(previous.size(), kept.size());
      if (size > 0) std::memcpy(kept.data(), previous.data(), size);  // an empty view may hold no pointer
      previous = {kept.data(), size};
    }
    if (begin > 0) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    if (end == survey_block) {
      // One line fills the buffer: far too long for a heading. Keep only
      // its last unit, which may be the CR of a CR LF.
      long_line = true;
      std::memmove(buffer.data(), buffer.data() + end - unit, unit);
      end = unit;
    }
    std::size_t room = survey_block - end;
    if (p.end >= 0) room = std::min<std::size_t>(room, static_cast<std::size_t>(p.end - next));
    auto got = file::read_at(source, static_cast<std::uint64_t>(next), {buffer.data() + end, room});
    if (!got) {
      p.outcome = survey_outcome::failed;
      p.error = got.reason();
      return;
    }
    if (*got == 0) eof = true;
    end += *got;
    next += static_cast<std::int64_t>(*got);
    if (index) {
      std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(end), line_index::padding, '\0');
      index->build({buffer.data(), end});
      attended = filter.attend(*index);
    }
  }
  p.last_characters = filter.characters(previous, longest_subtitle);
}

// The byte after the first line end at or after the middle of [from,
// size), so that neither half holds part of the other's lines; -1 when
// none is found near it.
std::int64_t middle(const file::handle& source, const encoding& enc, std::int64_t from, std::uint64_t size) {
  const std::int64_t unit = enc.unit_size();
  const std::int64_t half = (static_cast<std::int64_t>(size) - from) / 2 / unit * unit;
  const std::size_t lf = enc.layout == char_layout::utf16be ? 1 : 0;  // where the '\n' byte of a unit is
  std::vector<char> window(1 << 16);
  for (std::int64_t at = from + half; at < from + half + (4 << 20);) {
    auto got = file::read_at(source, static_cast<std::uint64_t>(at), window);
    if (!got || *got < static_cast<std::size_t>(2 * unit)) return -1;
    const std::size_t usable = *got / static_cast<std::size_t>(unit) * static_cast<std::size_t>(unit);
    // A CR ends a line unless an LF follows it; the window's last unit is
    // left for the next window, which starts there.
    for (std::size_t i = 0; i + static_cast<std::size_t>(unit) < usable;
         i += static_cast<std::size_t>(unit)) {
      auto is = [&](std::size_t u, char c) {
        if (window[u + lf] != c) return false;
        return unit == 1 || window[u + 1 - lf] == 0;
      };
      if (is(i, '\n')) return at + static_cast<std::int64_t>(i) + unit;
      if (is(i, '\r') && !is(i + static_cast<std::size_t>(unit), '\n'))
        return at + static_cast<std::int64_t>(i) + unit;
    }
    at += static_cast<std::int64_t>(usable) - unit;
  }
  return -1;
}

}  // namespace

book_survey survey_book(const file::handle& source, std::int64_t from, std::uint64_t size,
                        const encoding& enc, const shape_filter& filter, const std::function<bool()>& stop,
                        heading_book& book) {
  book_survey result;
  const std::int64_t cut =
      size >= static_cast<std::uint64_t>(from) + survey_halves_from ? middle(source, enc, from, size) : -1;
  std::vector<part> parts;
  parts.reserve(2);
  // Each half notes at most half the lines, so that both together stay
  // within the book's memory.
  parts.emplace_back(cut < 0 ? heading_book::most_lines : heading_book::most_lines / 2);
  parts[0].begin = from;
  parts[0].end = cut;
  if (cut >= 0) {
    parts.emplace_back(heading_book::most_lines / 2);
    parts[1].begin = cut;
  }

  // The first half on a thread of its own, which sees a stop through
  // `stopped`; the rest here, where the host is asked.
  std::atomic<bool> stopped{false};
  const std::function<bool()> ask = [&] {
    if (!stopped && stop()) stopped = true;
    return stopped.load();
  };
  const std::function<bool()> told = [&] { return stopped.load(); };
  auto guarded = [&](part& p, const std::function<bool()>& asked) {
    try {
      survey_part(source, enc, filter, asked, p);
    } catch (const std::bad_alloc&) {
      p.out_of_memory = true;
      stopped = true;
    }
  };
  if (parts.size() == 2) {
    std::thread first;
    std::mutex done_mutex;
    std::condition_variable done;
    bool first_done = false;
    try {
      first = std::thread([&] {
        guarded(parts[0], told);
        const std::lock_guard lock(done_mutex);
        first_done = true;
        done.notify_one();
      });
    } catch (const std::system_error&) {
      guarded(parts[0], ask);  // no thread to be had: one half after the other
      first_done = true;
    }
    guarded(parts[1], ask);
    // The first half may take longer: the host is still asked meanwhile,
    // so a window goes on handling its events and a stop ends that half.
    // The wait ends as soon as the half does.
    for (;;) {
      {
        std::unique_lock lock(done_mutex);
        if (done.wait_for(lock, std::chrono::milliseconds(10), [&] { return first_done; })) break;
      }
      ask();
    }
    if (first.joinable()) first.join();
  } else {
    guarded(parts[0], ask);
  }

  for (const part& p : parts)
    if (p.out_of_memory) throw std::bad_alloc();
  for (const part& p : parts) {
    if (p.outcome == survey_outcome::failed) {
      result.outcome = survey_outcome::failed;
      result.error = p.error;
      return result;
    }
  }
  if (stopped) {
    result.outcome = survey_outcome::stopped;
    return result;
  }
  result.nonblank = parts[0].nonblank;
  if (parts.size() == 1) {
    book = std::move(parts[0].book);
    return result;
  }
  result.parts = 2;
  book.append(std::move(parts[0].book), 0, 0, 0, 0);
  book.append(std::move(parts[1].book), parts[0].lines, parts[0].nonblank, parts[0].last,
              parts[0].last_characters);
  result.nonblank += parts[1].nonblank;
  return result;
}

}  // namespace quorrel
