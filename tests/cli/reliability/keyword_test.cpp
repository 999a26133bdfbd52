// Keywords at the edges: a thousand characters long, five hundred of them,
// ones the source's encoding cannot write, and characters that mean
// something to a shell, to printf or to a pattern matcher. Each is matched
// exactly as written, byte for byte in the source's encoding.

#include <gtest/gtest.h>

#include "reliability.h"

namespace quorrel::reliability {
namespace {

// The text `utf8` in the encoding `name` (a mark first when given).
std::string in(const std::string& name, const std::string& utf8, const std::string& bom = "") {
  return bom + in_encoding(name.c_str(), utf8);
}

struct split_row {
  const char* name;
  std::vector<std::string> args;  // options, then source and destination are added
  std::string source;
  std::vector<std::string> pieces;
};

void expect_split(const split_row& r) {
  EXPECT_EQ(cli_testing::expect_split(r.args, r.source, r.pieces).err, "");
}

TEST(Keywords, MatchesAKeywordOfAThousandCharacters) {
  // Traditional characters, so that Big5 can write them too.
  const std::string cycle = "天地玄黃宇宙洪荒日月盈昃辰宿列張寒來暑往秋收冬藏";
  std::string keyword = "第";
  for (std::size_t i = 0; keyword.size() < 3 * 999; i = (i + 3) % cycle.size()) keyword += cycle.substr(i, 3);
  keyword += "章";
  ASSERT_EQ(keyword.size(), 3000u);  // 1,000 characters
  const std::string short_by_one = keyword.substr(0, keyword.size() - 3);
  const std::string text = "序\n開頭" + keyword + "結尾\n正文\n" + short_by_one + "\n" + keyword + "\n";
  auto pieces = [&](const std::string& enc, const std::string& bom) {
    return std::vector<std::string>{
        in(enc, "\r\n序\r\n", bom),
        in(enc, "開頭" + keyword + "結尾\r\n正文\r\n" + short_by_one + "\r\n", bom),
        in(enc, keyword + "\r\n", bom)};
  };
  const std::vector<split_row> rows = {
      {"UTF-8", {"-k", keyword}, text, pieces("UTF-8", "")},
      {"GBK, detected", {"-k", keyword}, in("GBK", text), pieces("GBK", "")},
      {"Big5, given", {"-e", "Big5", "-k", keyword}, in("Big5", text), pieces("Big5", "")},
      {"UTF-16LE with its mark",
       {"-k", keyword},
       in("UTF-16LE", text, "\xFF\xFE"),
       pieces("UTF-16LE", "\xFF\xFE")},
      {"UTF-16BE with its mark",
       {"--keyword=" + keyword},
       in("UTF-16BE", text, "\xFE\xFF"),
       pieces("UTF-16BE", "\xFE\xFF")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_split(r);
  }
}

TEST(Keywords, RequiresEveryOneOfFiveHundredKeywords) {
  // 500 different ideographs, U+4E00 onwards in steps of 7: all in GBK too.
  std::vector<std::string> keywords;
  for (char32_t c = 0x4E00; keywords.size() < 500; c += 7)
    keywords.push_back({static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                        static_cast<char>(0x80 | (c & 0x3F))});
  std::string all_reversed, all_but_one, all_spread;
  for (std::size_t i = 0; i < keywords.size(); ++i) {
    all_reversed += keywords[keywords.size() - 1 - i];
    if (i != 250) all_but_one += keywords[i];
    all_spread += keywords[i] + "，";
  }
  const std::string text = "序\n" + all_reversed + "\n正文\n" + all_but_one + "\n" + all_spread + "\n";
  std::vector<std::string> options;
  for (const auto& k : keywords) {
    options.push_back("-k");
    options.push_back(k);
  }
  auto pieces = [&](const std::string& enc) {
    return std::vector<std::string>{in(enc, "\r\n序\r\n"),
                                    in(enc, all_reversed + "\r\n正文\r\n" + all_but_one + "\r\n"),
                                    in(enc, all_spread + "\r\n")};
  };
  const std::vector<split_row> rows = {
      {"UTF-8", options, text, pieces("UTF-8")},
      {"GBK, detected", options, in("GBK", text), pieces("GBK")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_split(r);
  }
}

TEST(Keywords, AKeywordTheEncodingCannotWriteMatchesNoLine) {
  // Lines that hold what a lossy conversion would put for the keyword: "?",
  // SUB (0x1A), and the keyword's neighbours.
  const std::string lines = "第一章 我們\n?\n\x1A\n第二章 們\n";
  const std::string whole = "\r\n第一章 我們\r\n?\r\n\x1A\r\n第二章 們\r\n";
  const std::vector<split_row> rows = {
      {"们 has no Big5 form", {"-e", "Big5", "-k", "们"}, in("Big5", lines), {in("Big5", whole)}},
      {"with 第, which Big5 has",
       {"-e", "Big5", "-k", "第", "-k", "们"},
       in("Big5", lines),
       {in("Big5", whole)}},
      {"an emoji has no GBK form", {"-e", "GBK", "-k", "😀"}, in("GBK", lines), {in("GBK", whole)}},
      {"no Chinese in windows-1252",
       {"-e", "windows-1252", "-k", "第"},
       "?\n\x1A\nx\n",
       {"\r\n?\r\n\x1A\r\nx\r\n"}},
      {"a keyword that is not UTF-8",
       {"-e", "UTF-8", "-k", "\xFF"},
       "a\xFF\n\xFF\n",
       {"\r\na\xFF\r\n\xFF\r\n"}},
      // GB18030 writes every character: the emoji is found.
      {"GB18030 writes an emoji",
       {"-e", "GB18030", "-k", "😀"},
       in("GB18030", "序\n😀 一\n?\n"),
       {in("GB18030", "\r\n序\r\n"), in("GB18030", "😀 一\r\n?\r\n")}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    expect_split(r);
  }
}

TEST(Keywords, MatchesShellPrintfAndPatternCharactersLiterally) {
  struct row {
    std::string keyword;
    std::string decoy;  // what the keyword would match, were it a pattern or expanded
  };
  const std::vector<row> rows = {
      {"\\", "反斜杠"},   {"%", "百分号"},   {"%s%n%d", "%s"},     {"*", "任意"},   {"?", "x"},
      {"[", "方括号"},    {"]", "右括号"},   {"[第]", "第"},       {"[!a]", "b"},   {"*.txt", "a.txt"},
      {"a.*b", "axxb"},   {".", "x"},        {"^", "开头"},        {"$", "结尾"},   {"$HOME", "/root"},
      {"~", "/root"},     {"`id`", "uid=0"}, {"$(echo 第)", "第"}, {"'", "单引号"}, {"\"", "双引号"},
      {";", "分号"},      {"|", "竖线"},     {"&", "与"},          {"{a,b}", "a"},  {"(", "括号"},
      {")", "括号"},      {"#", "井号"},     {"!", "叹号"},        {"<", "小于"},   {">", "大于"},
      {"\\n", "n"},       {"+", "加号"},     {"-", "减号"},        {"--", "减号"},  {"-k", "k"},
      {"--list", "list"}, {" ", "无空格"},   {"\t", "无制表符"},   {"\\x41", "A"},  {"%1$s", "s"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("keyword [" + r.keyword + "]");
    ASSERT_EQ(r.decoy.find(r.keyword), std::string::npos);
    const std::string source = "序\n含" + r.keyword + "行\n" + r.decoy + "\n";
    const std::vector<std::string> pieces = {"\r\n序\r\n", "含" + r.keyword + "行\r\n" + r.decoy + "\r\n"};
    // Attached to its long option, and as the next argument after -k.
    expect_split({"long option", {"--keyword=" + r.keyword}, source, pieces});
    expect_split({"after -k", {"-k", r.keyword}, source, pieces});
  }
}

}  // namespace
}  // namespace quorrel::reliability
