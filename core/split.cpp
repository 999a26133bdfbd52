#include "core/split.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>           // bad_alloc
#include <span>
#include <system_error>  // a thread that cannot start
#include <thread>

#include "core/file.h"
#include "core/messages.h"
#include "core/piece_writer.h"
#include "core/text.h"

namespace quorrel {
namespace {

constexpr std::size_t read_block = 1 << 20;  // bytes read from the source at a time
constexpr std::size_t first_line_limit = 512;  // bytes of a piece's first line kept for piece_info

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

// The source, read in blocks from where the caller says; hands out whole
// lines. Its buffer never grows: a line that fills it is taken in parts
// straight from the file (splitter::long_line).
class source_reader {
 public:
  explicit source_reader(const file::handle& source) : source_(source), buffer_(read_block) {}

  std::string_view available() const { return {buffer_.data() + begin_, end_ - begin_}; }
  void consume(std::size_t bytes) { begin_ += bytes; }
  bool at_eof() const { return eof_; }
  // The byte of the file where available() starts.
  std::int64_t offset() const { return next_ - static_cast<std::int64_t>(end_ - begin_); }
  // Whether the last fill() found the buffer full of one unfinished line,
  // and read nothing.
  bool full() const { return full_; }

  // Reads more after what is available, unless full(); false on a read
  // error (reason() says why).
  bool fill() {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    full_ = end_ == buffer_.size();
    if (full_) return true;
    const std::int64_t got = read_at(source_, buffer_.data() + end_, buffer_.size() - end_, next_, reason_);
    if (got < 0) return false;
    if (got == 0) eof_ = true;
    end_ += static_cast<std::size_t>(got);
    next_ += got;
    return true;
  }

  // Goes on from byte `at` of the file, with nothing available.
  void restart(std::int64_t at) {
    begin_ = end_ = 0;
    next_ = at;
    eof_ = false;
    full_ = false;
  }
  const std::string& reason() const { return reason_; }

 private:
  const file::handle& source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  std::int64_t next_ = 0;  // the byte of the file after end_
  std::string reason_;
  bool eof_ = false;
  bool full_ = false;
};

// Whether bytes [from, to) of the file are valid UTF-8 by themselves (`to`
// -1: up to the end). Gives up early once `give_up` is set, saying true: no
// fault was seen in what was read, and the other half's answer decides, so
// the answer never depends on which half finished first.
// A read error sets `error` to its reason. `scratch` is allocated by the
// caller.
bool valid_utf8(const file::handle& source, std::int64_t from, std::int64_t to, std::vector<char>& scratch,
                const std::atomic<bool>& give_up, std::string& error) {
  utf8_validator utf8;
  while ((to < 0 || from < to) && !give_up.load(std::memory_order_relaxed)) {
    const std::size_t want = to < 0 ? scratch.size() : std::min<std::size_t>(scratch.size(), to - from);
    const std::int64_t got = read_at(source, scratch.data(), want, from, error);
    if (got < 0) return false;
    if (got == 0) break;
    if (!utf8.feed({scratch.data(), static_cast<std::size_t>(got)})) return false;
    from += got;
  }
  return give_up.load(std::memory_order_relaxed) || utf8.finish();
}

// Reads the start of the file and, unless it has a byte-order mark, all of
// it, to decide its encoding. A large file is checked for UTF-8 in two
// halves at once: the second core is idle until the split begins.
// A read error sets `error` to its reason.
bool detect(const file::handle& source, std::int64_t size, encoding& found, std::string& error) {
  std::string head(64 * 1024, '\0');  // whatever the size says: /proc files say 0
  const std::int64_t got = read_at(source, head.data(), head.size(), 0, error);
  if (got < 0) return false;
  head.resize(static_cast<std::size_t>(got));
  if (encoding_from_bom(head)) {
    found = detect_encoding(head, false);
    return true;
  }
  std::atomic<bool> give_up{false};
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
    std::vector<char> second_scratch(read_block);
    std::thread second([&] {
      try {
        second_valid = valid_utf8(source, cut, -1, second_scratch, give_up, second_error);
      } catch (const std::bad_alloc&) {  // the reason of a failed read could not be kept
        second_error = messages::out_of_memory;
      }
      if (!second_valid) give_up = true;
    });
    const bool first_valid = valid_utf8(source, 0, cut, scratch, give_up, error);
    if (!first_valid) give_up = true;
    second.join();
    valid = first_valid && second_valid;
    if (error.empty()) error = second_error;
  } else {
    error.clear();
    valid = valid_utf8(source, 0, -1, scratch, give_up, error);
  }
  if (!error.empty()) return false;
  found = detect_encoding(head, valid);
  return true;
}

// A forced encoding still recognises its own byte-order mark.
void take_bom(const file::handle& source, encoding& enc) {
  char head[3] = {};
  std::string ignored;
  const std::int64_t got = read_at(source, head, sizeof head, 0, ignored);
  const auto marked = encoding_from_bom({head, got > 0 ? static_cast<std::size_t>(got) : 0});
  if (marked && marked->layout == enc.layout) enc.bom = marked->bom;
}

class splitter {
 public:
  splitter(const split_request& request, const file::identity& source_id, split_host& host,
           const split_options& options, const encoding& enc, std::string_view sample)
      : host_(host), enc_(enc), rules_(enc), is_heading_(enc, sample),
        destination_(request.destination), source_(request.source),
        writer_(request.destination, source_id, options.dry_run), window_(read_block + window_margin) {
    first_line_.reserve(first_line_limit);
  }

  // read_failed: read_error() says why.
  enum class outcome { more, stopped, failed, ended, read_failed };

  // Takes every line of `text` whose end is certain, or every line when
  // nothing follows `text` (`last`). `used` says how many bytes were taken.
  outcome lines(std::string_view text, bool last, std::size_t& used) {
    const std::size_t unit = rules_.crlf().size() / 2;
    const std::size_t cr_offset = enc_.layout == char_layout::utf16be ? 1 : 0;
    std::size_t at = 0;
    for (;;) {
      const std::string_view rest = text.substr(at);
      const probe_bytes probe = is_heading_.probe();
      const line_end end = rules_.find_end(rest, probe);
      // A CR at the very end may be the first half of a CR LF still unread.
      const bool cr_at_end = end.terminator == unit && end.length + unit == rest.size() &&
                             rest[end.length + cr_offset] == '\r';
      used = at;
      if ((end.terminator == 0 || cr_at_end) && !last)
        return host_.stop_requested() ? outcome::stopped : outcome::more;
      if (writer_.failed()) return outcome::failed;
      if (rest.empty()) return host_.stop_requested() ? outcome::stopped : outcome::ended;
      // A blank line writes nothing, so stopping before it or before the
      // next line that is not blank comes to the same. The host is asked
      // before the first such line after each call into it (where a window
      // handles its events) and once per read block (for a stop from a
      // signal or another thread), not before every line.
      const std::string_view content = rest.substr(0, end.length);
      if (!rules_.is_blank(content)) {
        if (host_called_) {
          host_called_ = false;
          if (host_.stop_requested()) return outcome::stopped;
        }
        line(content, end.holds_probe ? probe_bytes{} : probe);
      }
      at += end.length + end.terminator;
    }
  }

  // Takes one line of the source that is not blank (without its line end);
  // `lacks` is a probe known to be absent from it, if any.
  void line(std::string_view text, probe_bytes lacks) {
    refresh_keywords();
    // The list may have just changed: the hint counts only for its own probe.
    const bool heading = (lacks.first < 0 || lacks != is_heading_.probe()) && is_heading_(text);
    if (heading) {
      if (in_piece_) end_piece();
      begin_piece(text);
      add_line(text);
      host_.progress(ended_);
      host_called_ = true;
      return;
    }
    if (!in_piece_) {
      begin_piece(text);
      add(rules_.crlf());  // text before the first heading: no heading line
    }
    add_line(text);
  }

  // A line that starts at byte `start` of the source and is longer than the
  // read buffer. It is never held whole: a first pass reads it in blocks to
  // find its end and to tell whether it is blank or a heading (the heading
  // test keeps its place across blocks), a second copies it to the piece.
  // `next` is where the line after it starts. The host is asked to stop
  // before each block of either pass.
  outcome long_line(const file::handle& source, std::int64_t start, std::int64_t& next) {
    if (writer_.failed()) return outcome::failed;
    refresh_keywords();
    is_heading_.begin_parts();
    const std::size_t unit = rules_.crlf().size() / 2;
    const std::string_view cr = std::string_view(rules_.crlf()).substr(0, unit);
    const std::string_view lf = std::string_view(rules_.crlf()).substr(unit);
    // window_ holds the line from byte `base`: `kept` bytes from the block
    // before, which the tests still need, then the new block.
    std::size_t base = 0, kept = 0, length = 0, terminator = 0, head = 0;
    std::size_t blank_to = 0;  // the line is blank up to here...
    bool blank = true;         // ...or, once false, surely not blank
    for (;;) {
      if (host_.stop_requested()) return outcome::stopped;
      char* const block = window_.data() + kept;
      const std::int64_t got =
          read_at(source, block, read_block, start + static_cast<std::int64_t>(base + kept), read_error_);
      if (got < 0) return outcome::read_failed;
      const auto fresh = static_cast<std::size_t>(got);
      const line_end end = rules_.find_end({block, fresh});
      const bool last = fresh == 0 || end.terminator > 0;
      const std::size_t size = kept + (last ? end.length : fresh);
      if (end.terminator > 0) {
        terminator = end.terminator;
        // A CR that ends the block may be the first half of a CR LF.
        const bool at_block_end = end.length + unit == fresh;
        if (end.terminator == unit && at_block_end && std::string_view(block + end.length, unit) == cr) {
          char after[2];
          const std::int64_t then =
              read_at(source, after, unit, start + static_cast<std::int64_t>(base + kept + fresh), read_error_);
          if (then < 0) return outcome::read_failed;
          const bool then_lf = static_cast<std::size_t>(then) == unit && std::string_view(after, unit) == lf;
          if (then_lf) terminator += unit;
        }
      }
      const std::string_view window(window_.data(), size);
      if (base == 0 && kept == 0) {
        head = std::min(size, head_.size());
        std::memcpy(head_.data(), window.data(), head);
      }
      if (blank) {
        blank_to += rules_.blank_length(window.substr(blank_to - base));
        // A blank character may continue in the next block.
        const std::size_t open = base + size - blank_to;
        blank = open == 0 || (!last && open < rules_.longest_blank());
      }
      std::size_t keep = is_heading_.part(window, base, last);
      if (last) {
        length = base + size;
        break;
      }
      if (blank) keep = std::min(keep, blank_to / 4 * 4);
      kept = base + size - keep;
      std::memmove(window_.data(), window_.data() + (keep - base), kept);
      base = keep;
    }
    next = start + static_cast<std::int64_t>(length + terminator);
    if (blank) return outcome::more;

    const bool heading = is_heading_.found();
    const std::string_view first(head_.data(), head);
    if (heading) {
      if (in_piece_) end_piece();
      begin_piece(first);
    } else if (!in_piece_) {
      begin_piece(first);
      add(rules_.crlf());
    }
    for (std::size_t copied = 0; copied < length;) {
      if (host_.stop_requested()) return outcome::stopped;
      if (writer_.failed()) return outcome::failed;
      const std::int64_t got = read_at(source, window_.data(), std::min(read_block, length - copied),
                                       start + static_cast<std::int64_t>(copied), read_error_);
      if (got < 0) return outcome::read_failed;
      if (got == 0) {  // the source is shorter than it was a moment ago: the line ends here
        next = start + static_cast<std::int64_t>(copied);
        break;
      }
      add({window_.data(), static_cast<std::size_t>(got)});
      copied += static_cast<std::size_t>(got);
    }
    add(rules_.crlf());
    if (heading) {
      host_.progress(ended_);
      host_called_ = true;
    }
    return outcome::more;
  }

  const std::string& read_error() const { return read_error_; }

  // End of the source: the last piece, then the final count once every
  // piece is on disk.
  void finish() {
    if (in_piece_) end_piece();
    writer_.drain();
    if (ended_ > 0 && !writer_.failed()) host_.progress(ended_);
  }

  // A run that ends early leaves no incomplete piece behind.
  void abandon() {
    writer_.discard();
    in_piece_ = false;
    writer_.drain();
  }

  // A failed allocation ends the run as a failed write does: the piece
  // being gathered is removed, those before it stay. The failure names that
  // piece, or the source when no piece is open.
  split_failure out_of_memory() {
    const bool open = in_piece_;
    abandon();
    if (writer_.failure()) return *writer_.failure();
    if (open || writer_.failed())
      return {split_failure::kind::write, piece_path(destination_, open ? ended_ : writer_.written()),
              std::string(messages::out_of_memory)};
    return {split_failure::kind::read, source_, std::string(messages::out_of_memory)};
  }

  std::int64_t written() const { return writer_.written(); }
  // After finish() or abandon().
  std::optional<split_failure> failure() const {
    if (writer_.failure() || !writer_.failed()) return writer_.failure();
    // The writer ran out of memory even for its report: the piece it was
    // writing is the one after those complete.
    return split_failure{split_failure::kind::write, piece_path(destination_, writer_.written()),
                         std::string(messages::out_of_memory)};
  }

 private:
  // Room kept in window_ past a read block, for the bytes the tests carry
  // from one block to the next (see heading_test::part).
  static constexpr std::size_t window_margin = 16;

  // The keyword list, asked afresh before each line.
  void refresh_keywords() {
    const std::uint64_t version = host_.keywords_version();
    if (have_keywords_ && version == keywords_version_) return;
    is_heading_.set_keywords(host_.keywords());
    keywords_version_ = version;
    have_keywords_ = true;
    const std::size_t wanted = read_block + is_heading_.longest() + window_margin;
    if (window_.size() < wanted) window_.resize(wanted);
  }

  void begin_piece(std::string_view first_line) {
    in_piece_ = true;
    size_ = 0;
    // Enough of the line to show it; cut on a character boundary.
    std::size_t keep = std::min(first_line.size(), first_line_limit);
    while (keep < first_line.size() && !rules_.starts_character(first_line, keep)) --keep;
    first_line_.assign(first_line.substr(0, keep));
    writer_.begin(ended_);
    add(enc_.bom);
  }

  void add(std::string_view bytes) {
    size_ += bytes.size();
    writer_.add(bytes);
  }

  // Every line ends in CR LF in the pieces.
  void add_line(std::string_view text) {
    size_ += text.size() + rules_.crlf().size();
    writer_.add_line(text, rules_.crlf());
  }

  void end_piece() {
    writer_.end();
    in_piece_ = false;
    host_.piece_done({ended_, piece_path(destination_, ended_), size_, first_line_});
    host_called_ = true;
    ++ended_;
  }

  split_host& host_;
  encoding enc_;
  line_rules rules_;
  heading_test is_heading_;
  bool have_keywords_ = false;
  bool host_called_ = true;  // since stop_requested() was last asked
  std::uint64_t keywords_version_ = 0;
  std::string destination_;
  std::string source_;
  piece_writer writer_;
  std::vector<char> window_;  // a long line's current block, and what is carried into it
  std::array<char, first_line_limit + 4> head_;  // a long line's first bytes, for first_line_
  std::string read_error_;

  std::int64_t ended_ = 0;  // pieces complete; also the number of the piece being gathered
  bool in_piece_ = false;
  std::string first_line_;  // never longer than first_line_limit: no allocation after the first
  std::uint64_t size_ = 0;
};

}  // namespace

std::string split_failure::message() const {
  return what == kind::read ? messages::read_failed(path, reason)
                            : messages::write_failed(path, reason);
}

std::string piece_path(const std::string& destination, std::int64_t number) {
  char digits[24];
  const int length = std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(number));
  std::string path;
  path.reserve(destination.size() + static_cast<std::size_t>(length) + 4);
  path.append(destination).append(digits, static_cast<std::size_t>(length)).append(".txt");
  return path;
}

namespace {

split_result split_source(const split_request& request, split_host& host, const split_options& options) {
  split_result result;
  auto read_failure = [&](std::string reason) {
    result.failure = split_failure{split_failure::kind::read, request.source, std::move(reason)};
    return result;
  };
  // A read that fails once pieces may be under way: the piece being
  // gathered is removed, those before it stay.
  auto failed_reading = [&](std::string reason, splitter& split) {
    split.abandon();
    result.pieces = split.written();
    return read_failure(std::move(reason));
  };
  auto source = file::open_source(request.source);
  if (!source) return read_failure(source.reason());
  const file::handle& file = source->file;

  source_reader reader(file);
  if (options.forced_encoding) {
    result.source_encoding = *options.forced_encoding;
    result.source_encoding.bom.clear();
    take_bom(file, result.source_encoding);
  } else {
    std::string error;
    if (!detect(file, static_cast<std::int64_t>(source->size), result.source_encoding, error))
      return read_failure(error);
  }
  const encoding& enc = result.source_encoding;
  host.encoding_known(enc);
  if (!reader.fill()) return read_failure(reader.reason());
  // The first block tells which bytes are rare in this text.
  splitter split(request, source->id, host, options, enc, reader.available());

  std::size_t skip = enc.bom.size();  // the mark is not part of the first line
  try {
    for (;;) {
      const std::string_view text = reader.available();
      if (skip > 0 && text.size() >= skip) {
        reader.consume(skip);
        skip = 0;
        continue;
      }
      std::size_t used = 0;
      auto outcome =
          skip > 0 && !reader.at_eof() ? splitter::outcome::more : split.lines(text, reader.at_eof(), used);
      reader.consume(used);
      if (outcome == splitter::outcome::more) {
        if (!reader.fill()) return failed_reading(reader.reason(), split);
        if (!reader.full()) continue;
        std::int64_t next = 0;
        outcome = split.long_line(file, reader.offset(), next);
        if (outcome == splitter::outcome::read_failed) return failed_reading(split.read_error(), split);
        if (outcome == splitter::outcome::more) {
          reader.restart(next);
          if (!reader.fill()) return failed_reading(reader.reason(), split);
          continue;
        }
      }
      if (outcome == splitter::outcome::ended) {
        split.finish();
      } else {
        split.abandon();
        result.stopped = outcome == splitter::outcome::stopped;
      }
      break;
    }
  } catch (const std::bad_alloc&) {
    result.failure = split.out_of_memory();
    result.pieces = split.written();
    return result;
  }
  result.pieces = split.written();
  result.failure = split.failure();
  return result;
}

}  // namespace

split_result run_split(const split_request& request, split_host& host, const split_options& options) {
  try {
    return split_source(request, host, options);
  } catch (const std::bad_alloc&) {
    // Before any piece was begun (the run catches its own after that), so
    // there is nothing to clean up; what the run held is free again.
    split_result result;
    result.failure =
        split_failure{split_failure::kind::read, request.source, std::string(messages::out_of_memory)};
    return result;
  } catch (const std::system_error& e) {
    // A thread that could not start (mostly: no memory for its stack), also
    // before any piece.
    split_result result;
    const bool no_memory = e.code() == std::errc::resource_unavailable_try_again;
    result.failure = split_failure{split_failure::kind::read, request.source,
                                   no_memory ? std::string(messages::out_of_memory) : e.code().message()};
    return result;
  }
}

}  // namespace quorrel
