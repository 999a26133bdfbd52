#pragma once
// Where the split run puts a piece's bytes: as they are, or converted to
// the target encoding, the same calls either way. Counts the bytes each
// piece takes as written. Used by the split run only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>  // move

#include "core/convert.h"
#include "core/encoding.h"
#include "core/piece_writer.h"

namespace quorrel {

class piece_sink {
 public:
  // Pieces of a source in `source`, written in `target` when there is one.
  piece_sink(piece_writer& writer, const encoding& source, const std::optional<encoding>& target)
      : writer_(writer), mark_(target ? target->bom : source.bom) {
    if (target) convert_.emplace(source, *target, [this](std::string_view bytes) { emit(bytes); });
  }

  // A piece starts with the byte-order mark of the encoding it is written in.
  void begin(std::string path) {
    size_ = 0;
    writer_.begin(std::move(path));
    emit(mark_);
  }
  void add(std::string_view bytes) {
    if (convert_) return convert_->write(bytes);
    emit(bytes);
  }
  // A line and its line end (CR LF in the source's encoding).
  void add_line(std::string_view text, std::string_view end) {
    if (convert_) {
      convert_->write(text);
      return convert_->write(end);
    }
    size_ += text.size() + end.size();
    writer_.add_line(text, end);
  }
  // A UTF-16 source of an odd size ends with a byte that is no whole code
  // unit, at the end of its last line. Written as it is, it follows that
  // line's end (end_line()), the last byte of the piece as of the source: the
  // line end stays aligned and no byte is made up. Converted, it is a
  // sequence cut off by the end (one U+FFFD before the line end, or none
  // written and the run refused without replace_invalid).
  void add_stray_byte(char byte) {
    if (convert_) {
      convert_->write({&byte, 1});
      return convert_->end();
    }
    stray_.assign(1, byte);
  }
  // The line end, and after it the odd byte the line left, if any.
  void end_line(std::string_view end) {
    add(end);
    if (!stray_.empty()) emit(stray_);
    stray_.clear();
  }

  // Bytes of the piece as written so far: what the converter holds is
  // converted first.
  std::uint64_t size() {
    if (convert_) convert_->flush();
    return size_;
  }
  // Ends the piece; its size as written.
  std::uint64_t end() {
    if (convert_) convert_->end();
    writer_.end();
    return size_;
  }
  // Drops the piece being gathered.
  void discard() {
    if (convert_) convert_->reset();
    writer_.discard();
  }

  std::uint64_t replaced() const { return convert_ ? convert_->replaced() : 0; }

 private:
  void emit(std::string_view bytes) {
    size_ += bytes.size();
    writer_.add(bytes);
  }

  piece_writer& writer_;
  std::string mark_;                       // the byte-order mark every piece starts with
  std::optional<text_converter> convert_;  // with a target encoding
  std::string stray_;                      // the odd last byte of a UTF-16 source, written after its line end
  std::uint64_t size_ = 0;
};

}  // namespace quorrel
