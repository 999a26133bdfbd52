// The fuzzer's invariants under the ordinary build: the seed corpus, a few
// thousand pseudo-random cases from a fixed seed, and sources built so that
// a line end or a character straddles the core's 1 MiB read block.

#include <gtest/gtest.h>

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "split_check.h"

namespace quorrel::fuzzing {
namespace {

namespace fs = std::filesystem;

class scratch_folder {
 public:
  scratch_folder() {
    std::string pattern = (fs::temp_directory_path() / "quorrel-replay-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~scratch_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string hex(std::string_view bytes) {
  std::string out;
  char two[4];
  for (unsigned char b : bytes.substr(0, 256)) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out + (bytes.size() > 256 ? "..." : "");
}

// A failed case, as the fuzzer would take it: its bytes in hex.
::testing::AssertionResult holds(const split_case& c, const std::string& folder) {
  const std::string problems = check_split(c, folder);
  if (problems.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << problems << "  case bytes: " << hex(encode_case(c));
}

TEST(SplitInvariants, HoldForTheSeedCorpus) {
  const fs::path corpus = fs::path(QUORREL_SOURCE_DIR) / "tests/fuzz/corpus";
  std::vector<fs::path> seeds;
  for (const auto& entry : fs::directory_iterator(corpus)) seeds.push_back(entry.path());
  std::sort(seeds.begin(), seeds.end());
  ASSERT_GE(seeds.size(), 12u);
  scratch_folder folder;
  for (const auto& seed : seeds) {
    SCOPED_TRACE(seed.filename().string());
    std::ifstream in(seed, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(holds(decode_case(bytes), folder.path()));
  }
}

// Pieces of sources in the encodings the splitter walks: characters, blanks,
// line ends as bytes and as UTF-16 units, stray and invalid bytes.
const std::vector<std::string> fragments = {"第一章",
                                            "第",
                                            "章",
                                            "正文",
                                            "甲乙",
                                            "abc",
                                            " ",
                                            "\t",
                                            "　",
                                            "\r",
                                            "\n",
                                            "\r\n",
                                            "\r\r\n",
                                            "\xB5\xDA",
                                            "\xD5\xC2",
                                            "\xD5\x5C",
                                            "\xA1\xA1",
                                            "\x81\x30\x81\x30",
                                            "\x81",
                                            "\xA1\x40",
                                            "\xB2\xC4",
                                            std::string("\r\0", 2),
                                            std::string("\n\0", 2),
                                            std::string("\0\r", 2),
                                            std::string("\0\n", 2),
                                            "\x2C\x7B",
                                            std::string("\x00\x30", 2),
                                            std::string("\x30\x00", 2),
                                            std::string(" \0", 2),
                                            "\x80",
                                            "\xFF",
                                            "\xC0\xAF",
                                            "\xED\xA0\x80",
                                            "\xF4\x90",
                                            std::string(1, '\0'),
                                            "\xE7\xAC",
                                            "\xEF\xBB\xBF",
                                            "\xFF\xFE",
                                            "\xFE\xFF"};
const std::vector<std::string> keyword_pool = {"第", "章", "一",   "\\",   "[",  "*",  " ",  "　",
                                               "",   "a",  "\xFF", "第一", "\r", "们", "們", "😀"};
const std::vector<std::string> chinese_lines = {"第一章 風起", "第二章　云涌", "　　他說：「我們明天見。」",
                                                "序",          "  ",           "　",
                                                "\t",          "正文一行",     "章在第前",
                                                "誠實的人",    "Chapter 1",    "许多\\的"};

split_case random_case(std::mt19937_64& rng) {
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  split_case c;
  c.forced_encoding = encoding_choices()[pick(encoding_choices().size())];
  for (std::size_t k = pick(4); k > 0; --k) c.keywords.push_back(keyword_pool[pick(keyword_pool.size())]);
  switch (pick(3)) {
    case 0:  // fragments
      for (std::size_t n = pick(60); n > 0; --n)
        c.source +=
            pick(8) == 0 ? std::string(1, static_cast<char>(rng())) : fragments[pick(fragments.size())];
      break;
    case 1:  // bytes
      for (std::size_t n = pick(200); n > 0; --n) c.source += static_cast<char>(rng());
      break;
    default: {  // lines of text in an encoding, sometimes marked, sometimes damaged
      const char* names[] = {"UTF-8", "GB18030", "Big5", "UTF-16LE", "UTF-16BE"};
      const char* boms[] = {"\xEF\xBB\xBF", "", "", "\xFF\xFE", "\xFE\xFF"};
      const std::size_t e = pick(5);
      const encoding enc = *encoding_by_name(names[e]);
      if (pick(2) == 0) c.source = boms[e];
      const char* ends[] = {"\r\n", "\n", "\r"};
      for (std::size_t n = pick(12); n > 0; --n) {
        const std::string line = chinese_lines[pick(chinese_lines.size())] + ends[pick(3)];
        c.source += encode(line, enc).value_or("?");
        if (pick(10) == 0) c.source.insert(pick(c.source.size() + 1), 1, static_cast<char>(rng()));
      }
      break;
    }
  }
  return c;
}

TEST(SplitInvariants, HoldForPseudoRandomSources) {
  std::mt19937_64 rng(20261207);  // fixed: every run checks the same cases
  scratch_folder folder;
  int failures = 0;
  for (int i = 0; i < 3000 && failures < 5; ++i) {
    const split_case c = random_case(rng);
    const auto result = holds(c, folder.path());
    EXPECT_TRUE(result) << "case " << i;
    if (!result) ++failures;
  }
}

// The source is read, and checked for UTF-8, in blocks of 1 MiB: a line end
// or a character cut by a block's end must come out as if it were not.
TEST(SplitInvariants, HoldWhereTheReadBlockEnds) {
  constexpr std::size_t block = 1 << 20;
  struct row {
    const char* name;
    const char* encoding_name;  // the text's; the case forces it unless detect is set
    std::string bom;
    bool detect;
    std::string at_boundary;  // UTF-8 (or bytes, for a UTF-8 row): starts `shift` bytes before the block ends
    std::size_t shift;
  };
  const std::vector<row> rows = {
      {"CR LF cut after the CR", "UTF-8", "", true, "\r\n第二章\n", 1},
      {"CR LF just before the end", "UTF-8", "", true, "\r\n第二章\n", 2},
      {"CR LF just after the end", "UTF-8", "", true, "x\r\n第二章\n", 1},
      {"a CR alone, then a heading", "UTF-8", "", true, "\r第二章\n", 1},
      {"CR at the end, LF at the start of the next block, marked", "UTF-8", "\xEF\xBB\xBF", true,
       "\r\n第二章\n", 1},
      {"a three-byte character cut after one byte", "UTF-8", "", true, "第二章\n", 1},
      {"a three-byte character cut after two bytes", "UTF-8", "", true, "第二章\n", 2},
      {"a four-byte character cut after three bytes", "UTF-8", "", true, "😀第二章\n", 3},
      {"a lead byte at the end, no continuation after", "UTF-8", "", true,
       "\xE7"
       "A第二章\n",
       1},
      {"an overlong form across the end", "UTF-8", "", true, "\xE0\x80\x80第二章\n", 2},
      {"a surrogate across the end", "UTF-8", "", true, "\xED\xA0\x80第二章\n", 1},
      {"a GBK heading across the end", "GB18030", "", false, "第二章\r\n", 3},
      {"a GBK CR LF cut", "GB18030", "", false, "\r\n第二章\r\n", 1},
      {"UTF-16LE CR unit at the end, LF unit after", "UTF-16LE", "\xFF\xFE", true, "\r\n第二章\r\n", 2},
      {"UTF-16LE CR LF just before the end", "UTF-16LE", "\xFF\xFE", true, "\r\n第二章\r\n", 4},
      {"UTF-16LE LF unit at the end", "UTF-16LE", "\xFF\xFE", true, "\n第二章\r\n", 2},
      {"UTF-16BE CR unit at the end, LF unit after", "UTF-16BE", "\xFE\xFF", true, "\r\n第二章\r\n", 2},
      {"UTF-16BE without a mark, forced", "UTF-16BE", "", false, "\r\n第二章\r\n", 2},
  };
  scratch_folder folder;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const encoding enc = *encoding_by_name(r.encoding_name);
    const std::string head = r.bom + *encode("第一章\n", enc);
    const std::string filler = *encode("x", enc);
    const std::string tail = enc.layout == char_layout::utf8 ? r.at_boundary : *encode(r.at_boundary, enc);
    const std::size_t room = block - r.shift - head.size();
    ASSERT_EQ(room % filler.size(), 0u) << "UTF-16 units stay whole";
    std::string source = head;
    for (std::size_t n = room / filler.size(); n > 0; --n) source += filler;
    source += tail + *encode("甲\n", enc);
    ASSERT_GE(source.size(), block);
    split_case c;
    if (!r.detect) c.forced_encoding = r.encoding_name;
    c.keywords = {"第", "章"};
    c.source = source;
    EXPECT_TRUE(holds(c, folder.path()));
  }
}

}  // namespace
}  // namespace quorrel::fuzzing
