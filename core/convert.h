#pragma once
// Pieces written in another encoding than the source's: the encodings a
// piece may be written in, a heading read strictly as UTF-8 (for a file
// name), the stream conversion of a piece's bytes, and the check of a whole
// source before a converted split writes anything.
//
// Conversion goes source -> UTF-16 -> target through ICU, in blocks of a
// fixed size, so memory stays bounded whatever the length of a piece or a
// line. From a one- or two-byte source (GBK, GB18030, Big5) most characters
// are instead looked up in a table that ICU made (core/char_table.h), with
// the same result; ICU still converts whatever the table lacks. A sequence
// that cannot be converted (invalid in the source, or a character the
// target lacks) becomes U+FFFD, or "?" in a target that cannot hold
// U+FFFD, and is counted. ICU's failed allocations throw
// std::bad_alloc; nothing else throws.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/encoding.h"
#include "core/file.h"

namespace quorrel {

// Sequences of a source that a target encoding cannot hold.
struct conversion_loss {
  std::uint64_t count = 0;
  std::int64_t first_line = 0;  // 1-based; 0 when count is 0
};

// A target by name, any case: "UTF-8", "UTF-8-BOM" (also "UTF-8-SIG"),
// "GB18030", "GBK", "Big5", "UTF-16LE" (always with its mark). Its `bom` is
// the mark every piece then starts with.
std::optional<encoding> target_by_name(std::string_view name);

// `bytes` in `enc` as UTF-8; nullopt when any sequence is invalid.
std::optional<std::string> decode_strict(std::string_view bytes, const encoding& enc);

// Converts a stream of text from one encoding to another; the output goes
// to `sink` in blocks. Text may be cut anywhere between calls to write(): a
// character cut in two is joined. end() converts what is held and closes
// the stream: a sequence still open is counted as invalid.
class text_converter {
 public:
  using sink = std::function<void(std::string_view)>;
  // Both encodings must be ICU's (encoding_by_name, target_by_name). A null
  // sink only counts (and finds) what cannot be converted.
  text_converter(const encoding& from, const encoding& to, sink out);
  ~text_converter();
  text_converter(const text_converter&) = delete;
  text_converter& operator=(const text_converter&) = delete;

  // Held until a block gathers, so a stream of short lines costs few calls
  // into ICU.
  void write(std::string_view bytes);
  // Converts what is held now and hands it to the sink, so that the output
  // so far is known (a piece's size); a character cut in two stays open.
  void flush();
  void end();
  // Drops what is held and starts afresh.
  void reset();

  // Sequences replaced so far, and the 1-based line of the first (0: none).
  // Lines are counted only by a converter without a sink.
  std::uint64_t replaced() const;
  std::int64_t first_line() const;

  struct state;

 private:
  void convert(std::string_view bytes, bool last);
  void convert_through_icu(std::string_view bytes, bool last);
  void flush_output();
  std::unique_ptr<state> state_;
  sink out_;
};

// Reads the whole source (after its byte-order mark) and counts in `found`
// what cannot be converted to `to`. `stop` is asked between blocks. False
// when a read failed (`error` says why) or a stop ended the check early
// (`error` empty); `found` then says nothing.
bool check_conversion(const file::handle& source, const encoding& from, const encoding& to,
                      const std::function<bool()>& stop, conversion_loss& found, std::string& error);

}  // namespace quorrel
