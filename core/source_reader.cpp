#include "core/source_reader.h"

#include <cstring>  // memmove

namespace quorrel {

std::int64_t read_at(const file::handle& source, char* to, std::size_t bytes, std::int64_t at,
                     std::string& reason) {
  auto got = file::read_at(source, static_cast<std::uint64_t>(at), {to, bytes});
  if (!got) {
    reason = got.reason();
    return -1;
  }
  return static_cast<std::int64_t>(*got);
}

bool source_reader::fill() {
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

}  // namespace quorrel
