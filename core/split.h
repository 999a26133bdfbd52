#pragma once
// The split run: reads a checked source, cuts it at heading lines and writes
// the pieces destination + "0000" + ".txt", "0001.txt", ...
//
// Which lines are headings is the heading rule's to say (core/heading_choice.h;
// by default a line holding every keyword). Every heading starts a piece,
// but a volume heading followed by nothing but blank lines and a chapter
// heading opens that chapter's piece, so that no piece holds a volume's
// title alone. With a size limit, a piece that grows past it ends at that
// line, and the text after it goes on in a piece of its own. Blank lines
// (spaces, tabs and ideographic spaces only) are dropped. A piece is its
// heading (none for the text before the first heading, or after a size
// cut), then CR LF + each following line, and ends with CR LF; lines keep
// their bytes exactly, in the source's encoding, and a source with a
// byte-order mark gives pieces that start with it. (The one byte left alone
// at the end of a UTF-16 source of an odd size is kept as it is, after the
// last line's end, so that the line end stays aligned.) With a size limit and
// a conversion, a piece is measured in the bytes it is written in. Pieces
// are numbered without a gap from 0.
//
// Streams the source through a fixed buffer and writes a long piece in
// blocks; a line longer than the buffer is read twice in blocks (once to
// find its end and test it, once to copy it), never held whole. Memory stays
// at a few MiB whatever the size of the file, of a piece or of a line, and
// time is linear in the source.
//
// Failures come back as values in split_result; the run throws nothing of
// its own. An exception of the host's (anything but std::bad_alloc) goes on
// to the caller, once the run has removed the piece it was writing. Running out
// of memory (on either of the run's threads, or in a call into the host) is
// such a failure, with the reason messages::out_of_memory: a failed write of
// the piece being gathered, or a failed read of the source when no piece is
// open. A piece that could not be written whole is removed; every piece
// written before it stays complete. One run at a time writes into a folder:
// a run whose destination's folder another run (of any process) is writing
// into fails as busy before it reads or writes anything; a dry run writes
// nothing and is never refused.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/convert.h"
#include "core/encoding.h"
#include "core/heading_choice.h"
#include "core/heading_rule.h"  // rule_host
#include "core/split_failure.h"

namespace quorrel {

// A source and destination that passed the checks (core/checks.h).
struct split_request {
  std::string source;       // a regular file
  std::string destination;  // prefix of every piece path, used as typed
};

// What started the piece.
enum class piece_kind { front_matter, volume, chapter, special, size_cut };

struct piece_info {
  std::int64_t number = 0;
  std::string path;
  std::int64_t lines = 0;  // lines of text in it, blank lines dropped
  std::uint64_t size = 0;  // bytes, byte-order mark and line ends included
  std::string first_line;  // its first line of text (up to 512 bytes), in the source's encoding
  piece_kind kind = piece_kind::chapter;  // front_matter: the text before the first heading
  std::int64_t line = 0;                  // the source's line number (1-based) where it starts
  std::uint64_t offset = 0;               // the byte of the source where it starts
};

// What the caller provides to a run, beyond what its heading rule asks
// (rule_host: the keyword list, a stop, the survey's findings). Called on
// the run's thread.
class split_host : public rule_host {
 public:
  // Once, when the source's encoding is known, before any line is read.
  virtual void encoding_known(const encoding& enc) { (void)enc; }

  // At every heading line, with the number of pieces written so far (also
  // when the heading wrote nothing), and once more after the last piece is
  // written, with the total.
  virtual void progress(std::int64_t saved) { (void)saved; }

  // Each piece once it is complete on disk (or counted, in a dry run).
  virtual void piece_done(const piece_info& piece) { (void)piece; }

  // Every line the rule takes for a heading, and every near miss, with its
  // line number (1-based) and bytes, before the piece it starts (if any)
  // is begun.
  virtual void heading_seen(line_kind kind, std::int64_t line, std::string_view text) {
    (void)kind;
    (void)line;
    (void)text;
  }
};

// A host with a list that never changes.
class fixed_keywords : public split_host {
 public:
  explicit fixed_keywords(std::vector<std::string> keywords) : keywords_(std::move(keywords)) {}
  std::uint64_t keywords_version() override { return 1; }
  std::vector<std::string> keywords() override { return keywords_; }

 private:
  std::vector<std::string> keywords_;
};

struct split_options {
  std::optional<encoding> forced_encoding;  // skip detection
  bool dry_run = false;                     // count pieces, write nothing
  // A piece that starts at a heading is named by it (titled_piece_path);
  // the others, and headings that give no title, keep the plain name.
  bool title_names = false;
  // Pieces written in this encoding (target_by_name) instead of the
  // source's own bytes. Before anything is written the whole source is
  // checked: a sequence the target cannot hold refuses the run, unless
  // replace_invalid, which writes U+FFFD (or "?") in its place.
  std::optional<encoding> convert_to;
  bool replace_invalid = false;
  heading_choice headings;     // which lines start a piece
  std::uint64_t max_size = 0;  // bytes; a piece past it ends at that line (0: no limit)
};

struct split_result {
  std::int64_t pieces = 0;  // pieces written completely
  bool stopped = false;     // ended early because the host asked
  encoding source_encoding;
  std::optional<split_failure> failure;
  // The conversion was refused for these: nothing was written.
  std::optional<conversion_loss> refused;
  std::uint64_t replaced = 0;  // sequences written as U+FFFD or "?" (replace_invalid)
  // A source detected as UTF-8 although these sequences are not valid
  // (passes_as_utf8): they go into the pieces as they are, and a
  // conversion counts each as a sequence it cannot convert.
  invalid_sequences invalid_utf8;
};

split_result run_split(const split_request& request, split_host& host, const split_options& options = {});

}  // namespace quorrel
