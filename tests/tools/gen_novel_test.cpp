// Runs the real quorrel-gen-novel and checks the novels it writes, decoding
// them with ICU independently of the generator: the splitter's tests count on
// these properties (exact heading count, decoys that are not headings, clean
// encoding, the chosen line end and byte-order mark).

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>  // u_strToUTF8

#include <chrono>  // unique folder names only
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>  // WEXITSTATUS
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::string_view first = "第";
constexpr std::string_view chapter = "章";

class GenNovel : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("quorrel-gen-novel-" + std::string(info->name()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path path(const std::string& name) const { return dir_ / name; }

  // Exit code of the generator run with `args`; its summary goes to `log`.
  int run(const std::string& args, const fs::path& log) const {
    std::string command = "\"" QUORREL_GEN_NOVEL "\" " + args + " 2>\"" + log.string() + "\"";
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd.exe strips one pair of quotes
    return std::system(command.c_str());
#else
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  }

  // Runs the generator to `name` and returns the bytes it wrote.
  std::string generate(const std::string& name, const std::string& args) {
    const fs::path out = path(name);
    const int code = run(args + " -o \"" + out.string() + "\"", path(name + ".log"));
    EXPECT_EQ(code, 0) << args << "\n" << read(path(name + ".log"));
    return read(out);
  }

  static std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  fs::path dir_;
};

struct converter_closer {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// The text as UTF-8, or nothing if any byte sequence is invalid or unmapped.
std::optional<std::string> decode(const std::string& bytes, const char* encoding) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, converter_closer> conv(ucnv_open(encoding, &status));
  if (U_FAILURE(status)) return std::nullopt;
  ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  std::vector<UChar> units(bytes.size() + 1);
  const auto n = ucnv_toUChars(conv.get(), units.data(), std::int32_t(units.size()), bytes.data(),
                               std::int32_t(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string utf8(std::size_t(n) * 3 + 1, '\0');
  std::int32_t length = 0;
  u_strToUTF8(utf8.data(), std::int32_t(utf8.size()), &length, units.data(), n, &status);
  if (U_FAILURE(status)) return std::nullopt;
  utf8.resize(std::size_t(length));
  return utf8;
}

std::vector<std::string_view> split_lines(std::string_view text, std::string_view eol) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find(eol);
    if (end == text.npos) {
      lines.push_back(text);  // unterminated last line
      break;
    }
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + eol.size());
  }
  return lines;
}

bool is_blank(std::string_view line) {
  constexpr std::string_view ideographic_space = "\u3000";
  while (!line.empty()) {
    if (line.front() == ' ' || line.front() == '\t') line.remove_prefix(1);
    else if (line.starts_with(ideographic_space)) line.remove_prefix(ideographic_space.size());
    else return false;
  }
  return true;
}

std::size_t occurrences(std::string_view line, std::string_view word) {
  std::size_t count = 0;
  for (auto at = line.find(word); at != line.npos; at = line.find(word, at + word.size())) ++count;
  return count;
}

struct census {
  std::size_t headings = 0, reversed = 0, decoys = 0, blank = 0, blank_with_spaces = 0;
  std::size_t lines_before_first_heading = 0;
  std::size_t odd_decoys = 0;  // a keyword more than once
};

census count(const std::vector<std::string_view>& lines) {
  census c;
  for (auto line : lines) {
    const auto f = line.find(first), z = line.find(chapter);
    if (f != line.npos && z != line.npos) {
      ++c.headings;
      if (z < f) ++c.reversed;
    } else if (f != line.npos || z != line.npos) {
      ++c.decoys;
      if (occurrences(line, first) + occurrences(line, chapter) != 1) ++c.odd_decoys;
    } else if (is_blank(line)) {
      ++c.blank;
      if (!line.empty()) ++c.blank_with_spaces;
    }
    if (c.headings == 0) ++c.lines_before_first_heading;
  }
  return c;
}

TEST_F(GenNovel, WritesTheRequestedHeadingsAndDecoysInEveryEncoding) {
  struct row {
    const char* encoding;
    const char* eol_name;
    std::string_view eol;  // as decoded
    bool bom;
    std::string_view bom_bytes;
    unsigned chapters, decoys, reversed;
    bool blank_lines, preamble;
  };
  const row rows[] = {
      {"GBK", "crlf", "\r\n", false, "", 120, 1, 0, false, false},
      {"GB18030", "lf", "\n", false, "", 77, 2, 30, true, true},
      {"Big5", "cr", "\r", false, "", 50, 3, 50, true, false},
      {"UTF-8", "crlf", "\r\n", true, "\xEF\xBB\xBF", 200, 0, 10, false, true},
      {"UTF-8", "lf", "\n", false, "", 1, 5, 100, true, true},
      {"UTF-16LE", "crlf", "\r\n", true, "\xFF\xFE", 64, 1, 25, true, true},
      {"UTF-16BE", "lf", "\n", true, "\xFE\xFF", 33, 2, 0, true, false},
  };
  int index = 0;
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.encoding) + " " + r.eol_name);
    std::string args = std::string("--size 300K --encoding ") + r.encoding + " --eol " + r.eol_name +
                       " --chapters " + std::to_string(r.chapters) + " --decoys " + std::to_string(r.decoys) +
                       " --reversed " + std::to_string(r.reversed) + " --seed " + std::to_string(index + 11);
    if (r.bom) args += " --bom";
    if (r.blank_lines) args += " --blank-lines";
    if (r.preamble) args += " --preamble";
    std::string bytes = generate("novel" + std::to_string(index++), args);
    ASSERT_FALSE(bytes.empty());

    ASSERT_TRUE(std::string_view(bytes).starts_with(r.bom_bytes));
    if (!r.bom) {
      EXPECT_FALSE(std::string_view(bytes).starts_with("\xEF\xBB\xBF"));
      EXPECT_FALSE(std::string_view(bytes).starts_with("\xFF\xFE"));
      EXPECT_FALSE(std::string_view(bytes).starts_with("\xFE\xFF"));
    }
    bytes.erase(0, r.bom_bytes.size());

    const auto text = decode(bytes, r.encoding);
    ASSERT_TRUE(text) << "does not decode cleanly";
    const std::string_view eol = r.eol;
    EXPECT_TRUE(text->ends_with(eol));
    // No stray line-end character of another kind.
    const std::string other = eol == "\r\n" ? "" : eol == "\n" ? "\r" : "\n";
    if (!other.empty()) {
      EXPECT_EQ(text->find(other), std::string::npos);
    }

    const auto lines = split_lines(*text, eol);
    if (eol == "\r\n") {
      for (auto line : lines) ASSERT_EQ(line.find_first_of("\r\n"), line.npos);
    }
    const census c = count(lines);
    EXPECT_EQ(c.headings, r.chapters);
    EXPECT_EQ(c.reversed, r.chapters * r.reversed / 100);
    EXPECT_EQ(c.decoys, std::size_t(r.chapters) * r.decoys);
    EXPECT_EQ(c.odd_decoys, 0u);
    if (r.blank_lines) {
      EXPECT_GT(c.blank, 0u);
      EXPECT_GT(c.blank_with_spaces, 0u);
    } else {
      EXPECT_EQ(c.blank, 0u);
    }
    if (r.preamble) EXPECT_GT(c.lines_before_first_heading, 2u);
    else EXPECT_EQ(c.lines_before_first_heading, 0u);

    const std::string summary = read(path("novel" + std::to_string(index - 1) + ".log"));
    EXPECT_NE(summary.find(std::string(" ").append(std::to_string(r.chapters)) + " headings"),
              std::string::npos)
        << summary;
    EXPECT_NE(
        summary.find(std::string(" ").append(std::to_string(bytes.size() + r.bom_bytes.size())) + " bytes"),
        std::string::npos)
        << summary;
  }
}

TEST_F(GenNovel, IsByteIdenticalForTheSameOptions) {
  const std::string args = "--size 500K --chapters 40 --blank-lines --preamble --reversed 20";
  const std::string a = generate("a.txt", args + " --seed 5");
  const std::string b = generate("b.txt", args + " --seed 5");
  const std::string c = generate("c.txt", args + " --seed 6");
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == c);
}

TEST_F(GenNovel, WritesTheSameTextInGbkGb18030AndBig5) {
  const std::string args = "--size 400K --chapters 30 --decoys 2 --blank-lines --preamble";
  const std::string gbk = generate("gbk.txt", args + " --encoding GBK");
  const std::string gb18030 = generate("gb18030.txt", args + " --encoding GB18030");
  const std::string big5 = generate("big5.txt", args + " --encoding Big5");
  ASSERT_FALSE(gbk.empty());
  EXPECT_TRUE(gbk == gb18030);
  const auto from_gbk = decode(gbk, "GBK");
  const auto from_big5 = decode(big5, "Big5");
  ASSERT_TRUE(from_gbk && from_big5);
  EXPECT_TRUE(*from_gbk == *from_big5);
}

TEST_F(GenNovel, StaysCloseToTheRequestedSize) {
  struct row {
    const char* size;
    std::size_t bytes;
    const char* encoding;
    unsigned chapters;
  };
  const row rows[] = {
      {"64K", 64 * 1024, "GBK", 10},
      {"1M", 1024 * 1024, "UTF-8", 300},
      {"2m", 2 * 1024 * 1024, "UTF-16LE", 1000},
      {"777000", 777000, "Big5", 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.size);
    const std::string bytes =
        generate(std::string("size-") + r.size, std::string("--size ") + r.size + " --encoding " +
                                                    r.encoding + " --chapters " + std::to_string(r.chapters));
    EXPECT_GE(bytes.size(), r.bytes);
    EXPECT_LE(bytes.size(), r.bytes + r.bytes / 50);
  }
}

TEST_F(GenNovel, RefusesBadOptions) {
  const char* const bad[] = {
      "--size 12X",           "--size",           "--encoding Latin1", "--bom --encoding GBK",
      "--eol crcr",           "--reversed 101",   "--chapters -1",     "--decoys many",
      "--chapters 100000000", "--no-such-option", "--bom=yes",
  };
  for (const char* args : bad) {
    EXPECT_EQ(run(std::string(args) + " -o \"" + path("bad.txt").string() + "\"", path("bad.log")), 2)
        << args;
  }
  EXPECT_EQ(run("--help", path("help.log")), 0);
}

}  // namespace
