#include "core/piece_writer.h"

namespace quorrel {
namespace {

constexpr int batches = 4;

}  // namespace

piece_writer::piece_writer(std::string destination, const file::identity& source, bool dry_run)
    : destination_(std::move(destination)), source_(source), dry_run_(dry_run), pool_(dry_run ? 1 : batches) {
  for (batch& b : pool_) free_.push_back(&b);
  filling_ = free_.front();
  free_.pop_front();
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

void piece_writer::begin(std::int64_t number) {
  in_piece_ = true;
  piece_opened_ = false;
  number_ = number;
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
  filling_->segments.push_back(
      {number_, piece_begin_, filling_->size, !piece_opened_, closes, discards});
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
  filling_ = free_.front();
  free_.pop_front();
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
      b = full_.front();
      full_.pop_front();
      busy_ = true;
    }
    if (!failed()) write(*b);
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
      path_ = piece_path(destination_, s.number);
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

}  // namespace quorrel
