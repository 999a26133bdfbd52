#include "core/piece_writer.h"

#include <new>  // bad_alloc

#include "core/messages.h"

namespace quorrel {
namespace {

constexpr int batches = 4;

template <typename T>
T take_first(std::vector<T>& queue) {
  const T first = queue.front();
  queue.erase(queue.begin());
  return first;
}

}  // namespace

piece_writer::piece_writer(std::string destination, const file::identity& source, bool dry_run)
    : destination_(std::move(destination)), source_(source), dry_run_(dry_run), pool_(dry_run ? 1 : batches) {
  full_.reserve(pool_.size());
  free_.reserve(pool_.size());
  for (batch& b : pool_) free_.push_back(&b);
  filling_ = take_first(free_);
  if (!dry_run_) thread_ = std::thread([this] { run(); });
}

piece_writer::~piece_writer() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
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
  if (filling_->size >= batch_size) hand_over();
}

void piece_writer::discard() {
  if (!in_piece_) return;
  filling_->size = piece_begin_;
  if (piece_opened_) cut(false, true);
  in_piece_ = false;
}

void piece_writer::cut(bool closes, bool discards) {
  if (!in_piece_) return;
  std::vector<segment>& segments = filling_->segments;
  // Grown before it is full, so that the cut of a discard always finds
  // room and never allocates (it may follow a failed allocation).
  if (!discards && segments.size() + 1 >= segments.capacity()) segments.reserve(2 * segments.capacity());
  segments.push_back({piece_opened_ ? std::string() : std::move(piece_path_), piece_begin_,
                      filling_->size, !piece_opened_, closes, discards});
  piece_opened_ = true;
  piece_begin_ = filling_->size;
}

void piece_writer::hand_over() {
  if (dry_run_) {
    filling_->size = 0;
    filling_->segments.clear();
    return;
  }
  std::unique_lock lock(mutex_);
  full_.push_back(filling_);
  changed_.notify_all();
  changed_.wait(lock, [this] { return !free_.empty(); });
  filling_ = take_first(free_);
}

void piece_writer::drain() {
  if (!filling_->segments.empty()) hand_over();
  if (dry_run_) return;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return full_.empty() && !busy_; });
}

void piece_writer::run() {
  for (;;) {
    batch* b = nullptr;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !full_.empty(); });
      if (full_.empty()) return;
      b = take_first(full_);
      busy_ = true;
    }
    try {
      if (!failed()) write(*b);
    } catch (const std::bad_alloc&) {
      out_of_memory();
    }
    b->size = 0;
    b->segments.clear();
    {
      std::lock_guard lock(mutex_);
      free_.push_back(b);
      busy_ = false;
    }
    changed_.notify_all();
  }
}

void piece_writer::write(const batch& b) {
  for (const segment& s : b.segments) {
    if (s.opens) {
      path_ = s.path;
      auto created = file::create_piece(path_, source_);
      if (!created) return fail(created.reason());
      piece_ = std::move(*created);
    }
    if (s.discards) {
      file::remove_piece(path_, *piece_);
      piece_.reset();
      continue;
    }
    if (auto failed = file::write_all(piece_->file, {b.bytes.get() + s.begin, s.end - s.begin}))
      return fail(std::move(failed->reason));
    if (s.closes) {
      if (auto failed = piece_->file.close()) return fail(std::move(failed->reason));
      piece_.reset();
      ++written_;
    }
  }
}

void piece_writer::fail(std::string reason) {
  failure_ = split_failure{split_failure::kind::write, path_, std::move(reason)};
  // Only a piece this run made is removed: a file it could not open as a
  // piece stays exactly as it was.
  if (piece_) file::remove_piece(path_, *piece_);
  piece_.reset();
  failed_.store(true, std::memory_order_relaxed);
}

// Pieces are written in order, so the one that failed is the one after
// those complete; it is removed only if this run made it (path_ may still
// name the piece before, complete).
void piece_writer::out_of_memory() noexcept {
  failed_.store(true, std::memory_order_relaxed);
  try {
    if (piece_) file::remove_piece(path_, *piece_);
    piece_.reset();
    failure_ = split_failure{split_failure::kind::write, piece_path(destination_, written_),
                             std::string(messages::out_of_memory)};
  } catch (const std::bad_alloc&) {
    // Not even the report fits: failed() says it, and the run names the piece.
    piece_.reset();
  }
}

}  // namespace quorrel
