#include "cli/run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>  // _Exit
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/check.h"
#include "cli/console.h"
#include "cli/contents.h"
#include "cli/options.h"
#include "core/checks.h"
#include "core/file.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/split.h"
#include "core/stop_signals.h"

namespace {

constexpr int exit_input = 1;
constexpr int exit_filesystem = 2;
constexpr int exit_findings = 3;
// The most standard output is given at once: PIPE_BUF, the most a pipe
// takes whole or not at all.
constexpr std::size_t output_piece = 4096;  // bytes

// Messages and progress on stderr: if they cannot be written, there is
// nowhere left to say so.
void print(std::FILE* stream, std::string_view utf8) { quorrel::cli::write(stream, utf8); }

// Standard output, keeping the first failure to write it. SIGPIPE is
// ignored, so a reader that has gone shows here as EPIPE instead of killing
// the tool. stdout is fully buffered when it is not a terminal: most
// failures show at a flush, hence finish().
class standard_output {
 public:
  // Once a write has failed, what follows is dropped. Written in pieces
  // (cut between characters) with a look for a stop between them: a piece
  // that a pipe nobody reads cannot take is cut short by the stop signal
  // (EINTR) where a longer write would be retried by the C library, and a
  // stop seen between pieces ends the output there.
  void write(std::string_view utf8) {
    while (error_ == 0 && !utf8.empty()) {
      if (quorrel::stop_signal() != 0) {
        error_ = EINTR;
        return;
      }
      std::size_t size = std::min(utf8.size(), output_piece);
      while (size < utf8.size() && size > 1 && (static_cast<unsigned char>(utf8[size]) & 0xC0) == 0x80)
        --size;
      if (!quorrel::cli::write(stdout, utf8.substr(0, size))) error_ = errno;
      utf8.remove_prefix(size);
    }
  }

  void finish() {
    if (error_ == 0 && !quorrel::cli::flush(stdout)) error_ = errno;
  }

  bool broken() const { return error_ != 0; }
  // The reader closing its end is not a failure of the tool.
  bool failed() const { return error_ != 0 && error_ != EPIPE; }
  std::string reason() const { return quorrel::file::system_reason(error_); }

 private:
  int error_ = 0;
};

// A run stopped by a signal ends here. What standard output still holds is
// dropped: flushing it could wait again on a reader that takes nothing.
[[noreturn]] void exit_stopped() {
  std::fflush(stderr);
  std::_Exit(quorrel::exit_status_for_signal(quorrel::stop_signal()));
}

// `status` once standard output is flushed; a failure to write it is
// reported and, where all else went well, makes the status a file-system
// one: a report of --check that could not be written is no report.
int flushed(standard_output& out, int status) {
  out.finish();
  if (quorrel::stop_signal() != 0 && out.broken()) exit_stopped();
  if (!out.failed()) return status;
  print(stderr, "quorrel-split: " + quorrel::messages::output_failed(out.reason()) + "\n");
  return status == 0 || status == exit_findings ? exit_filesystem : status;
}

class cli_host : public quorrel::fixed_keywords {
 public:
  // With `table`, the table of contents goes through `json` as the pieces
  // come (the listing, if any, is then the table). Its pieces' encoding is
  // the source's unless it was set.
  cli_host(std::vector<std::string> keywords, bool show_progress, standard_output* list,
           quorrel::cli::contents* table, std::function<void(std::string_view)> json)
      : fixed_keywords(std::move(keywords)),
        show_progress_(show_progress),
        list_(list),
        table_(table),
        json_(std::move(json)) {}

  void encoding_known(const quorrel::encoding& enc) override {
    enc_ = enc;
    if (!table_) return;
    table_->source_encoding = enc;
    if (table_->pieces_encoding.name.empty()) table_->pieces_encoding = enc;
  }

  void progress(std::int64_t saved) override {
    if (!show_progress_) return;
    // At most ten refreshes a second; the line is finished by done().
    const auto now = std::chrono::steady_clock::now();
    if (now - shown_at_ < std::chrono::milliseconds(100)) return;
    shown_at_ = now;
    print(stderr, std::string("\r").append(quorrel::messages::progress(saved)));
    std::fflush(stderr);
    dirty_ = true;
  }

  // The line ends with the pieces complete on disk, which a failed run may
  // have fewer of than it last showed.
  void done(std::int64_t written) {
    if (!dirty_) return;
    print(stderr, "\r" + quorrel::messages::progress(written) + "\n");
  }

  // A listing whose output has failed is over: the rest could not be shown.
  bool stop_requested() override { return quorrel::stop_signal() != 0 || (list_ && list_->broken()); }

  void piece_done(const quorrel::piece_info& piece) override {
    total_bytes_ += piece.size;
    if (table_) {
      const std::string title = quorrel::decode(piece.first_line, enc_);
      // The head waits for the first piece: a conversion refused before
      // any piece writes nothing.
      if (!table_started_) json_(quorrel::cli::json_head(*table_));
      json_(quorrel::cli::json_piece(
          {piece.number, piece.path, piece.kind, std::string(quorrel::trim_blanks(title)), piece.line,
           piece.offset, piece.size},
          !table_started_));
      table_started_ = true;
      return;
    }
    if (!list_) return;
    list_->write(quorrel::cli::visible(piece.path) + "\t" + std::to_string(piece.size) + "\t" +
                 quorrel::cli::visible(quorrel::decode(piece.first_line, enc_)) + "\n");
  }

  // The end of the table of contents, after the last piece.
  void finish_table() {
    if (!table_started_) json_(quorrel::cli::json_head(*table_));
    json_(quorrel::cli::json_end(table_started_));
  }

  std::uint64_t total_bytes() const { return total_bytes_; }

 private:
  bool show_progress_;
  standard_output* list_;  // where the listing goes; null for a real split
  quorrel::cli::contents* table_;
  std::function<void(std::string_view)> json_;
  bool table_started_ = false;
  quorrel::encoding enc_;
  std::chrono::steady_clock::time_point shown_at_{};
  bool dirty_ = false;
  std::uint64_t total_bytes_ = 0;
};

// Another run writing into the folder, or a pattern too slow for a line of
// the source, is a problem with the input: nothing on disk failed.
int failure_status(const quorrel::split_failure& failure) {
  using kind = quorrel::split_failure::kind;
  return failure.what == kind::busy || failure.what == kind::undecided ? exit_input : exit_filesystem;
}

// A source taken for UTF-8 despite a few invalid sequences: the run goes
// on (its status is unchanged), but the reader learns where to look.
void warn_of_invalid_utf8(const quorrel::split_result& result) {
  const auto& invalid = result.invalid_utf8;
  if (invalid.count > 0)
    print(stderr,
          "quorrel-split: " + quorrel::messages::invalid_utf8(invalid.count, invalid.first_line) + "\n");
}

// Why the table of contents may not go to `path`, if it may not: the
// source itself, anything but a regular file (a link is not followed), or
// a name the run may give a piece.
std::optional<std::string> contents_refused(const std::string& path, const quorrel::split_request& request,
                                            quorrel::piece_names names) {
  const auto id = quorrel::file::identity_of(path);
  if (id && id == quorrel::file::identity_of(request.source))
    return std::string(quorrel::messages::piece_is_source);
  if (auto allowed = quorrel::file::may_put_in_place(path); !allowed) return allowed.reason();
  if (quorrel::is_piece_path(path, request.destination, names))
    return std::string(quorrel::messages::contents_is_piece);
  return std::nullopt;
}

// A check: what it found on standard output, its status.
int check(const quorrel::cli::command& c, const quorrel::split_request& request, standard_output& out) {
  quorrel::cli::check_host checker(c.keywords, c.check_size, c.source, [&out](const std::string& line) {
    out.write(line);
    return !out.broken();
  });
  const auto result = quorrel::run_split(request, checker, c.options);
  warn_of_invalid_utf8(result);
  if (result.failure) {
    print(stderr, result.failure->message() + "\n");
    return flushed(out, failure_status(*result.failure));
  }
  if (result.stopped && quorrel::stop_signal() != 0) exit_stopped();
  if (!result.stopped) checker.finish(result.pieces);
  return flushed(out, checker.found_anything() ? exit_findings : 0);
}

// A split or a listing, with its table of contents when asked, into
// `contents_out` when there is one.
int split(const quorrel::cli::command& c, const quorrel::split_request& request,
          std::optional<quorrel::cli::contents_file>& contents_out, standard_output& out) {
  const bool list = c.what == quorrel::cli::command::action::list;
  quorrel::cli::contents table;
  table.source = request.source;
  table.rule = c.options.headings;
  table.keywords = c.keywords;
  if (c.options.convert_to) table.pieces_encoding = *c.options.convert_to;
  std::function<void(std::string_view)> json_out;
  if (contents_out) json_out = [&contents_out](std::string_view text) { contents_out->write(text); };
  else json_out = [&out](std::string_view text) { out.write(text); };
  cli_host host(c.keywords, !c.quiet && !list && quorrel::cli::is_terminal(stderr), list ? &out : nullptr,
                c.json || contents_out ? &table : nullptr, json_out);
  const auto result = quorrel::run_split(request, host, c.options);
  host.done(result.pieces);
  warn_of_invalid_utf8(result);
  if (result.refused) {
    print(stderr, "quorrel-split: " +
                      quorrel::messages::not_convertible(result.refused->count, c.to_name,
                                                         result.refused->first_line) +
                      "\n");
    return flushed(out, exit_input);
  }
  if (result.failure) print(stderr, result.failure->message() + "\n");
  if ((result.stopped || result.failure) && quorrel::stop_signal() != 0) {
    contents_out.reset();  // its new file goes: _Exit runs no destructor
    exit_stopped();
  }
  if (result.failure) return flushed(out, failure_status(*result.failure));
  if (contents_out) {
    host.finish_table();
    if (!contents_out->finish()) {
      print(stderr, quorrel::messages::write_failed(*c.contents_path, *contents_out->failure()) + "\n");
      return flushed(out, exit_filesystem);
    }
  }
  if (result.replaced > 0)
    print(stderr, "quorrel-split: " + quorrel::messages::replaced(result.replaced) + "\n");
  if (const auto left = list ? 0 : quorrel::leftover_pieces(request.destination, result.pieces); left > 0)
    print(stderr, "quorrel-split: " +
                      quorrel::messages::leftover_pieces(quorrel::folder_of(c.destination), left) + "\n");
  if (list && c.json) host.finish_table();
  else if (list) out.write(quorrel::messages::list_total(result.pieces, host.total_bytes()) + "\n");
  else out.write(std::string(quorrel::messages::finished) + "\n");
  return flushed(out, 0);
}

}  // namespace

namespace quorrel::cli {

int run(const command& c) {
  standard_output out;
  if (c.what == command::action::help || c.what == command::action::version) {
    out.write(c.what == command::action::help ? usage() : "quorrel-split " QUORREL_VERSION "\n");
    return flushed(out, 0);
  }
  const piece_names names = c.options.title_names ? piece_names::titles : piece_names::numbers;
  // Paths go to the file system as the bytes given, blanks included.
  const auto inputs =
      check_inputs(c.source, c.destination, c.keywords.size(), path_text::exact, names,
                   c.what == command::action::check ? destination_use::optional : destination_use::required);
  if (!inputs.ok) {
    print(stderr, inputs.message + "\n");
    return exit_input;
  }
  // Before anything is written, and only by a run that writes.
  if (const std::string problem = c.options.dry_run ? "" : make_destination_folder(c.destination);
      !problem.empty()) {
    print(stderr, problem + "\n");
    return exit_filesystem;
  }
  // The table's new file is made before any piece: a folder that cannot
  // take it stops the run before anything is written.
  std::optional<contents_file> contents_out;
  if (c.contents_path) {
    if (auto refused = contents_refused(*c.contents_path, inputs.request, names)) {
      print(stderr, messages::write_failed(*c.contents_path, *refused) + "\n");
      return exit_input;
    }
    contents_out.emplace(*c.contents_path,
                         file::identity_of(inputs.request.source).value_or(file::identity{}));
    if (contents_out->failure()) {
      print(stderr, messages::write_failed(*c.contents_path, *contents_out->failure()) + "\n");
      return exit_filesystem;
    }
  }
  catch_stop_signals();
  if (c.what == command::action::check) return check(c, inputs.request, out);
  return split(c, inputs.request, contents_out, out);
}

}  // namespace quorrel::cli
