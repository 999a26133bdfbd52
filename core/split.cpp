#include "core/split.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <span>
#include <thread>

#include "core/file.h"
#include "core/messages.h"
#include "core/piece_writer.h"
#include "core/text.h"

namespace quorrel {
namespace {

constexpr std::size_t read_block = 1 << 20;  // bytes read from the source at a time
constexpr std::size_t first_line_limit = 512;  // bytes of a piece's first line kept for piece_info

// The source, read in blocks; hands out whole lines.
class source_reader {
 public:
  explicit source_reader(const file::handle& file) : file_(file), buffer_(read_block) {}

  std::string_view available() const { return {buffer_.data() + begin_, end_ - begin_}; }
  void consume(std::size_t bytes) { begin_ += bytes; }
  bool at_eof() const { return eof_; }

  // Reads more after what is available; false on a read error (reason()
  // says why).
  bool fill() {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
    auto got = file::read_at(file_, offset_, {buffer_.data() + end_, buffer_.size() - end_});
    if (!got) {
      reason_ = got.reason();
      return false;
    }
    if (*got == 0) eof_ = true;
    end_ += *got;
    offset_ += *got;
    return true;
  }
  const std::string& reason() const { return reason_; }

 private:
  const file::handle& file_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  std::uint64_t offset_ = 0;  // of the file, where end_ is
  bool eof_ = false;
  std::string reason_;
};

// Whether all of `into` could be read at `offset`.
bool read_whole(const file::handle& source, std::int64_t offset, std::span<char> into) {
  auto got = file::read_at(source, offset, into);
  return got && *got == into.size();
}

// Whether bytes [from, to) of the file are valid UTF-8 by themselves (`to`
// -1: up to the end). Gives up early, saying false, once `give_up` is set.
// A read error sets `error` to its reason.
bool valid_utf8(const file::handle& source, std::int64_t from, std::int64_t to, const std::atomic<bool>& give_up,
                std::string& error) {
  std::vector<char> scratch(read_block);
  utf8_validator utf8;
  while ((to < 0 || from < to) && !give_up.load(std::memory_order_relaxed)) {
    const std::size_t want = to < 0 ? scratch.size() : std::min<std::size_t>(scratch.size(), to - from);
    auto got = file::read_at(source, from, {scratch.data(), want});
    if (!got) {
      error = got.reason();
      return false;
    }
    if (*got == 0) break;
    if (!utf8.feed({scratch.data(), *got})) return false;
    from += static_cast<std::int64_t>(*got);
  }
  return !give_up.load(std::memory_order_relaxed) && utf8.finish();
}

// Reads the start of the file and, unless it has a byte-order mark, all of
// it, to decide its encoding. A large file is checked for UTF-8 in two
// halves at once: the second core is idle until the split begins. A read
// error sets `error` to its reason.
bool detect(const file::handle& source, std::int64_t size, encoding& found, std::string& error) {
  std::string head(64 * 1024, '\0');  // whatever the size says: /proc files say 0
  auto got = file::read_at(source, 0, head);
  if (!got) {
    error = got.reason();
    return false;
  }
  head.resize(*got);
  if (encoding_from_bom(head)) {
    found = detect_encoding(head, false);
    return true;
  }
  std::atomic<bool> give_up{false};
  std::string second_error;
  bool valid = false;
  std::int64_t cut = size / 2;
  char at_cut[4] = {};  // (c & 0xC0) below is the same whether char is signed or not
  if (size >= static_cast<std::int64_t>(4 * read_block) && read_whole(source, cut, at_cut)) {
    // The second half starts on a character, past any continuation bytes
    // (10xxxxxx); after four of them the first half is invalid anyway.
    for (int i = 0; i < 4 && (at_cut[i] & 0xC0) == 0x80; ++i) ++cut;
    bool second_valid = false;
    std::thread second([&] {
      second_valid = valid_utf8(source, cut, -1, give_up, second_error);
      if (!second_valid) give_up = true;
    });
    const bool first_valid = valid_utf8(source, 0, cut, give_up, error);
    if (!first_valid) give_up = true;
    second.join();
    valid = first_valid && second_valid;
    if (error.empty()) error = second_error;
  } else {
    valid = valid_utf8(source, 0, -1, give_up, error);
  }
  if (!error.empty()) return false;
  found = detect_encoding(head, valid);
  return true;
}

// A forced encoding still recognises its own byte-order mark.
void take_bom(const file::handle& source, encoding& enc) {
  char head[3] = {};
  auto got = file::read_at(source, 0, head);
  const auto marked = encoding_from_bom({head, got ? *got : 0});
  if (marked && marked->layout == enc.layout) enc.bom = marked->bom;
}

class splitter {
 public:
  splitter(const split_request& request, const file::identity& source_id, split_host& host,
           const split_options& options, const encoding& enc, std::string_view sample)
      : host_(host), enc_(enc), rules_(enc), is_heading_(enc, sample),
        destination_(request.destination), writer_(request.destination, source_id, options.dry_run) {}

  enum class outcome { more, stopped, failed, ended };

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
    const std::uint64_t version = host_.keywords_version();
    if (!have_keywords_ || version != keywords_version_) {
      is_heading_.set_keywords(host_.keywords());
      keywords_version_ = version;
      have_keywords_ = true;
    }
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

  std::int64_t written() const { return writer_.written(); }
  const std::optional<split_failure>& failure() const { return writer_.failure(); }

 private:
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
  piece_writer writer_;

  std::int64_t ended_ = 0;  // pieces complete; also the number of the piece being gathered
  bool in_piece_ = false;
  std::string first_line_;
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

split_result run_split(const split_request& request, split_host& host, const split_options& options) {
  split_result result;
  auto read_failure = [&](std::string reason) {
    result.failure = split_failure{split_failure::kind::read, request.source, std::move(reason)};
    return result;
  };
  auto source = file::open_source(request.source);
  if (!source) return read_failure(source.reason());

  source_reader reader(source->file);
  if (options.forced_encoding) {
    result.source_encoding = *options.forced_encoding;
    result.source_encoding.bom.clear();
    take_bom(source->file, result.source_encoding);
  } else {
    std::string error;
    if (!detect(source->file, static_cast<std::int64_t>(source->size), result.source_encoding, error))
      return read_failure(std::move(error));
  }
  const encoding& enc = result.source_encoding;
  host.encoding_known(enc);
  if (!reader.fill()) return read_failure(reader.reason());
  // The first block tells which bytes are rare in this text.
  splitter split(request, source->id, host, options, enc, reader.available());

  std::size_t skip = enc.bom.size();  // the mark is not part of the first line
  for (;;) {
    const std::string_view text = reader.available();
    if (skip > 0 && text.size() >= skip) {
      reader.consume(skip);
      skip = 0;
      continue;
    }
    std::size_t used = 0;
    const auto outcome =
        skip > 0 && !reader.at_eof() ? splitter::outcome::more : split.lines(text, reader.at_eof(), used);
    reader.consume(used);
    if (outcome == splitter::outcome::more) {
      if (reader.fill()) continue;
      split.abandon();
      result.pieces = split.written();
      return read_failure(reader.reason());
    }
    if (outcome == splitter::outcome::ended) {
      split.finish();
    } else {
      split.abandon();
      result.stopped = outcome == splitter::outcome::stopped;
    }
    break;
  }
  result.pieces = split.written();
  result.failure = split.failure();
  return result;
}

}  // namespace quorrel
