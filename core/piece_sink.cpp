#include "core/piece_sink.h"

namespace quorrel {

piece_sink::piece_sink(piece_writer& writer, const encoding& source, const std::optional<encoding>& target)
    : writer_(writer), mark_(target ? target->bom : source.bom) {
  if (target) convert_.emplace(source, *target, [this](std::string_view bytes) { emit(bytes); });
}

void piece_sink::begin(std::string path) {
  size_ = 0;
  writer_.begin(std::move(path));
  emit(mark_);
}

void piece_sink::add_stray_byte(char byte) {
  if (convert_) {
    convert_->write({&byte, 1});
    return convert_->end();
  }
  stray_.assign(1, byte);
}

void piece_sink::end_line(std::string_view end) {
  add(end);
  if (!stray_.empty()) emit(stray_);
  stray_.clear();
}

std::uint64_t piece_sink::size() {
  if (convert_) convert_->flush();
  return size_;
}

std::uint64_t piece_sink::end() {
  if (convert_) convert_->end();
  writer_.end();
  return size_;
}

void piece_sink::discard() {
  if (convert_) convert_->reset();
  writer_.discard();
}

}  // namespace quorrel
