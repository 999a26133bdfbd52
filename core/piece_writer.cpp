#include "core/piece_writer.h"

#include <chrono>
#include <memory>
#include <new>  // bad_alloc, nothrow

#include "core/stop_signals.h"

namespace quorrel {
namespace {

// How often a wait on the writer asks about a stop: well inside the 50 ms
// a window may go without handling its events.
constexpr std::chrono::milliseconds tick{20};

template <typename T>
T take_first(std::vector<T>& queue) {
  const T first = queue.front();
  queue.erase(queue.begin());
  return first;
}

// The system says EAGAIN both when it has no memory for a thread's stack
// and when a limit on threads is reached: whether a stack's worth can be
// had tells them apart. Asked once the run has let go of its buffers, so
// the margin is generous: several stacks, not one.
bool room_for_a_thread() {
  constexpr std::size_t stacks = 32 << 20;  // four of the usual 8 MiB
  return std::unique_ptr<char[]>(new (std::nothrow) char[stacks]) != nullptr;
}

}  // namespace

std::string piece_writer::thread_start_reason(const std::system_error& failed) {
  const std::error_code code = failed.code();
  const bool no_memory = code == std::errc::not_enough_memory ||
                         (code == std::errc::resource_unavailable_try_again && !room_for_a_thread());
  if (no_memory) return std::string(messages::out_of_memory);
  // The C++ library's text would be in the locale's encoding, not UTF-8.
  return code.category() == std::generic_category() ? file::system_reason(code.value()) : code.message();
}

piece_writer::piece_writer(const file::identity& source, bool dry_run, stop_host& host)
    : source_(source), dry_run_(dry_run), host_(host), pool_(dry_run ? 1 : batches) {
  full_.reserve(pool_.size());
  free_.reserve(pool_.size());
  for (batch& b : pool_) free_.push_back(&b);
  filling_ = take_first(free_);
  if (!dry_run_) thread_ = std::thread([this] { run(); });
}

// After drain() nothing is left to write. A run that never got there (an
// exception of the host's own went through it) is abandoned as a stop is:
// the writer drops what it has not written and removes the piece it left
// open, cut short where it is blocked, so no incomplete piece stays behind.
piece_writer::~piece_writer() {
  if (!thread_.joinable()) return;
  std::unique_lock lock(mutex_);
  stopping_ = true;
  abandoned_ = true;
  failed_.store(true, std::memory_order_relaxed);
  changed_.notify_all();
  while (!changed_.wait_for(lock, tick, [this] { return full_.empty() && !busy_; }))
    interrupt_thread(thread_);
  lock.unlock();
  thread_.join();
}

void piece_writer::begin(std::string path) {
  in_piece_ = true;
  piece_opened_ = false;
  piece_path_ = std::move(path);
  piece_begin_ = filling_->size;
}

void piece_writer::add_across(std::string_view bytes) {
  // Hand over what has gathered before it grows past a batch; a longer run of
  // bytes (one huge line) goes over in batch-sized parts.
  while (bytes.size() > batch_size - filling_->size) {
    const std::size_t room = batch_size - filling_->size;
    std::memcpy(filling_->bytes.get() + filling_->size, bytes.data(), room);
    filling_->size += room;
    bytes.remove_prefix(room);
    cut(false, false);
    hand_over();
    piece_begin_ = 0;
  }
  add(bytes);
}

void piece_writer::end() {
  cut(true, false);
  in_piece_ = false;
  ++ended_;
  if (dry_run_) written_ = ended_;
  if (filling_->size >= batch_size || filling_->segments.size() >= segments_per_batch) hand_over();
}

void piece_writer::discard() {
  if (!in_piece_) return;
  filling_->size = piece_begin_;
  if (piece_opened_) cut(false, true);
  in_piece_ = false;
}

void piece_writer::cut(bool closes, bool discards) {
  if (!in_piece_) return;
  // A batch is handed over once it holds segments_per_batch segments, and
  // has room for one more: this never allocates (a path is moved, not copied).
  filling_->segments.push_back({piece_opened_ ? std::string() : std::move(piece_path_), piece_begin_,
                                filling_->size, !piece_opened_, closes, discards});
  piece_opened_ = true;
  piece_begin_ = filling_->size;
}

void piece_writer::clear(batch& b) {
  b.size = 0;
  b.segments.clear();
}

// After a stop, what the run gathers is dropped: nothing more is written.
void piece_writer::hand_over() {
  if (dry_run_ || stopped()) return clear(*filling_);
  std::unique_lock lock(mutex_);
  full_.push_back(filling_);
  changed_.notify_all();
  wait(lock, [this] { return !free_.empty(); });
  filling_ = take_first(free_);
  clear(*filling_);
  if (host_threw_) {
    host_threw_ = false;
    throw std::bad_alloc();
  }
}

void piece_writer::drain() {
  if (!filling_->segments.empty()) hand_over();
  if (dry_run_) return;
  std::unique_lock lock(mutex_);
  wait(lock, [this] { return full_.empty() && !busy_; });
  host_threw_ = false;  // the run is ending anyway
}

// Waits until `ready()`, asking the host about a stop every tick. On a stop
// the writer is told to drop the rest, and the wait goes on (still asking,
// so a window keeps handling its events) until the writer is idle, cutting
// its blocked call short each tick: a signal sent just before the call
// began would be lost. A host that runs out of memory when asked counts as
// a stop; hand_over() reports it once everything is in order again. False
// after a stop.
template <typename ready_t>
bool piece_writer::wait(std::unique_lock<std::mutex>& lock, ready_t ready) {
  const auto idle = [this] { return full_.empty() && !busy_; };
  const auto done = [&] { return abandoned_ ? idle() : ready(); };
  while (!changed_.wait_for(lock, tick, done)) {
    lock.unlock();
    bool stop = true;
    try {
      stop = host_.stop_requested();
    } catch (const std::bad_alloc&) {
      host_threw_ = true;
    }
    lock.lock();
    if (stop && !abandoned_) {
      abandoned_ = true;
      stopped_.store(true, std::memory_order_relaxed);
      failed_.store(true, std::memory_order_relaxed);
      changed_.notify_all();
    }
    if (abandoned_) interrupt_thread(thread_);
  }
  return !abandoned_;
}

void piece_writer::run() {
  for (;;) {
    batch* b = nullptr;
    {
      std::unique_lock lock(mutex_);
      // After a stop, the piece left open between batches goes at once.
      const auto open_and_abandoned = [this] { return abandoned_ && piece_; };
      changed_.wait(lock, [&] { return stopping_ || !full_.empty() || open_and_abandoned(); });
      if (full_.empty() && !open_and_abandoned()) return;
      if (!full_.empty()) b = take_first(full_);
      busy_ = true;
    }
    try {
      if (b && !failed()) write(*b);
    } catch (const std::bad_alloc&) {
      out_of_memory();
    }
    bool abandoned = false;
    {
      std::lock_guard lock(mutex_);
      abandoned = abandoned_;
    }
    if (abandoned && piece_) {
      file::remove_piece(path_, *piece_);
      piece_.reset();
    }
    {
      std::lock_guard lock(mutex_);
      if (b) {
        clear(*b);
        free_.push_back(b);
      }
      busy_ = false;
    }
    changed_.notify_all();
  }
}

void piece_writer::write(batch& b) {
  for (segment& s : b.segments) {
    if (failed()) return;  // a stop came meanwhile
    if (s.opens) {
      path_ = std::move(s.path);  // allocates nothing: a failure after it names this piece
      auto created = file::create_piece(path_, source_);
      if (!created) return fail(created.reason());
      piece_ = std::move(*created);
    }
    if (s.discards) {
      file::remove_piece(path_, *piece_);
      piece_.reset();
      continue;
    }
    if (auto done = file::write_all(piece_->file, {b.bytes.get() + s.begin, s.end - s.begin}); !done)
      return fail(done.reason());
    if (s.closes) {
      if (auto done = piece_->file.close(); !done) return fail(done.reason());
      piece_.reset();
      ++written_;
    }
  }
}

void piece_writer::fail(std::string reason) {
  // A call cut short by a stop ends the run as a stop: the piece goes all
  // the same.
  if (stopped() || stop_signal() != 0) stopped_.store(true, std::memory_order_relaxed);
  else failure_ = split_failure{split_failure::kind::write, path_, std::move(reason)};
  // Only a piece this run made is removed: a file it could not open as a
  // piece stays exactly as it was.
  if (piece_) file::remove_piece(path_, *piece_);
  piece_.reset();
  failed_.store(true, std::memory_order_relaxed);
}

// path_ names the piece being opened or written (a move put it there), also
// when the piece before it is complete and this one is not yet made; it is
// removed only if this run made it. The report allocates nothing.
void piece_writer::out_of_memory() noexcept {
  failed_.store(true, std::memory_order_relaxed);
  try {
    if (piece_) file::remove_piece(path_, *piece_);
  } catch (const std::bad_alloc&) {
    // The piece stays behind, as on a system that cannot remove it.
  }
  piece_.reset();
  failure_.emplace();
  failure_->what = split_failure::kind::write;
  failure_->path = std::move(path_);
  failure_->reason = std::move(out_of_memory_);
}

}  // namespace quorrel
