#include "core/split.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>           // bad_alloc
#include <system_error>  // the writer's thread that cannot start

#include "core/convert.h"
#include "core/detect.h"
#include "core/file.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/piece_name.h"
#include "core/piece_sink.h"
#include "core/piece_writer.h"
#include "core/source_reader.h"
#include "core/stop_signals.h"
#include "core/text.h"

namespace quorrel {
namespace {

constexpr std::size_t first_line_limit = 512;  // bytes of a piece's first line kept for piece_info

class splitter {
 public:
  splitter(const split_request& request, const file::identity& source_id, split_host& host,
           const split_options& options, const encoding& enc, std::unique_ptr<heading_rule> rule)
      : host_(host),
        enc_(enc),
        wide_(enc.unit_size() == 2),
        rules_(enc),
        rule_(std::move(rule)),
        max_size_(options.max_size),
        destination_(request.destination),
        source_(request.source),
        title_names_(options.title_names),
        writer_(source_id, options.dry_run, host),
        sink_(writer_, enc, options.convert_to),
        window_(read_block + window_margin) {
    piece_.first_line.reserve(first_line_limit);
    volume_.reserve(first_line_limit);
  }

  // read_failed: read_error() says why.
  enum class outcome { more, stopped, failed, ended, read_failed };

  // Takes every line of `text` whose end is certain, or every line when
  // nothing follows `text` (`last`). `used` says how many bytes were taken.
  // `text` starts at byte `offset` of the source.
  outcome lines(std::string_view text, bool last, std::size_t& used, std::int64_t offset) {
    const std::size_t unit = rules_.crlf().size() / 2;
    const std::size_t cr_offset = enc_.layout == char_layout::utf16be ? 1 : 0;
    std::size_t at = 0;
    for (;;) {
      const std::string_view rest = text.substr(at);
      const probe_bytes probe = rule_->probe();
      const line_end end = rules_.find_end(rest, probe);
      // A CR at the very end may be the first half of a CR LF still unread.
      const bool cr_at_end =
          end.terminator == unit && end.length + unit == rest.size() && rest[end.length + cr_offset] == '\r';
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
        line(content, end.holds_probe ? probe_bytes{} : probe, offset + static_cast<std::int64_t>(at));
      }
      ++line_number_;
      at += end.length + end.terminator;
    }
  }

  // Takes one line of the source that is not blank (without its line end),
  // which starts at byte `offset`; `lacks` is a probe known to be absent
  // from it, if any.
  void line(std::string_view text, probe_bytes lacks, std::int64_t offset) {
    refresh_rule();
    // The rule may have just changed: the hint counts only for its own probe.
    line_kind kind = (lacks.first < 0 || lacks != rule_->probe()) ? rule_->classify(text, line_number_ + 1)
                                                                  : line_kind::body;
    if (kind == line_kind::near_miss) {
      host_.heading_seen(kind, line_number_ + 1, text);
      host_called_ = true;
      kind = line_kind::body;
    }
    if (kind == line_kind::volume) {
      hold_volume(text, offset);
      return;
    }
    open(kind, text, offset);
    add_line(text);
    cut_if_full();
  }

  // A line that starts at byte `start` of the source and is longer than the
  // read buffer. It is never held whole: a first pass reads it in blocks to
  // find its end and to tell whether it is blank or a heading (the heading
  // test keeps its place across blocks), a second copies it to the piece.
  // `next` is where the line after it starts. The host is asked to stop
  // before each block of either pass.
  outcome long_line(const file::handle& source, std::int64_t start, std::int64_t& next) {
    if (writer_.failed()) return outcome::failed;
    refresh_rule();
    rule_->begin_parts();
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
          const std::int64_t then = read_at(
              source, after, unit, start + static_cast<std::int64_t>(base + kept + fresh), read_error_);
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
      std::size_t keep = rule_->part(window, base, last);
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
    if (blank) {
      ++line_number_;
      return outcome::more;
    }

    // A volume's title is never this long: one here starts a piece as a
    // chapter does.
    line_kind kind = rule_->found();
    if (kind == line_kind::near_miss) kind = line_kind::body;
    open(kind, {head_.data(), head}, start);
    ++line_number_;
    const std::size_t stray = wide_ ? length % 2 : 0;  // see piece_sink::add_stray_byte()
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
      const auto block = static_cast<std::size_t>(got);
      copied += block;
      const std::size_t alone = copied == length ? stray : 0;
      sink_.add({window_.data(), block - alone});
      if (alone > 0) sink_.add_stray_byte(window_[block - 1]);
    }
    sink_.end_line(rules_.crlf());
    ++piece_.lines;
    cut_if_full();
    return outcome::more;
  }

  const std::string& read_error() const { return read_error_; }
  // The source's line (1-based) being tested or copied.
  std::int64_t line_being_read() const { return line_number_ + 1; }

  // End of the source: the last piece, then the final count once every
  // piece is on disk.
  void finish() {
    if (!volume_.empty()) {
      // Volume titles at the very end join the piece before them.
      if (in_piece_) {
        add_line(volume_);
        piece_.lines += volume_lines_ - 1;
        volume_.clear();
      } else {
        open(line_kind::body, {}, 0);
      }
    }
    if (in_piece_) end_piece();
    writer_.drain();
    if (ended_ > 0 && !writer_.failed()) host_.progress(writer_.written());
  }

  // A run that ends early leaves no incomplete piece behind.
  void abandon() {
    sink_.discard();
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
    if (open) return {split_failure::kind::write, piece_.path, std::string(messages::out_of_memory)};
    return {split_failure::kind::read, source_, std::string(messages::out_of_memory)};
  }

  std::int64_t written() const { return writer_.written(); }
  std::uint64_t replaced() const { return sink_.replaced(); }
  // A stop seen while waiting on the writer, or one that cut a write short.
  bool stopped() const { return writer_.stopped(); }
  // After finish() or abandon().
  const std::optional<split_failure>& failure() const { return writer_.failure(); }

 private:
  // Room kept in window_ past a read block, for the bytes the tests carry
  // from one block to the next (see heading_test::part).
  static constexpr std::size_t window_margin = 16;

  // The rule may follow the host (the keyword list, asked afresh before
  // each line).
  void refresh_rule() {
    if (!rule_->refresh(host_)) return;
    const std::size_t wanted = read_block + rule_->longest() + window_margin;
    if (window_.size() < wanted) window_.resize(wanted);
  }

  // A volume's title waits for the line after it: a chapter heading joins
  // it in one piece, and titles at the end join the piece before.
  void hold_volume(std::string_view text, std::int64_t offset) {
    // Titles without end (a list of volumes past the survey's reach) are
    // not all held: past a read block's worth they start their piece.
    if (!volume_.empty() && volume_.size() + text.size() > read_block) release_volumes();
    if (volume_.empty()) {
      volume_line_ = line_number_ + 1;
      volume_offset_ = offset;
      volume_first_ = std::min(text.size(), first_line_limit);
      volume_lines_ = 0;
    } else {
      volume_.append(rules_.crlf());
    }
    volume_.append(text);
    ++volume_lines_;
    host_.heading_seen(line_kind::volume, line_number_ + 1, text);
    host_called_ = true;
  }

  // The volume titles held start a piece of their own.
  void release_volumes() {
    if (in_piece_) end_piece();
    begin_piece(std::string_view(volume_).substr(0, volume_first_), piece_kind::volume, volume_line_,
                volume_offset_);
    add_line(volume_);
    piece_.lines += volume_lines_ - 1;
    volume_.clear();
    announce();
  }

  // Makes the piece that line number line_number_ + 1, `text` at byte
  // `offset` (a line of kind `kind`), goes into, and leaves its heading
  // written when one waits: the heading itself for a heading, or the
  // volume titles held before it, or an empty heading line before the
  // first heading and after a size cut.
  void open(line_kind kind, std::string_view text, std::int64_t offset) {
    const bool heading = kind != line_kind::body;
    if (heading) host_.heading_seen(kind, line_number_ + 1, text);
    if (!volume_.empty()) return release_volumes();
    if (heading) {
      if (in_piece_) end_piece();
      begin_piece(text, kind == line_kind::special ? piece_kind::special : piece_kind::chapter,
                  line_number_ + 1, offset);
      announce();
      return;
    }
    if (in_piece_) return;
    begin_piece(text, ended_ == 0 ? piece_kind::front_matter : piece_kind::size_cut, line_number_ + 1,
                offset);
    sink_.add(rules_.crlf());
  }

  // At every heading, with the pieces complete on disk so far.
  void announce() {
    host_.progress(writer_.written());
    host_called_ = true;
  }

  // A piece past the size limit ends with the line that took it there. A
  // converted piece is measured by its output: what the converter still
  // holds is converted first, so the size counts every line so far.
  void cut_if_full() {
    if (max_size_ == 0) return;
    if (sink_.size() > max_size_) end_piece();
  }

  void begin_piece(std::string_view first_line, piece_kind kind, std::int64_t line, std::int64_t offset) {
    in_piece_ = true;
    piece_.number = ended_;
    piece_.lines = 0;
    piece_.kind = kind;
    piece_.line = line;
    piece_.offset = static_cast<std::uint64_t>(offset);
    // Enough of the line to show it; cut on a character boundary.
    std::size_t keep = std::min(first_line.size(), first_line_limit);
    while (keep < first_line.size() && !rules_.starts_character(first_line, keep)) --keep;
    piece_.first_line.assign(first_line.substr(0, keep));
    piece_.path = piece_path(destination_, ended_);
    if (title_names_ && kind != piece_kind::front_matter && kind != piece_kind::size_cut) {
      // A heading that is not valid text in its encoding names nothing.
      if (const auto utf8 = decode_strict(piece_.first_line, enc_))
        piece_.path = titled_piece_path(destination_, ended_, file_title(*utf8));
    }
    sink_.begin(piece_.path);
  }

  // Every line ends in CR LF in the pieces.
  void add_line(std::string_view text) {
    ++piece_.lines;
    if (wide_ && text.size() % 2 != 0) {
      sink_.add(text.substr(0, text.size() - 1));
      sink_.add_stray_byte(text.back());
      return sink_.end_line(rules_.crlf());
    }
    sink_.add_line(text, rules_.crlf());
  }

  void end_piece() {
    piece_.size = sink_.end();
    in_piece_ = false;
    host_.piece_done(piece_);
    host_called_ = true;
    ++ended_;
  }

  split_host& host_;
  encoding enc_;
  bool wide_;  // UTF-16: two bytes a code unit
  line_rules rules_;
  std::unique_ptr<heading_rule> rule_;
  std::uint64_t max_size_;
  bool host_called_ = true;  // since stop_requested() was last asked
  std::string destination_;
  std::string source_;
  bool title_names_;
  piece_writer writer_;
  piece_sink sink_;
  std::vector<char> window_;                     // a long line's current block, and what is carried into it
  std::array<char, first_line_limit + 4> head_;  // a long line's first bytes, for its first_line
  std::string read_error_;

  std::int64_t ended_ = 0;  // pieces complete; also the number of the piece being gathered
  bool in_piece_ = false;
  // The piece being gathered, as the host is told of it once complete; its
  // first_line never longer than first_line_limit: no allocation after the first.
  piece_info piece_;
  std::int64_t line_number_ = 0;  // lines of the source taken so far, blank ones included

  // Volume titles waiting for the line after them, joined with CR LF.
  std::string volume_;
  std::size_t volume_first_ = 0;  // bytes of the first title kept as the piece's first line
  std::int64_t volume_lines_ = 0;
  std::int64_t volume_line_ = 0;
  std::int64_t volume_offset_ = 0;
};

split_result split_source(const split_request& request, split_host& host, const split_options& options) {
  split_result result;
  auto read_failure = [&](std::string reason) {
    // A read cut short by a stop signal (a source that stalls) is a stop.
    if (interrupted_by_stop()) {
      result.stopped = true;
      return result;
    }
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
    if (!detect_source_encoding(file, static_cast<std::int64_t>(source->size), result.source_encoding,
                                result.invalid_utf8, error, [&] { return host.stop_requested(); })) {
      if (!error.empty()) return read_failure(error);
      result.stopped = true;
      return result;
    }
  }
  const encoding& enc = result.source_encoding;
  host.encoding_known(enc);
  if (options.convert_to) {
    // Nothing is written until the whole source is known to convert.
    conversion_loss loss;
    std::string error;
    if (!check_conversion(
            file, enc, *options.convert_to, [&] { return host.stop_requested(); }, loss, error)) {
      if (!error.empty()) return read_failure(error);
      result.stopped = true;
      return result;
    }
    if (loss.count > 0 && !options.replace_invalid) {
      result.refused = loss;
      return result;
    }
  }
  if (!reader.fill()) return read_failure(reader.reason());
  // The first block tells which bytes are rare in this text.
  auto [rule, refused] = make_heading_rule(options.headings, enc, reader.available());
  if (!rule) return read_failure(refused->reason);
  switch (auto surveyed = rule->survey(file, static_cast<std::int64_t>(enc.bom.size()), source->size, host);
          surveyed.outcome) {
    case survey_outcome::done: break;
    case survey_outcome::stopped: result.stopped = true; return result;
    case survey_outcome::failed: return read_failure(surveyed.error);
  }
  splitter split(request, source->id, host, options, enc, std::move(rule));

  std::size_t skip = enc.bom.size();  // the mark is not part of the first line
  std::optional<split_failure> undecided;
  try {
    for (;;) {
      const std::string_view text = reader.available();
      if (skip > 0 && text.size() >= skip) {
        reader.consume(skip);
        skip = 0;
        continue;
      }
      std::size_t used = 0;
      auto outcome = skip > 0 && !reader.at_eof() ? splitter::outcome::more
                                                  : split.lines(text, reader.at_eof(), used, reader.offset());
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
      }
      result.stopped = outcome == splitter::outcome::stopped || split.stopped();
      break;
    }
  } catch (const std::bad_alloc&) {
    result.failure = split.out_of_memory();
    result.pieces = split.written();
    return result;
  } catch (const rule_halt& halt) {
    split.abandon();
    result.stopped = !halt.undecided;
    if (halt.undecided)
      undecided = split_failure{split_failure::kind::undecided, request.source, "", split.line_being_read()};
  }
  result.pieces = split.written();
  result.failure = split.failure() ? split.failure() : undecided;
  result.replaced = split.replaced();
  return result;
}

}  // namespace

split_result run_split(const split_request& request, split_host& host, const split_options& options) {
  try {
    // Held until the last piece is closed: the run's writer is done by the
    // time split_source returns.
    std::optional<file::handle> folder_held;
    if (!options.dry_run) {
      const std::string folder(folder_of(request.destination));
      folder_held = file::hold_folder(folder);
      if (!folder_held) {
        split_result result;
        result.failure = split_failure{split_failure::kind::busy, folder, ""};
        return result;
      }
    }
    return split_source(request, host, options);
  } catch (const std::bad_alloc&) {
    // Before any piece was begun (the run catches its own after that), so
    // there is nothing to clean up; what the run held is free again.
    split_result result;
    result.failure =
        split_failure{split_failure::kind::read, request.source, std::string(messages::out_of_memory)};
    return result;
  } catch (const std::system_error& e) {
    // The writer's thread could not start, also before any piece.
    split_result result;
    result.failure =
        split_failure{split_failure::kind::read, request.source, piece_writer::thread_start_reason(e)};
    return result;
  }
}

}  // namespace quorrel
