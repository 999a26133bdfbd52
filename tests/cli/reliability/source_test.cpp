// Sources that are not what a novel should be: devices, FIFOs and sockets,
// files the user may not read, empty or blank files, NUL bytes, invalid
// sequences in every encoding the splitter walks, one line of 300 MB, lines
// of several read blocks, too little memory, and 100,000 chapters.

#include <sys/socket.h>  // a socket file as the source
#include <sys/un.h>

#include <gtest/gtest.h>

#include "core/split.h"
#include "reliability.h"

namespace quorrel::reliability {
namespace {

// The safety net for sources that must never be read: should the tool read
// /dev/zero after all, it is stopped long before it fills the disk, and a
// run that waits forever on a FIFO is killed.
launch guarded() {
  launch how;
  how.file_size_limit = 64 * 1024 * 1024;
  how.deadline = std::chrono::seconds(120);
  return how;
}

TEST(SourceFaults, RefusesSourcesThatAreNotRegularFiles) {
  struct row {
    const char* name;
    std::string source;  // "{dir}" stands for the case's folder
  };
  const std::vector<row> rows = {
      {"/dev/zero", "/dev/zero"},
      {"/dev/urandom", "/dev/urandom"},
      {"/dev/null", "/dev/null"},
      {"a symbolic link to /dev/zero", "{dir}/zero.txt"},
      {"a FIFO with a writer waiting", "{dir}/pipe"},
      {"a socket", "{dir}/socket"},
      {"a symbolic link to a folder", "{dir}/folder.txt"},
      {"a dangling symbolic link", "{dir}/dangling.txt"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    fs::create_symlink("/dev/zero", dir / "zero.txt");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "folder", dir / "folder.txt");
    fs::create_symlink(dir / "gone", dir / "dangling.txt");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = dir / "socket";
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // A writer that would feed the FIFO for ever, were it ever opened for reading.
    const int writer = ::open((dir / "pipe").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_GT(::write(writer, "第一章\n", 10), 0);
    const listing before = folder_contents(dir.path());

    const std::string source = replace_all(r.source, "{dir}", dir.path());
    const outcome o = run({source, dir / "out"}, guarded());
    EXPECT_FALSE(o.hung) << o;
    EXPECT_EQ(o.exit_code, 1) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "文件“" + source + "”不存在\n");
    expect_contents(dir.path(), before);
    ::close(writer);
    ::close(sock);
  }
}

// Between the check and the run a path can become something else; the run
// itself must then refuse it rather than wait on it or read it for ever.
// The core is run in a child, so that a run that hangs or floods the disk
// is stopped by an alarm and a file-size limit instead of stopping the tests.
TEST(SourceFaults, ARunRefusesASourceThatIsNoLongerARegularFile) {
  struct row {
    const char* name;
    std::string source;  // "{dir}" stands for the case's folder
    std::string reason;
  };
  const std::vector<row> rows = {
      {"a FIFO without a writer", "{dir}/pipe", "Invalid argument"},
      {"/dev/zero", "/dev/zero", "Invalid argument"},
      {"a folder", "{dir}/folder", "Is a directory"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    const std::string source = replace_all(r.source, "{dir}", dir.path());
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(60);
      const rlimit limit{16 * 1024 * 1024, 16 * 1024 * 1024};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      fixed_keywords host({"第", "章"});
      const split_result result = run_split({source, dir / "out"}, host);
      const std::string said = result.failure ? result.failure->message() : std::string("no failure");
      (void)!::write(report[1], said.data(), said.size());
      ::_exit(result.pieces == 0 ? 0 : 1);
    }
    ::close(report[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
      said.append(buffer, static_cast<std::size_t>(got));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_FALSE(WIFSIGNALED(status)) << "the run was killed by signal " << WTERMSIG(status)
                                      << (WTERMSIG(status) == SIGALRM ? " (it hung)" : "");
    EXPECT_EQ(WEXITSTATUS(status), 0) << "pieces were written";
    EXPECT_EQ(said, "读取文件“" + source + "”失败：" + r.reason);
    EXPECT_FALSE(fs::exists(dir / "out0000.txt"));
  }
}

TEST(SourceFaults, ASourceTheUserMayNotReadStopsTheRun) {
  const user_choice who = user_without_privileges();
  if (!who.unavailable.empty()) GTEST_SKIP() << "permissions cannot be tested: " << who.unavailable;
  struct row {
    const char* name;
    std::string source;  // relative to the case's folder
    int exit_code;
    std::string message;
  };
  const std::vector<row> rows = {
      {"a file without read permission", "book.txt", 2, "读取文件“{dir}/book.txt”失败：Permission denied"},
      {"a file in a folder the user may not enter", "secret/book.txt", 1,
       "文件“{dir}/secret/book.txt”不存在"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    ASSERT_TRUE(fs::create_directory(dir / "secret"));
    ASSERT_TRUE(fs::create_directory(dir / "out"));
    write_file(dir / "book.txt", three_chapters);
    write_file(dir / "secret/book.txt", three_chapters);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((dir / "out").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir / "book.txt").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "secret").c_str(), 0700), 0);
    const listing before = folder_contents(dir.path());
    launch how;
    how.user = who.user;
    const outcome o = run({dir / r.source, dir / "out/"}, how);
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, replace_all(r.message, "{dir}", dir.path()) + "\n");
    expect_contents(dir.path(), before);
    ::chmod(dir.path().c_str(), 0700);
  }
}

TEST(SourceFaults, SplitsEmptyBlankAndNulFilledSources) {
  using namespace std::string_literals;  // "\0" inside a literal
  const std::string nuls(1000, '\0');
  struct row {
    const char* name;
    std::string source;
    std::vector<std::string> pieces;
  };
  const std::vector<row> rows = {
      {"an empty file: no piece", "", {}},
      {"only a line end", "\n", {}},
      {"only blank lines of every kind", " \r\n\t\n　\r  \t　 \r\n\n\r", {}},
      {"only a UTF-8 byte-order mark", "\xEF\xBB\xBF", {}},
      {"a byte-order mark and blank lines", "\xEF\xBB\xBF \r\n\t\r\n", {}},
      {"UTF-16LE blank lines", "\xFF\xFE" + utf16le(" \r\n　\t\n"), {}},
      {"only NUL bytes", nuls, {"\r\n" + nuls + "\r\n"}},
      {"NUL bytes between lines and in a heading",
       "\0\n第\0章\n\0甲\0\n"s,
       {"\r\n\0\r\n"s, "第\0章\r\n\0甲\0\r\n"s}},
      {"a NUL is not blank", " \0 \n第一章\n"s, {"\r\n \0 \r\n"s, "第一章\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(expect_split({}, r.source, r.pieces).err, "");
  }
}

// A file in /proc reports a size of 0 yet has text: the tool reads until the
// end, not up to a size it was told.
TEST(SourceFaults, ReadsAFileWhoseReportedSizeIsZero) {
  const std::string version = read_file("/proc/version");
  struct stat info {};
  if (version.empty() || ::stat("/proc/version", &info) != 0 || info.st_size != 0)
    GTEST_SKIP() << "/proc/version is not a non-empty file of reported size 0 here";
  ASSERT_EQ(version.back(), '\n');
  temp_folder dir;
  const outcome o = run({"-k", "Linux", "/proc/version", dir / "out"});
  EXPECT_EQ(o.exit_code, 0) << o;
  expect_contents(dir.path(), with_pieces({}, "out", {version.substr(0, version.size() - 1) + "\r\n"}));
}

TEST(SourceFaults, KeepsInvalidSequencesInEveryEncoding) {
  // Each row: the options, the source, the pieces. Invalid sequences sit
  // inside lines, at their ends, before line ends and at the end of the file.
  const std::string gb_bad = "\x80\xFF\x81\x30\x81";  // 0x80, 0xFF, a cut four-byte sequence
  const std::string big5_bad = "\x80\xFF\xA4\x30";    // 0xA4 with a trail byte Big5 has not
  const std::string lone_high_le("\x00\xD8", 2), lone_low_le("\x00\xDC", 2);
  const std::string lone_high_be("\xD8\x00", 2), lone_low_be("\xDC\x00", 2);
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string source;
    std::vector<std::string> pieces;
  };
  const std::vector<row> rows = {
      {"UTF-8 forced: overlong, surrogate, stray continuation, cut sequence",
       {"-e", "UTF-8"},
       "序\xC0\xAF\n第一章\xED\xA0\x80\r\n\x80甲\xE7\xAC\r\n第二章\n\xF4\x90\x80\x80\xFE\xFF",
       {"\r\n序\xC0\xAF\r\n", "第一章\xED\xA0\x80\r\n\x80甲\xE7\xAC\r\n",
        "第二章\r\n\xF4\x90\x80\x80\xFE\xFF\r\n"}},
      {"UTF-8 by its byte-order mark, with invalid bytes",
       {},
       "\xEF\xBB\xBF第一章\n\xFF甲\xC3\n第二章\r\n\xE7",
       {"\xEF\xBB\xBF第一章\r\n\xFF甲\xC3\r\n", "\xEF\xBB\xBF第二章\r\n\xE7\r\n"}},
      {"GB18030 detected: stray and cut bytes",
       {},
       gbk("第一章\r\n甲") + gb_bad + "\r\n" + gb_bad + gbk("乙\r\n第二章\r\n") + "\x81",
       {gbk("第一章\r\n甲") + gb_bad + "\r\n" + gb_bad + gbk("乙\r\n"), gbk("第二章\r\n") + "\x81\r\n"}},
      {"GBK forced: a lead byte before a line end",
       {"-e", "GBK"},
       gbk("第一章") + "\xB5\r\n" + gbk("第二章\n甲") + "\xFF",
       {gbk("第一章") + "\xB5\r\n", gbk("第二章\r\n甲") + "\xFF\r\n"}},
      {"Big5 forced: stray bytes and a bad trail byte",
       {"-e", "Big5"},
       big5("序\r\n") + big5_bad + "\r\n" + big5("第一章\r\n甲") + big5_bad + "\r\n" + "\xA4",
       {big5("\r\n序\r\n") + big5_bad + "\r\n", big5("第一章\r\n甲") + big5_bad + "\r\n\xA4\r\n"}},
      {"UTF-16LE: lone surrogates and an odd last byte, kept after its line end, which stays aligned",
       {},
       "\xFF\xFE" + utf16le("第一章") + lone_high_le + utf16le("\r\n") + lone_low_le +
           utf16le("甲\n第二章\r\n") + "x",
       {"\xFF\xFE" + utf16le("第一章") + lone_high_le + utf16le("\r\n") + lone_low_le + utf16le("甲\r\n"),
        "\xFF\xFE" + utf16le("第二章\r\n\r\n") + "x"}},
      {"UTF-16BE: lone surrogates",
       {},
       "\xFE\xFF" + utf16be("第一章\n") + lone_low_be + lone_high_be + utf16be("\n第二章"),
       {"\xFE\xFF" + utf16be("第一章\r\n") + lone_low_be + lone_high_be + utf16be("\r\n"),
        "\xFE\xFF" + utf16be("第二章\r\n")}},
      {"windows-1252 forced: bytes it leaves undefined",
       {"-e", "windows-1252", "-k", "Chapter"},
       "Chapter 1\r\n\x81\x8D\x8F\x90\x9D\r\nChapter 2\n\x81",
       {"Chapter 1\r\n\x81\x8D\x8F\x90\x9D\r\n", "Chapter 2\r\n\x81\r\n"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_split(r.options, r.source, r.pieces);
  }
}

// Sizes measured after conversion, UTF-16's odd last byte, a few invalid bytes
// in a UTF-8 book (kept, with a warning), unseen characters a target lacks.
TEST(SourceFaults, ConvertsAndMeasuresWhatItWrites) {
  // Lines without a heading, cut by --max-size=300 --to=UTF-8 at the line past 300 bytes.
  std::string headingless;
  std::vector<std::string> by_size;
  for (int i = 0; i < 60; ++i) {
    const std::string line = "　　第" + std::to_string(i * 13) + "行正文，天地玄黄。";
    headingless += gbk(line + "\n");
    if (by_size.empty() || by_size.back().size() > 300) by_size.push_back("\r\n");
    by_size.back() += line + "\r\n";
  }
  // A UTF-8 book of 1,210 characters outside ASCII with one stray byte on line 3.
  const std::string body = repeat(repeat("甲", 20) + "\n", 60);
  const std::string bad_book = "第一章\n甲\n\x80乙\n第二章\n" + body;
  const std::string warning =
      "quorrel-split: 源文件按 UTF-8 读取，但有1处无效的字节序列，第一处在第3行；它们原样写入分割文件\n";
  const std::string one_replaced = "quorrel-split: 1处无法转换的字符已替换为 U+FFFD 或 ?\n";
  const auto refused = [](std::string target, int line) {
    return "quorrel-split: 源文件有1处无法转换为" + target + "的字符，第一处在第" + std::to_string(line) +
           "行；未写入任何文件（--replace-invalid 以 U+FFFD 或 ? 代替）\n";
  };
  const std::string odd_le(
      "\xFF\xFE"
      "1\0\n\0A",
      7);
  struct row {
    const char* name;
    std::vector<std::string> options;
    std::string source;
    std::vector<std::string> pieces;
    int exit_code;
    std::string err;
  };
  const std::vector<row> rows = {
      {"--max-size with --to=UTF-8 counts the converted bytes",
       {"--max-size=300", "--to=UTF-8"},
       headingless,
       by_size,
       0,
       ""},
      {"UTF-16LE of an odd size", {}, odd_le, {"\xFF\xFE" + utf16le("\r\n1\r\n\r\n") + "A"}, 0, ""},
      {"UTF-16LE of an odd size to UTF-8",
       {"--to=UTF-8", "--replace-invalid"},
       odd_le,
       {"\r\n1\r\n\uFFFD\r\n"},
       0,
       one_replaced},
      {"a lone lead byte at the very end, to UTF-8",
       {"--to=UTF-8"},
       gbk("第一章\n甲") + "\x81",
       {},
       1,
       refused("UTF-8", 2)},
      {"UTF-8 with a stray byte stays UTF-8",
       {},
       bad_book,
       {"第一章\r\n甲\r\n\x80乙\r\n", "第二章\r\n" + replace_all(body, "\n", "\r\n")},
       0,
       warning},
      {"UTF-8 with a stray byte, conversion refused",
       {"--to=GB18030"},
       bad_book,
       {},
       1,
       warning + refused("GB18030", 3)},
      {"a zero-width space Big5 lacks is written as ?",
       {"--to=Big5", "--replace-invalid"},
       "第一章\n甲\u200B乙\n",
       {big5("第一章\r\n甲?乙\r\n")},
       0,
       one_replaced},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    temp_folder dir;
    write_file(dir / "book.txt", r.source);
    const listing before = folder_contents(dir.path());
    std::vector<std::string> args = r.options;
    args.insert(args.end(), {"-q", dir / "book.txt", dir / "out"});
    const outcome o = run(args);
    EXPECT_EQ(o.exit_code, r.exit_code) << o;
    EXPECT_EQ(o.out, r.exit_code == 0 ? saved : "");
    EXPECT_EQ(o.err, r.err);
    expect_contents(dir.path(), with_pieces(before, "out", r.pieces));
  }
}

// One heading line of about 300 MB without a line end: read through,
// written byte for byte, in bounded memory, also when the address space
// allowed is smaller than the line.
TEST(SourceFaults, SplitsALineOf300MegabytesWithoutALineEnd) {
  constexpr std::size_t block = 1 << 20;
  const std::string heading = "第一章 ";
  const std::string unit = "天地玄黄宇宙洪荒 abc ";  // 29 bytes
  // Whole units only, so that the file is valid UTF-8 and detected as such.
  const std::size_t line_bytes = heading.size() + (300'000'000 / unit.size()) * unit.size();
  const std::string cycle = repeat(unit, static_cast<int>(block / unit.size() + 2));
  // Block i of the file: the heading, then the units without a break.
  auto source_block = [&](std::size_t i) -> std::string {
    const std::size_t from = i * block;
    if (from >= line_bytes) return "";
    const std::size_t size = std::min(block, line_bytes - from);
    if (i == 0) return heading + cycle.substr(0, size - heading.size());
    return cycle.substr((from - heading.size()) % unit.size(), size);
  };
  const std::size_t blocks = (line_bytes + block - 1) / block;
  auto piece_block = [&](std::size_t i) -> std::string {
    if (i < blocks) return source_block(i);
    return i == blocks ? "\r\n" : "";
  };
  struct row {
    const char* name;
    const char* property;  // the peak memory's name in the test report
    std::vector<std::string> options;
    rlim_t address_space = RLIM_INFINITY;
  };
  std::vector<row> rows = {{"encoding detected", "peak_memory_kib_detected", {"-q"}},
                           {"encoding given", "peak_memory_kib_given", {"-q", "-e", "UTF-8"}}};
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves terabytes of address space
  rows.push_back({"address space of 128 MiB", "peak_memory_kib_limited", {"-q"}, rlim_t{128} << 20});
#endif
  temp_folder dir;
  write_blocks(dir / "book.txt", source_block);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::string> args = r.options;
    args.push_back(dir / "book.txt");
    args.push_back(dir / "out");
    launch how;
    how.address_space_limit = r.address_space;
    const outcome o = run(args, how);
    ASSERT_EQ(o.exit_code, 0) << o;
    EXPECT_EQ(o.out, saved);
    EXPECT_TRUE(file_holds_blocks(dir / "out0000.txt", piece_block));
    EXPECT_FALSE(fs::exists(dir / "out0001.txt"));
    fs::remove(dir / "out0000.txt");
    // The line is never held: a few MiB of buffers whatever its length.
    // (Not under the sanitizer: the child's peak counts this process's own
    // pages at the fork, and the sanitizer keeps 256 MiB of freed blocks.)
    RecordProperty(r.property, std::to_string(o.peak_memory_kib));
    std::printf("peak memory splitting a line of %zu bytes, %s: %ld KiB\n", line_bytes, r.name,
                o.peak_memory_kib);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(o.peak_memory_kib, 32 * 1024) << "peak resident memory of the tool, KiB";
#endif
  }
}

// Lines of several read blocks (1 MiB), read twice in blocks rather than
// held: a blank one is still dropped and a heading still found when a
// character or a keyword straddles the edge of two blocks, and a keyword
// whose bytes straddle two characters there is still no keyword.
TEST(SourceFaults, TestsLongLinesAcrossTheEdgesOfTheirBlocks) {
  constexpr std::size_t block = 1 << 20;
  const std::string di = gbk("第"), zhang = gbk("章"), space = gbk("　"), text = gbk("天地玄黄");
  // `fill` repeated to `bytes`, then `tail`.
  auto line = [](const std::string& fill, std::size_t bytes, const std::string& tail = "") {
    std::string out;
    while (out.size() + fill.size() <= bytes) out += fill;
    return out.append(bytes - out.size(), ' ') + tail;
  };
  // Blank: an ideographic space across each edge of its first three blocks.
  const std::string blank = line(" ", block - 1) + space + line(" ", block - 2) + space +
                            line(space, block - 1, " " + space + "\t") + line(" ", 100);
  // Not blank: one stray byte after 3 MiB of spaces.
  const std::string almost_blank = line(" ", 3 * block) + "x";
  // A heading: 第 across the first edge, 章 across the third.
  const std::string heading =
      line(text, block - 1) + di + line(text, block - 1) + line(text, block - 1) + zhang + line(text, 50);
  // Not a heading: B5 DA (第) and D5 C2 (章) across the edges, each straddling two characters.
  const std::string straddling = line(text, block - 2) + "\xB0" + di + "\xB0" + line(text, block - 3) +
                                 "\xB0" + zhang + "\xB0" + line(text, block);
  const std::string short_heading = gbk("第二章");
  const std::string source = gbk("序") + "\r\n" + blank + "\r\n" + almost_blank + "\n" + heading + "\r\n" +
                             straddling + "\r" + blank + "\r\n" + short_heading + "\r\n" + heading;
  temp_folder dir;
  write_file(dir / "book.txt", source);
  fs::create_directory(dir / "out");
  const outcome o = run({"-q", "-e", "GBK", dir / "book.txt", dir / "out/"});
  ASSERT_EQ(o.exit_code, 0) << o;
  fs::remove(dir / "book.txt");
  expect_contents(dir.path(), with_pieces({{"out/", ""}}, "out/",
                                          {"\r\n" + gbk("序") + "\r\n" + almost_blank + "\r\n",
                                           heading + "\r\n" + straddling + "\r\n", short_heading + "\r\n",
                                           heading + "\r\n"}));
}

// Under a limit on its address space from too small to load the tool up to
// enough, the tool either cannot start, reports that memory ran out (exit 2,
// only whole pieces), or splits the source: never an abort.
TEST(SourceFaults, RunningOutOfMemoryIsReportedNeverAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer reserves terabytes of address space";
#endif
  temp_folder dir;
  write_file(dir / "book.txt", three_chapters);
  int reported = 0;
  for (rlim_t mib = 16; mib <= 128; mib += 4) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    launch how;
    how.address_space_limit = mib << 20;
    const outcome o = run({"-q", dir / "book.txt", dir / "out/"}, how);
    ASSERT_EQ(o.signal, 0) << o;
    const listing pieces = folder_contents(dir / "out");
    if (o.exit_code == 127) {  // the loader could not map a library
      EXPECT_TRUE(pieces.empty());
    } else if (o.exit_code == 2) {
      EXPECT_TRUE(o.err.ends_with("失败：内存不足\n")) << o;
      ++reported;
      for (const auto& [name, bytes] : pieces) EXPECT_EQ(bytes, three_pieces.at(std::stoul(name)));
    } else {
      ASSERT_EQ(o.exit_code, 0) << o;
      EXPECT_EQ(pieces, with_pieces({}, "", three_pieces));
    }
    if (mib == 128) {
      EXPECT_EQ(o.exit_code, 0) << o;
    }
  }
  EXPECT_GT(reported, 0) << "no limit let the tool start and then run out of memory";
}

TEST(SourceFaults, NumbersOneHundredThousandChaptersWithoutAGap) {
  novel book;
  for (int chapter = 1; chapter <= 100000; ++chapter) {
    book.heading("第" + std::to_string(chapter) + "章");
    if (chapter % 3 == 0) book.line("正文" + std::to_string(chapter));
  }
  temp_folder dir;
  write_file(dir / "book.txt", book.source);
  ASSERT_TRUE(fs::create_directory(dir / "out"));
  const listing before = folder_contents(dir.path());
  const outcome o = run({"-q", dir / "book.txt", dir / "out/"});
  EXPECT_EQ(o.exit_code, 0) << o;
  EXPECT_EQ(o.out, saved);
  const listing expected = with_pieces(before, "out/", book.pieces);
  ASSERT_TRUE(expected.contains("out/9999.txt") && expected.contains("out/10000.txt") &&
              expected.contains("out/99999.txt") && !expected.contains("out/100000.txt"));
  expect_contents(dir.path(), expected);
}

}  // namespace
}  // namespace quorrel::reliability
