// How a source's encoding is decided, and keyword conversion.

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <memory>
#include <random>

#include "core/convert.h"
#include "core/encoding.h"

namespace quorrel {
namespace {

std::string in(const char* name, const std::string& utf8) { return *encode(utf8, *encoding_by_name(name)); }

TEST(Encoding, DecidesFromMarkThenUtf8ThenChineseCodePages) {
  const std::string traditional =
      "　　這是一個關於山與海的故事。他說：「我們明天見。」她點點頭，轉身走進了雨裡。"
      "那一年的秋天特別長，街上的樹葉落了又落，沒有人記得最後一片是什麼時候掉下來的。\r\n";
  std::string big5_text;
  for (int i = 0; i < 20; ++i) big5_text += in("Big5", traditional);
  // Rare characters before the text lower the detector's confidence: to 87
  // after 20 runs of them, to 74 after 60, either side of the threshold.
  const auto after_rare = [&](int runs) {
    std::string rare;
    for (int i = 0; i < runs; ++i) rare += "鬱麤龘籲鑿鸞齉爨驫纛";
    return in("Big5", rare + traditional);
  };
  struct example {
    const char* name;
    std::string head;
    bool valid_utf8;
    std::string expected;
    std::string bom;
  };
  const std::vector<example> examples = {
      {"UTF-8 mark", "\xEF\xBB\xBFx", true, "UTF-8", "\xEF\xBB\xBF"},
      {"UTF-8 mark, invalid after", "\xEF\xBB\xBF\xFF", false, "UTF-8", "\xEF\xBB\xBF"},
      {"UTF-16LE mark", "\xFF\xFEx\0", false, "UTF-16LE", "\xFF\xFE"},
      {"UTF-16BE mark", "\xFE\xFF\0x", false, "UTF-16BE", "\xFE\xFF"},
      {"valid UTF-8", "第一章", true, "UTF-8", ""},
      {"pure ASCII", "chapter", true, "UTF-8", ""},
      {"short GBK", in("GBK", "第一章"), false, "GB18030", ""},
      {"GBK line", in("GBK", "　　第一章 天下大势，分久必合，合久必分。"), false, "GB18030", ""},
      {"Big5 text", big5_text, false, "Big5", ""},
      {"short Big5 stays GB18030", in("Big5", "第一章"), false, "GB18030", ""},
      // 上 is U+4E0A: a 0A byte inside a character, on the line ends' side.
      {"UTF-16LE without a mark, by its line ends", in("UTF-16LE", "第一章 上山\r\n正文\n"), false,
       "UTF-16LE", ""},
      {"UTF-16BE without a mark, by its line ends", in("UTF-16BE", "第一章 上山\r\n正文\n"), false,
       "UTF-16BE", ""},
      {"ASCII in UTF-16LE without a mark", in("UTF-16LE", "Chapter 1\n"), true, "UTF-16LE", ""},
      {"UTF-8 with NUL bytes beside its line ends", std::string("\0\n第\0章\n\0甲\0\n", 16), true, "UTF-8",
       ""},
      {"GBK with a NUL beside a line end", in("GBK", "第一章\r\n") + std::string("\0\n", 2), false, "GB18030",
       ""},
      {"Big5 with some rare characters", after_rare(20), false, "Big5", ""},
      {"Big5 of too little confidence stays GB18030", after_rare(60), false, "GB18030", ""},
  };
  for (const auto& ex : examples) {
    SCOPED_TRACE(ex.name);
    const encoding enc = detect_encoding(ex.head, ex.valid_utf8);
    EXPECT_EQ(enc.name, ex.expected);
    EXPECT_EQ(enc.bom, ex.bom);
  }
}

TEST(Encoding, ValidatesUtf8AcrossBlockBoundaries) {
  struct example {
    std::string bytes;
    bool valid;
  };
  const std::vector<example> examples = {
      {"plain ascii text, long enough for the fast path", true},
      {"第一章 起", true},
      {"\xF0\x9F\x98\x80", true},   // emoji
      {"\xC0\xAF", false},          // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xE7\xAC", false},          // cut off at the end
      {"\xB5\xDA\xD2\xBB", false},  // GBK
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
  };
  for (const auto& ex : examples) {
    for (std::size_t cut = 0; cut <= ex.bytes.size(); ++cut) {
      utf8_validator v;
      v.feed(std::string_view(ex.bytes).substr(0, cut));
      v.feed(std::string_view(ex.bytes).substr(cut));
      EXPECT_EQ(v.finish(), ex.valid) << ex.bytes << " cut at " << cut;
    }
  }
}

// The fast path takes sixteen bytes at a time: long inputs, every kind of
// fault at every place, judged against ICU's own conversion.
TEST(Encoding, ValidatesLongUtf8LikeIcu) {
  auto icu_says_valid = [](const std::string& bytes) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
  };
  auto validator_says_valid = [](const std::string& bytes, std::size_t cut) {
    utf8_validator v;
    v.feed(std::string_view(bytes).substr(0, cut));
    v.feed(std::string_view(bytes).substr(cut));
    return v.finish();
  };
  const std::string text = "　　第一章 起风了。He said: “😀 ok”——é ß Ω 𝄞 終わり\n";
  const std::string text3 = text + text + text;
  const char faults[] = {'\x80', '\xBF', '\xC0', '\xC1', '\xC2', '\xDF', '\xE0', '\xED',
                         '\xEF', '\xF0', '\xF4', '\xF5', '\xFF', 'a',    '\n'};
  for (std::size_t at = 0; at < text3.size(); ++at)
    for (char fault : faults) {
      std::string bytes = text3;
      bytes[at] = fault;
      const bool expected = icu_says_valid(bytes);
      ASSERT_EQ(validator_says_valid(bytes, bytes.size() / 2), expected)
          << "byte " << int(fault & 0xFF) << " at " << at;
    }
  // Random strings of lead, continuation and ASCII bytes, where every
  // boundary between two sixteen-byte steps sees all sorts of neighbours.
  std::mt19937 random(7);
  const unsigned char alphabet[] = {0x41, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC2,
                                    0xDF, 0xE0, 0xE1, 0xED, 0xF0, 0xF3, 0xF4, 0xF5};
  int valid = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string bytes = text.substr(0, random() % 40);
    const std::size_t extra = random() % 48;
    for (std::size_t i = 0; i < extra; ++i) bytes += static_cast<char>(alphabet[random() % 16]);
    bytes += text.substr(0, random() % 40);
    const bool expected = icu_says_valid(bytes);
    valid += expected;
    ASSERT_EQ(validator_says_valid(bytes, random() % (bytes.size() + 1)), expected) << round;
  }
  EXPECT_GT(valid, 100);  // the random strings are not all faulty
}

// At most utf8_most_faults invalid sequences, each outweighed by
// utf8_characters_per_fault characters; the validator stops past the limit.
TEST(Encoding, PassesAsUtf8WithAFewFaultsAmongManyCharacters) {
  constexpr auto most = utf8_most_faults, per = utf8_characters_per_fault;
  EXPECT_TRUE(passes_as_utf8(0, 0));
  EXPECT_TRUE(passes_as_utf8(1, per));
  EXPECT_FALSE(passes_as_utf8(1, per - 1));
  EXPECT_TRUE(passes_as_utf8(most, most * per));
  EXPECT_FALSE(passes_as_utf8(most, most * per - 1));
  EXPECT_FALSE(passes_as_utf8(most + 1, ~std::uint64_t{0}));
  // Exactly as many faults as allowed, and one more.
  for (const std::uint64_t faults : {most, most + 1}) {
    utf8_validator v(most);
    EXPECT_EQ(v.feed(std::string(faults, '\xFF') + "第"), faults <= most);
    EXPECT_EQ(v.finish(), faults <= most);
  }
}

TEST(Encoding, ConvertsKeywordsToTheSourceEncoding) {
  EXPECT_EQ(in("GBK", "第章"), "\xB5\xDA\xD5\xC2");
  EXPECT_EQ(in("GB18030", "第章"), "\xB5\xDA\xD5\xC2");
  EXPECT_EQ(in("Big5", "第章"), "\xB2\xC4\xB3\xB9");
  EXPECT_EQ(in("UTF-16LE", "第"), "\x2C\x7B");
  EXPECT_EQ(in("UTF-16BE", "第"), "\x7B\x2C");
  EXPECT_FALSE(encode("们", *encoding_by_name("Big5")));
  EXPECT_FALSE(encode("\xFF", *encoding_by_name("GBK")));  // not UTF-8 to begin with
}

TEST(Encoding, AcceptsOnlyEncodingsItCanWalk) {
  for (const char* name : {"GBK", "gb18030", "GB2312", "Big5", "UTF-8", "utf-16le", "UTF-16BE",
                           "windows-1252", "ISO-8859-1", "cp936", "GBK,version=1", "windows-950"})
    EXPECT_TRUE(encoding_by_name(name)) << name;
  // Where the converter is there (the Windows build carries fewer), Big5-HKSCS walks as Big5.
  if (const auto hkscs = encoding_by_name("big5-hkscs")) {
    EXPECT_EQ(hkscs->layout, char_layout::big5);
  }
  // Options and aliases never give an encoding a layout it does not have.
  for (const char* name : {"no-such-encoding", "Shift_JIS", "ibm-037", "UTF-7", "UTF-32",
                           "Shift_JIS,locale=gbk", "EUC-KR,version=gb18030", "gb2312-80"})
    EXPECT_FALSE(encoding_by_name(name)) << name;
}

TEST(Encoding, DecodesForDisplay) {
  EXPECT_EQ(decode("\xB5\xDA\xD2\xBB\xD5\xC2", *encoding_by_name("GB18030")), "第一章");
  EXPECT_EQ(decode("\xFF", *encoding_by_name("UTF-8")), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorrel

namespace quorrel {
namespace {

// `bytes` from one encoding to another, fed `step` bytes at a time.
std::string convert(std::string_view bytes, const encoding& from, const encoding& to, std::size_t step,
                    std::uint64_t* replaced = nullptr) {
  std::string out;
  text_converter converter(from, to, [&](std::string_view block) { out.append(block); });
  for (std::size_t at = 0; at < bytes.size(); at += step) converter.write(bytes.substr(at, step));
  converter.end();
  if (replaced) *replaced = converter.replaced();
  return out;
}

TEST(Encoding, ConvertsToEachTargetAndBackWithoutLoss) {
  // Characters every target holds, a long run past the converter's blocks.
  std::string text = "第一章 山與海\r\n　　這是一個關於山與海的故事。\r\n";
  for (int i = 0; i < 3000; ++i) text += "他說：「我們明天見。」" + std::to_string(i) + "\r\n";
  const encoding utf8 = *encoding_by_name("UTF-8");
  for (const char* name : {"UTF-8", "utf-8-bom", "GB18030", "GBK", "Big5", "UTF-16LE"}) {
    SCOPED_TRACE(name);
    const auto target = target_by_name(name);
    ASSERT_TRUE(target);
    for (const std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
      std::uint64_t lost = 0;
      const std::string there = convert(text, utf8, *target, step, &lost);
      EXPECT_EQ(lost, 0u);
      EXPECT_EQ(there, *encode(text, *target));
      EXPECT_EQ(convert(there, *target, utf8, step, &lost), text);
      EXPECT_EQ(lost, 0u);
    }
  }
  EXPECT_EQ(target_by_name("UTF-16LE")->bom, "\xFF\xFE");
  EXPECT_EQ(target_by_name("UTF-8-BOM")->bom, "\xEF\xBB\xBF");
  EXPECT_FALSE(target_by_name("UTF-16BE"));
  EXPECT_FALSE(target_by_name("Shift_JIS"));
}

// `bytes` to UTF-8 by ICU alone, each sequence it cannot read replaced by
// U+FFFD and counted in `lost`.
std::string utf8_by_icu(std::string_view bytes, const char* from, std::uint64_t& lost) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, void (*)(UConverter*)> conv(ucnv_open(from, &status), ucnv_close);
  const UConverterToUCallback replace = [](const void* context, UConverterToUnicodeArgs* args, const char*,
                                           int32_t, UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;  // a reset or a close
    ++*static_cast<std::uint64_t*>(const_cast<void*>(context));
    static constexpr UChar replacement = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
  };
  ucnv_setToUCallBack(conv.get(), replace, &lost, nullptr, nullptr, &status);
  std::u16string utf16(bytes.size() + 1, u'\0');
  const int32_t units = ucnv_toUChars(conv.get(), utf16.data(), static_cast<int32_t>(utf16.size()),
                                      bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  std::string out(static_cast<std::size_t>(units) * 3, '\0');
  int32_t length = 0;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, utf16.data(), units, &status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  out.resize(static_cast<std::size_t>(length));
  return out;
}

TEST(Encoding, ConvertsEveryByteAndPairAsIcuDoes) {
  // Every byte after every lead byte, each pair after a space: valid pairs,
  // unmapped ones, invalid trails, starts of four-byte characters, and,
  // after the line end that comes first, a pair cut by the edge of a block
  // of 64 KiB; then four-byte characters, invalid bytes, and a lead byte cut
  // off by the end.
  std::string bytes = "\r\n";
  for (int lead = 0x80; lead <= 0xFF; ++lead)
    for (int trail = 0; trail <= 0xFF; ++trail)
      bytes += {' ', static_cast<char>(lead), static_cast<char>(trail)};
  bytes += "\x95\x32\x82\x36\x81\x30\x81\x30\x81\x30\xFF\x80\r\n\xFF\xFE\x81";
  const encoding utf8 = *target_by_name("UTF-8");
  for (const auto& [name, lossy] :
       {std::pair{"GBK", true}, {"GB18030", true}, {"Big5", true}, {"windows-1252", false}}) {
    SCOPED_TRACE(name);
    const encoding from = *encoding_by_name(name);
    std::uint64_t expected_lost = 0;
    const std::string expected = utf8_by_icu(bytes, name, expected_lost);
    EXPECT_EQ(expected_lost > 100, lossy);
    for (const std::size_t step : {std::size_t{1}, std::size_t{1} << 20}) {
      std::uint64_t lost = 0;
      EXPECT_EQ(convert(bytes, from, utf8, step, &lost), expected);
      EXPECT_EQ(lost, expected_lost);
    }
    text_converter counter(from, utf8, nullptr);
    counter.write(bytes);
    counter.end();
    EXPECT_EQ(counter.replaced(), expected_lost);
  }
}

TEST(Encoding, CountsAndReplacesWhatCannotBeConverted) {
  struct row {
    const char* name;
    const char* from;
    const char* to;
    std::string bytes;
    std::string replaced;  // the result, in UTF-8
    std::uint64_t count;
    std::int64_t first_line;
  };
  const encoding gbk = *encoding_by_name("GBK");
  const row rows[] = {
      {"nothing lost", "UTF-8", "Big5", "第一章\n山\n", "第一章\n山\n", 0, 0},
      {"a character Big5 lacks, first on its line", "UTF-8", "Big5", "第一章\r\n甲\r\n们乙\n们\n",
       "第一章\r\n甲\r\n?乙\n?\n", 2, 3},
      {"invalid GB18030 becomes U+FFFD, line ends of every kind", "GB18030", "UTF-8",
       *encode("甲\r乙\n丙\r\n", gbk) + "\xFF" + *encode("丁\n", gbk), "甲\r乙\n丙\r\n\uFFFD丁\n", 1, 4},
      {"invalid GB18030 to Big5 counts once, as ?", "GB18030", "Big5", "\x81" + *encode("\n山", gbk) + "\xFF",
       "?\n山?", 2, 1},
      {"a lone surrogate in UTF-16", "UTF-16LE", "UTF-8", std::string("A\0\n\0\0\xD8", 6), "A\n\uFFFD", 1, 2},
      {"a literal U+FFFD that GBK cannot hold", "UTF-8", "GBK", "甲\n\uFFFD\n", "甲\n?\n", 1, 2},
      {"GBK characters Big5 lacks, between ones it holds", "GBK", "Big5", *encode("甲\n们乙\r\n们", gbk),
       "甲\n?乙\r\n?", 2, 2},
      // Characters a reader cannot see, which ICU's own replacement drops.
      {"a zero-width space and a soft hyphen Big5 lacks", "UTF-8", "Big5", "甲\u200B乙\n\u00AD丙\n",
       "甲?乙\n?丙\n", 2, 1},
      {"a byte-order mark and a variation selector GBK lacks, from GB18030", "GB18030", "GBK",
       *encode("\uFEFF甲\n乙\uFE0F\n", *encoding_by_name("GB18030")), "?甲\n乙?\n", 2, 1},
      {"a lead byte at the very end", "GB18030", "UTF-16LE", *encode("甲\n乙", gbk) + "\x81", "甲\n乙\uFFFD",
       1, 2},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const encoding from = *encoding_by_name(r.from), to = *target_by_name(r.to);
    text_converter counter(from, to, nullptr);
    counter.write(r.bytes);
    counter.end();
    EXPECT_EQ(counter.replaced(), r.count);
    EXPECT_EQ(counter.first_line(), r.first_line);
    std::uint64_t replaced = 0;
    const std::string written = convert(r.bytes, from, to, 3, &replaced);
    EXPECT_EQ(replaced, r.count);
    EXPECT_EQ(decode(written, to), r.replaced);
  }
}

TEST(Encoding, ReadsAHeadingStrictlyForAFileName) {
  const encoding gb = *encoding_by_name("GB18030");
  EXPECT_EQ(decode_strict(*encode("第一章", gb), gb), "第一章");
  EXPECT_FALSE(decode_strict("\xB5\xDA\xFF", gb));
  EXPECT_FALSE(decode_strict("\xB5", gb));  // cut off
}

}  // namespace
}  // namespace quorrel
