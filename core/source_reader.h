#pragma once
// The source of a split run, read in blocks through a fixed buffer from
// where the run says; the run takes whole lines from it. The buffer never
// grows: a line that fills it is read in parts straight from the file
// (read_at). Used by the split run only.

#include <cstddef>
#include <cstdint>
#include <cstring>  // memmove
#include <string>
#include <string_view>
#include <vector>

#include "core/file.h"

namespace quorrel {

inline constexpr std::size_t read_block = 1 << 20;  // bytes read from the source at a time

// Reads up to `bytes` at byte `at` of the source: how many were read (0 at
// the end), or -1 with the reason in `reason`.
inline std::int64_t read_at(const file::handle& source, char* to, std::size_t bytes, std::int64_t at,
                            std::string& reason) {
  auto got = file::read_at(source, static_cast<std::uint64_t>(at), {to, bytes});
  if (!got) {
    reason = got.reason();
    return -1;
  }
  return static_cast<std::int64_t>(*got);
}

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

}  // namespace quorrel
