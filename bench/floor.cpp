// quorrel-floor: the least work any splitter must do, to compare quorrel-split
// against. Two modes:
//
//   quorrel-floor --from-file SOURCE --pieces N [--bytes TOTAL] OUTDIR
//       Reads SOURCE into memory with one read (into fresh anonymous pages,
//       huge ones where allowed), then writes N consecutive,
//       equal slices of it (the last one takes the remainder), one file each,
//       with open/write/close. TOTAL (default: the source's size) is how many
//       bytes the slices add up to, so the count and total size can match
//       what a real split wrote. The whole process is the measure: reading
//       the source once and writing the pieces is work no splitter avoids.
//       Use it under hyperfine.
//
//   quorrel-floor --pieces-dir REFDIR OUTDIR
//       Reads every file of REFDIR (pieces from a real quorrel-split run)
//       into memory, then writes each one again into OUTDIR under the same
//       name, with open/write/close. Only the write phase is timed, with the
//       program's own steady clock; the seconds are printed on standard
//       output. Process time under hyperfine would include the untimed
//       loading, so read the printed number instead.
//
// Files are named OUTDIR + four or more digits + ".txt", like the real pieces,
// in --from-file mode. OUTDIR must exist. Exit status 0, or 1 with a message.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "quorrel-floor: %s\n", what.c_str());
  std::exit(1);
}

[[noreturn]] void fail_errno(const std::string& what, const std::string& path) {
  fail(what + " " + path + ": " + std::strerror(errno));
}

void usage() {
  std::fputs(
      "Usage: quorrel-floor --from-file SOURCE --pieces N [--bytes TOTAL] OUTDIR\n"
      "       quorrel-floor --pieces-dir REFDIR OUTDIR\n",
      stderr);
  std::exit(1);
}

// Memory for a whole file: anonymous pages, not zero-filled by us, on huge
// pages where the kernel allows, so filling it costs as little as it can.
class buffer {
 public:
  explicit buffer(std::size_t size) : size_(size) {
    if (size_ == 0) return;
    void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) fail("out of memory");
#ifdef MADV_HUGEPAGE
    ::madvise(p, size_, MADV_HUGEPAGE);
#endif
    data_ = static_cast<char*>(p);
  }
  buffer(const buffer&) = delete;
  buffer& operator=(const buffer&) = delete;
  ~buffer() {
    if (data_) ::munmap(data_, size_);
  }
  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Reads exactly `size` bytes of path into dst: one read call, the loop only
// covers a short read.
void read_into(const std::string& path, char* dst, std::size_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail_errno("cannot open", path);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, dst + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail_errno("cannot read", path);
    if (n == 0) fail("file shrank while read: " + path);
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

std::size_t file_size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) fail_errno("cannot stat", path);
  return static_cast<std::size_t>(st.st_size);
}

void write_file(const std::string& path, const char* bytes, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail_errno("cannot create", path);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail_errno("cannot write", path);
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) fail_errno("cannot close", path);
}

std::string piece_name(const std::string& outdir, std::uint64_t number) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%04llu", static_cast<unsigned long long>(number));
  return outdir + digits + ".txt";
}

std::string as_folder(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::uint64_t parse_count(const char* text, const char* option) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') fail(std::string("bad number for ") + option + ": " + text);
  return value;
}

int from_file(const std::string& source, std::uint64_t pieces, std::uint64_t total, bool total_given,
              const std::string& outdir) {
  if (pieces == 0) fail("--pieces must be at least 1");
  const std::size_t size = file_size(source);
  if (!total_given) total = size;
  // A total a little larger than the source (the real pieces add CR LF where
  // the source had none) is written from a zero-padded buffer.
  const buffer data(std::max<std::size_t>(size, total));
  read_into(source, data.data(), size);
  const std::string dir = as_folder(outdir);
  const std::uint64_t slice = total / pieces;
  std::uint64_t offset = 0;
  for (std::uint64_t i = 0; i < pieces; ++i) {
    const std::uint64_t len = (i + 1 == pieces) ? total - offset : slice;
    write_file(piece_name(dir, i), data.data() + offset, len);
    offset += len;
  }
  return 0;
}

int from_pieces(const std::string& refdir, const std::string& outdir) {
  struct piece {
    std::string name;
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  std::vector<piece> pieces;
  std::size_t total = 0;
  std::error_code ec;
  const std::string ref = as_folder(refdir);
  for (const auto& entry : std::filesystem::directory_iterator(refdir, ec)) {
    if (entry.is_regular_file()) pieces.push_back({entry.path().filename().string(), 0, 0});
  }
  if (ec) fail("cannot list " + refdir + ": " + ec.message());
  std::sort(pieces.begin(), pieces.end(), [](const piece& a, const piece& b) { return a.name < b.name; });
  for (piece& p : pieces) {
    p.offset = total;
    p.size = file_size(ref + p.name);
    total += p.size;
  }

  // Every piece in one buffer, read before the clock starts.
  const buffer all(total);
  for (const piece& p : pieces) read_into(ref + p.name, all.data() + p.offset, p.size);
  const std::string dir = as_folder(outdir);

  const auto start = std::chrono::steady_clock::now();
  for (const piece& p : pieces) write_file(dir + p.name, all.data() + p.offset, p.size);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

  std::printf("%.6f\n", took.count());
  std::fprintf(stderr, "quorrel-floor: wrote %zu files, %zu bytes\n", pieces.size(), total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string source, refdir, outdir;
  std::uint64_t pieces = 0, total = 0;
  bool pieces_given = false, total_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--from-file" && has_value) {
      source = argv[++i];
    } else if (arg == "--pieces" && has_value) {
      pieces = parse_count(argv[++i], "--pieces");
      pieces_given = true;
    } else if (arg == "--bytes" && has_value) {
      total = parse_count(argv[++i], "--bytes");
      total_given = true;
    } else if (arg == "--pieces-dir" && has_value) {
      refdir = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && outdir.empty()) {
      outdir = arg;
    } else {
      usage();
    }
  }
  if (outdir.empty()) usage();
  if (!source.empty() && refdir.empty() && pieces_given)
    return from_file(source, pieces, total, total_given, outdir);
  if (source.empty() && !refdir.empty() && !pieces_given && !total_given) return from_pieces(refdir, outdir);
  usage();
}
