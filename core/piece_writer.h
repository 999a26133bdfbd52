#pragma once
// Puts pieces on disk on a thread of its own, so that creating and writing
// files overlaps with reading and scanning the source. Used by the split run
// only.
//
// The run fills a batch with the bytes of one or more pieces, or of part of
// a long one, and hands it over; a few batches circulate, each holding at
// most batch_size bytes and segments_per_batch parts of pieces, so memory
// stays at a few MiB however small the pieces. Pieces are created (safely: see core/file.h), written and
// closed in order; when one cannot be written, it is removed if this run
// made it, nothing after it is written, and failure() says which piece and
// why. A piece that would be the source is refused before it is touched.
// A failed allocation on the writer's thread counts as such a failure
// (reason: out of memory); discard() and drain() allocate nothing, so a run
// can always end cleanly.
//
// The run never waits on the writer without watching for a stop: while it
// waits it asks the host's stop_requested() every tick (a window lets its
// events through there). On a stop the writer drops what it has not
// written, removes the piece it was writing, and a call it is blocked in is
// cut short where the system allows (interrupt_thread()); stopped() then
// says so. A write cut short by a stop signal counts as such a stop, not as
// a failure. A writer destroyed before drain() (an exception went through
// the run) is abandoned the same way: no incomplete piece is left.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/file.h"
#include "core/messages.h"  // out_of_memory
#include "core/split_failure.h"
#include "core/stop_host.h"

namespace quorrel {

class piece_writer {
 public:
  // `source` is the file being split. With dry_run, batches are dropped as
  // they come and nothing is written.
  // `host` is asked about a stop while the run waits on the writer.
  // Throws std::system_error when the writer's thread cannot start.
  piece_writer(const file::identity& source, bool dry_run, stop_host& host);
  ~piece_writer();
  piece_writer(const piece_writer&) = delete;
  piece_writer& operator=(const piece_writer&) = delete;

  // Scanning side. A piece is begun, given bytes, then ended or discarded.
  // `path` is where it goes: the scanning side names it.
  void begin(std::string path);
  // Called for every line: the common case, bytes that fit in the batch, is
  // one copy.
  void add(std::string_view bytes) {
    batch& b = *filling_;
    if (bytes.size() > batch_size - b.size) return add_across(bytes);
    std::memcpy(b.bytes.get() + b.size, bytes.data(), bytes.size());
    b.size += bytes.size();
  }
  // A line and its line end: the same, with the few bytes of the end stored
  // directly rather than through a second call to memcpy.
  void add_line(std::string_view text, std::string_view end) {
    batch& b = *filling_;
    if (text.size() + end.size() > batch_size - b.size) {
      add(text);
      return add(end);
    }
    char* to = b.bytes.get() + b.size;
    std::memcpy(to, text.data(), text.size());
    to += text.size();
    if (end.size() == 2) std::memcpy(to, end.data(), 2);  // fixed sizes: plain stores
    else std::memcpy(to, end.data(), end.size());
    b.size += text.size() + end.size();
  }
  void end();
  void discard();

  // Waits until everything handed over is on disk.
  void drain();

  // True once nothing more will be written: a piece could not be written,
  // or the run stopped; cheap enough to ask per line.
  bool failed() const { return failed_.load(std::memory_order_relaxed); }
  // True once a stop was seen while waiting on the writer, or cut a write short.
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

  // Pieces complete on disk so far (final after drain()), and after drain()
  // the failure if there was one, which names a piece by the path begin()
  // was given.
  std::int64_t written() const { return written_.load(std::memory_order_relaxed); }
  const std::optional<split_failure>& failure() const { return failure_; }

  // Why the thread could not start (the constructor's std::system_error):
  // the system's reason (a limit on threads, say), messages::out_of_memory
  // only when it is that.
  static std::string thread_start_reason(const std::system_error& failed);

 private:
  struct segment {
    std::string path;        // the piece's, on the segment that opens it
    std::size_t begin, end;  // bytes of the batch
    bool opens, closes, discards;
  };
  static constexpr std::size_t batch_size = 1 << 20;  // bytes gathered before a batch is handed over

 public:
  // Parts of pieces gathered before a batch is handed over: a source of
  // millions of one-line pieces keeps its records bounded too.
  static constexpr std::size_t segments_per_batch = 1 << 13;
  static constexpr int batches = 4;
  // Pieces ended by the run but not yet on disk, at most.
  static constexpr std::int64_t most_pieces_queued = batches * segments_per_batch;

 private:
  struct batch {
    batch() { segments.reserve(segments_per_batch + 1); }
    std::unique_ptr<char[]> bytes{new char[batch_size]};
    std::size_t size = 0;
    std::vector<segment> segments;  // room for one more than a full batch, so discard() never allocates
  };

  void add_across(std::string_view bytes);
  void cut(bool closes, bool discards);
  void hand_over();
  template <typename ready_t>
  bool wait(std::unique_lock<std::mutex>& lock, ready_t ready);
  void clear(batch& b);
  void run();
  void write(batch& b);
  void fail(std::string reason);
  void out_of_memory() noexcept;

  const file::identity source_;
  const bool dry_run_;
  stop_host& host_;

  // Scanning side.
  batch* filling_ = nullptr;
  bool in_piece_ = false;
  bool piece_opened_ = false;  // a part of the current piece was handed over
  std::string piece_path_;     // until the piece's first segment takes it
  std::size_t piece_begin_ = 0;
  std::int64_t ended_ = 0;  // pieces ended, for a dry run

  // Shared, under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<batch> pool_;
  std::vector<batch*> full_, free_;  // queues, never longer than pool_: no allocation once made
  bool busy_ = false, stopping_ = false;
  bool abandoned_ = false;   // a stop: the writer drops what it has not written
  bool host_threw_ = false;  // stop_requested() ran out of memory during a wait
  std::atomic<bool> failed_{false};
  std::atomic<bool> stopped_{false};

  // Writer side; read by the scanning side after drain().
  std::optional<file::piece> piece_;  // made by this run and not yet complete
  std::string path_;                  // of the piece being written, taken from its first segment
  // Made while memory is there, so that reporting its lack allocates nothing.
  std::string out_of_memory_ = std::string(messages::out_of_memory);
  std::atomic<std::int64_t> written_{0};
  std::optional<split_failure> failure_;

  std::thread thread_;
};

}  // namespace quorrel
