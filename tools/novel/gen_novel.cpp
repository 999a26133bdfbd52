// quorrel-gen-novel: writes a large synthetic Chinese novel for tests and
// benchmarks of the splitter.
//
// The text is built from a fixed vocabulary of words whose characters exist in
// every supported encoding (GBK, GB18030, UTF-8, Big5, UTF-16), so the same
// options give the same text whatever the encoding, and the same options give
// byte-identical output on every run and platform: the only source of chance
// is a seeded splitmix64, and every choice is made with integer arithmetic.
//
// Every word is converted once at start-up with ICU; the novel itself is then
// assembled from those encoded pieces in a large buffer, so the encoding costs
// nothing per line.
//
// What the output guarantees (the tests of the splitter rely on it):
// - exactly --chapters heading lines, each holding both "第" and "章";
// - no other line holds both; body, preamble and blank lines hold neither,
//   and each decoy line holds exactly one of them, once;
// - blank lines (with --blank-lines) hold only spaces, tabs and U+3000.

#include <unicode/ucnv.h>
#include <unicode/ustring.h>  // u_strFromUTF8

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>  // _O_BINARY
#include <io.h>     // _setmode
#endif

namespace {

constexpr std::string_view program_name = "quorrel-gen-novel";

constexpr std::string_view usage_text =
    "Usage: quorrel-gen-novel [OPTION]...\n"
    "Write a synthetic Chinese novel with numbered chapter headings.\n"
    "\n"
    "  --size BYTES        approximate size of the output (suffix K, M or G:\n"
    "                      powers of 1024; default 1M)\n"
    "  --chapters N        number of heading lines, exactly (default 100;\n"
    "                      0 gives text without any heading)\n"
    "  --encoding NAME     GBK, GB18030, UTF-8, Big5, UTF-16LE or UTF-16BE\n"
    "                      (default GBK)\n"
    "  --bom               start with a byte-order mark (UTF-8 and UTF-16 only)\n"
    "  --eol crlf|lf|cr    line end (default crlf)\n"
    "  --preamble          title, author and foreword before the first heading\n"
    "  --blank-lines       blank lines between paragraphs, some holding only\n"
    "                      spaces, tabs or U+3000\n"
    "  --decoys N          lines per chapter holding only one of the keywords\n"
    "                      \"第\" and \"章\" (default 1)\n"
    "  --reversed PERCENT  share of headings with \"章\" before \"第\" (default 0)\n"
    "  --seed S            seed of the text (default 1)\n"
    "  -o, --output FILE   write to FILE instead of standard output\n"
    "  -h, --help          show this help and exit\n"
    "\n"
    "A summary (headings, decoys, bytes) goes to standard error.\n";

// ---------------------------------------------------------------------------
// Options

enum class line_end { crlf, lf, cr };

struct options {
  std::uint64_t size = 1024 * 1024;
  std::uint32_t chapters = 100;
  std::string encoding = "GBK";
  bool bom = false;
  line_end eol = line_end::crlf;
  bool preamble = false;
  bool blank_lines = false;
  std::uint32_t decoys = 1;
  std::uint32_t reversed_percent = 0;
  std::uint64_t seed = 1;
  std::string output;  // empty: standard output
};

// The encodings offered, spelled as ICU's converter names.
constexpr std::array<std::string_view, 6> encodings = {"GBK",  "GB18030",  "UTF-8",
                                                       "Big5", "UTF-16LE", "UTF-16BE"};

// Chinese numerals below are written with 万 as the largest unit.
constexpr std::uint32_t max_chapters = 99'999'999;

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t limit) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = std::uint64_t(c - '0');
    if (value > (limit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k': unit = 1ULL << 10; break;
      case 'M':
      case 'm': unit = 1ULL << 20; break;
      case 'G':
      case 'g': unit = 1ULL << 30; break;
      default: break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  // Keeps the arithmetic on byte counts well inside 64 bits.
  constexpr std::uint64_t limit = 1ULL << 50;
  const auto value = parse_unsigned(text, limit / unit);
  if (!value) return std::nullopt;
  return *value * unit;
}

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program_name.data(),
               message.c_str(), program_name.data());
  std::exit(2);
}

options parse_options(int argc, char** argv) {
  options opt;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view name = arg;
    std::optional<std::string_view> inline_value;
    if (arg.starts_with("--")) {
      if (const auto eq = arg.find('='); eq != std::string_view::npos) {
        name = arg.substr(0, eq);
        inline_value = arg.substr(eq + 1);
      }
    } else if (arg.starts_with("-o") && arg.size() > 2) {
      name = "-o";
      inline_value = arg.substr(2);
    }
    auto value = [&]() -> std::string_view {
      if (inline_value) return *inline_value;
      if (i + 1 >= argc) usage_error("option '" + std::string(name) + "' needs a value");
      return argv[++i];
    };
    auto flag = [&] {
      if (inline_value) usage_error("option '" + std::string(name) + "' takes no value");
    };
    auto number = [&](std::uint64_t limit) {
      const std::string_view text = value();
      const auto n = parse_unsigned(text, limit);
      if (!n) {
        usage_error("invalid value '" + std::string(text) + "' for '" + std::string(name) + "' (0 to " +
                    std::to_string(limit) + ")");
      }
      return *n;
    };

    if (name == "-h" || name == "--help") {
      flag();
      std::fputs(usage_text.data(), stdout);
      std::exit(0);
    } else if (name == "--size") {
      const std::string_view text = value();
      const auto size = parse_size(text);
      if (!size) usage_error("invalid size '" + std::string(text) + "'");
      opt.size = *size;
    } else if (name == "--chapters") {
      opt.chapters = std::uint32_t(number(max_chapters));
    } else if (name == "--encoding") {
      const std::string_view text = value();
      const auto it = std::find_if(encodings.begin(), encodings.end(),
                                   [&](std::string_view e) { return equal_ignoring_case(e, text); });
      if (it == encodings.end()) usage_error("unknown encoding '" + std::string(text) + "'");
      opt.encoding = std::string(*it);
    } else if (name == "--bom") {
      flag();
      opt.bom = true;
    } else if (name == "--eol") {
      const std::string_view text = value();
      if (text == "crlf") opt.eol = line_end::crlf;
      else if (text == "lf") opt.eol = line_end::lf;
      else if (text == "cr") opt.eol = line_end::cr;
      else usage_error("invalid line end '" + std::string(text) + "' (crlf, lf or cr)");
    } else if (name == "--preamble") {
      flag();
      opt.preamble = true;
    } else if (name == "--blank-lines") {
      flag();
      opt.blank_lines = true;
    } else if (name == "--decoys") {
      opt.decoys = std::uint32_t(number(1000));
    } else if (name == "--reversed") {
      opt.reversed_percent = std::uint32_t(number(100));
    } else if (name == "--seed") {
      opt.seed = number(UINT64_MAX);
    } else if (name == "-o" || name == "--output") {
      opt.output = std::string(value());
      if (opt.output.empty()) usage_error("empty output file name");
    } else {
      usage_error("unknown option '" + std::string(arg) + "'");
    }
  }
  if (opt.bom && !opt.encoding.starts_with("UTF")) {
    usage_error("--bom needs UTF-8, UTF-16LE or UTF-16BE");
  }
  return opt;
}

// ---------------------------------------------------------------------------
// Chance

// splitmix64 (Steele, Lea and Flood), chosen because its output is fixed by
// the algorithm alone; the standard distributions differ between libraries.
class splitmix64 {
 public:
  explicit splitmix64(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  // 0 <= result < n, for n > 0. The modulo bias is far below anything a
  // reader of the text could notice.
  std::uint64_t below(std::uint64_t n) { return next() % n; }

  bool percent(std::uint64_t p) { return below(100) < p; }

  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  std::uint64_t state_;
};

// ---------------------------------------------------------------------------
// Encoding

struct converter_closer {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using converter_ptr = std::unique_ptr<UConverter, converter_closer>;

// Converts UTF-8 text to one encoding, refusing anything that would need a
// substitute or a fallback mapping: a word is usable only if it comes back
// unchanged.
class encoder {
 public:
  explicit encoder(std::string_view name) : name_(name) {
    UErrorCode status = U_ZERO_ERROR;
    converter_.reset(ucnv_open(name_.c_str(), &status));
    if (U_FAILURE(status)) {
      std::fprintf(stderr, "%s: ICU has no converter for %s: %s\n", program_name.data(), name_.c_str(),
                   u_errorName(status));
      std::exit(1);
    }
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter_.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setToUCallBack(converter_.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  }

  const std::string& name() const { return name_; }

  std::optional<std::string> encode(std::string_view utf8) {
    if (!to_utf16(utf8)) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(converter_.get());
    const auto length =
        ucnv_fromUChars(converter_.get(), nullptr, 0, units_.data(), std::int32_t(units_.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
    std::string bytes(std::size_t(length), '\0');
    status = U_ZERO_ERROR;
    ucnv_fromUChars(converter_.get(), bytes.data(), length, units_.data(), std::int32_t(units_.size()),
                    &status);
    if (U_FAILURE(status)) return std::nullopt;

    // Round trip: catches one-way (fallback) mappings.
    std::vector<UChar> back(units_.size() + 4);
    status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter_.get());
    const auto back_length = ucnv_toUChars(converter_.get(), back.data(), std::int32_t(back.size()),
                                           bytes.data(), length, &status);
    if (U_FAILURE(status) || std::size_t(back_length) != units_.size() ||
        !std::equal(units_.begin(), units_.end(), back.begin())) {
      return std::nullopt;
    }
    return bytes;
  }

 private:
  bool to_utf16(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    std::int32_t length = 0;
    units_.resize(utf8.size() + 1);
    u_strFromUTF8(units_.data(), std::int32_t(units_.size()), &length, utf8.data(), std::int32_t(utf8.size()),
                  &status);
    if (U_FAILURE(status)) return false;
    units_.resize(std::size_t(length));
    return true;
  }

  std::string name_;
  converter_ptr converter_;
  std::vector<UChar> units_;
};

// ---------------------------------------------------------------------------
// Vocabulary (UTF-8 source text). Every word is made of characters written
// the same way in simplified and traditional Chinese, so that it exists in
// Big5 as well as in GBK; start-up checks this and drops any word that does
// not convert in all encodings, so the word lists, and with them the text,
// never depend on the chosen encoding.

constexpr std::string_view keyword_first = "第";
constexpr std::string_view keyword_chapter = "章";

const std::initializer_list<std::string_view> persons_utf8 = {
    "他",     "她",   "老人", "少年",   "先生",   "姑娘", "小二",   "掌柜", "和尚",   "道士",
    "老王",   "小李", "阿明", "阿花",   "孩子",   "客人", "主人",   "大哥", "二姐",   "小妹",
    "少女",   "大夫", "木匠", "商人",   "路人",   "老者", "那人",   "大家", "妹妹",   "哥哥",
    "老板",   "船家", "女子", "男子",   "小童",   "小石", "阿青",   "阿竹", "老木匠", "小和尚",
    "老道士", "女孩", "男孩", "公子",   "小姐",   "夫人", "老夫人", "弟弟", "姐姐",   "朋友",
    "友人",   "客官", "店主", "那女子", "那少年", "三人"};

const std::initializer_list<std::string_view> times_utf8 = {
    "清晨",   "傍晚",     "午后", "深夜", "不久", "半夜", "次日", "三更", "五更", "雨后", "入秋后",
    "冬至",   "元宵",     "立夏", "今天", "明天", "昨夜", "早上", "晚上", "中午", "一日", "有一天",
    "那一年", "今日",     "那日", "某日", "一早", "月初", "月底", "正月", "三月", "八月", "十月",
    "初春",   "初夏",     "深秋", "冬日", "春日", "夏日", "秋日", "午夜", "二更", "子夜", "片刻之后",
    "三天后", "多年以后", "此后", "如今", "次年", "每天", "每年"};

const std::initializer_list<std::string_view> places_utf8 = {
    "山上", "山下", "江上",   "湖畔",   "城中",   "城外",   "村口",   "窗下",   "院中",   "屋里",  "路旁",
    "竹林", "渡口", "田里",   "巷尾",   "船上",   "山中",   "小路上", "院子里", "半山",   "江心",  "湖上",
    "湖心", "水中", "田中",   "田野上", "村中",   "村外",   "城里",   "城南",   "城北",   "城西",  "屋外",
    "屋后", "屋中", "院外",   "窗前",   "月下",   "雪中",   "雨中",   "花下",   "竹下",   "石上",  "井旁",
    "路口", "巷口", "小巷里", "船尾",   "山路上", "古道上", "山谷中", "林中",   "草地上", "河岸上"};

// Verbs that take one of the things below as object.
const std::initializer_list<std::string_view> verbs_utf8 = {
    "想起", "拿起", "放下", "找到",     "收起", "放好", "拿出", "取出", "收好", "找出",
    "想到", "留下", "提起", "看了看",   "想念", "取下", "收下", "放回", "找回", "念起",
    "拿回", "送回", "拿走", "看了一眼", "看中", "收到", "得到", "交出"};

// Verbs that stand alone.
const std::initializer_list<std::string_view> moves_utf8 = {"回家", "回去", "上前",   "走出",  "走去", "走回",
                                                            "坐下", "站起", "起身",   "伸手",  "上船", "下船",
                                                            "上路", "停下", "想了想", "笑了笑"};

const std::initializer_list<std::string_view> things_utf8 = {
    "一封信",   "一碗面", "一把刀", "一朵花",   "一口井",   "月亮",     "星星",     "江水",     "小船",
    "雪花",     "秋月",   "白云",   "青山",     "往事",     "故人",     "消息",     "心事",     "小路",
    "古井",     "布衣",   "草帽",   "米酒",     "清茶",     "明月",     "流水",     "花草",     "山石",
    "一件衣服", "一口茶", "一杯酒", "一杯茶",   "一碗米",   "一把米",   "一朵梅花", "一枝花",   "一片云",
    "一些米",   "一些花", "一些字", "一首曲子", "一只小船", "一件布衣", "一根竹子", "一口古井", "山花",
    "野花",     "桃花",   "梅花",   "杏花",     "竹子",     "松子",     "石子",     "白石",     "青石",
    "清水",     "白雪",   "月光",   "星光",     "火光",     "茶水",     "白米",     "花生",     "小米",
    "布包",     "木盒",   "木箱",   "木桌",     "竹椅",     "石凳",     "小屋",     "茅屋",     "草屋",
    "院子",     "往日",   "心意",   "心思",     "名字",     "故事",     "日子"};

// What can be said of a person.
const std::initializer_list<std::string_view> moods_utf8 = {
    "沉默良久", "若有所思", "不知所措", "有些不安", "并不在意", "心里明白", "不由一笑", "十分安心",
    "有些害怕", "有些奇怪", "并不知道", "心里一沉", "心中一喜", "心中一惊", "心中明白", "若有所失",
    "不禁一笑", "笑了笑",   "想了很久", "站了很久", "坐了很久", "想不起",   "看不清"};

// What can be said of a thing.
const std::initializer_list<std::string_view> states_utf8 = {
    "十分明亮", "有些冷",   "格外清楚", "慢慢暗了", "忽然亮了", "十分好看", "格外好看", "一如往常",
    "不知去向", "早已不在", "依然如故", "有些模糊", "很好",     "很美",     "很亮",     "很暗",
    "很大",     "很小",     "很近",     "很深",     "很高",     "很好看",   "不太好"};

const std::initializer_list<std::string_view> scenes_utf8 = {
    "天色大亮", "天色已明", "月色如水", "日光正好", "山色青青", "水色清清", "雪停了",
    "雨下大了", "天黑了",   "天亮了",   "天色已晚", "雨停了",   "月色很好", "雪下大了"};

const std::initializer_list<std::string_view> says_utf8 = {"道", "笑道", "答道", "喊道"};

const std::initializer_list<std::string_view> titles_utf8 = {
    "夜雨", "初雪", "重逢",   "山月",   "江湖",   "新生",   "落花", "流水", "听雨", "离家", "月下",
    "雪夜", "春水", "秋山",   "古道",   "南行",   "北望",   "白衣", "天明", "上山", "下山", "入城",
    "新茶", "酒醒", "山中",   "江上行", "月如水", "雪中行", "春日", "秋夜", "夜行", "山居", "花落",
    "雨停", "雪晴", "青衣",   "古井",   "竹林",   "石上",   "天涯", "回首", "知音", "同行", "相知",
    "出山", "入山", "下江南", "上京",   "大雪",   "小雪",   "初晴", "江南", "山河", "明日", "昨日",
    "新友", "主客", "心事",   "往事",   "朝夕",   "日月",   "星河", "明月", "流年", "安好"};

// Decoys: the unit after 第 in "第二天", and words holding 章.
const std::initializer_list<std::string_view> ordinal_units_utf8 = {"天", "次", "回", "年", "夜", "日"};
const std::initializer_list<std::string_view> chapter_words_utf8 = {"那篇文章", "一方印章", "文章", "印章",
                                                                    "章法"};

constexpr std::array<std::string_view, 10> chinese_digits_utf8 = {"零", "一", "二", "三", "四",
                                                                  "五", "六", "七", "八", "九"};

// Lines of only these count as blank; each one is a whole blank line.
const std::initializer_list<std::string_view> blank_fillers_utf8 = {" ",    "  ",    "\t",    "　",
                                                                    "　　", " 　\t", "\t　 ", "    "};

// ---------------------------------------------------------------------------
// Encoded vocabulary

using word_list = std::vector<std::string>;

[[noreturn]] void fatal(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", program_name.data(), message.c_str());
  std::exit(1);
}

struct vocabulary {
  word_list persons, times, places, verbs, moves, things, moods, states, scenes, says, titles;
  word_list ordinal_units, chapter_words, blank_fillers;
  std::array<std::string, 10> chinese_digits, ascii_digits;
  std::string ten, hundred, thousand, ten_thousand;
  std::string first, chapter, reversed_lead;  // 第, 章, 章回
  std::string space, ideographic_space, eol, bom;
  std::string comma, period, exclamation, question, colon, open_quote, close_quote, ellipsis;
  std::string at, of, ever, and_, is_that;  // 在, 的, 可曾, 与, 那是
  std::string open_title, close_title, author, foreword;
};

class vocabulary_builder {
 public:
  explicit vocabulary_builder(const options& opt) : target_(opt.encoding) {
    for (auto name : encodings) checks_.emplace_back(name);
  }

  // A word that every encoding can carry and that holds no keyword, encoded
  // for the output; words that fail are dropped for every encoding alike.
  word_list list(std::initializer_list<std::string_view> words, const char* what) {
    word_list out;
    for (auto w : words) {
      if (w.find(keyword_first) != w.npos || w.find(keyword_chapter) != w.npos) continue;
      if (auto bytes = portable(w)) out.push_back(std::move(*bytes));
    }
    if (out.empty()) fatal(std::string("no ") + what + " can be written in every encoding");
    return out;
  }

  // Fixed text the novel cannot do without; keyword checks are the caller's.
  std::string fixed(std::string_view text) {
    auto bytes = portable(text);
    if (!bytes) fatal("cannot write \"" + std::string(text) + "\" in every encoding");
    return std::move(*bytes);
  }

 private:
  std::optional<std::string> portable(std::string_view utf8) {
    for (auto& check : checks_) {
      if (!check.encode(utf8)) return std::nullopt;
    }
    return target_.encode(utf8);
  }

  encoder target_;
  std::vector<encoder> checks_;
};

vocabulary build_vocabulary(const options& opt) {
  vocabulary_builder b(opt);
  vocabulary v;
  v.persons = b.list(persons_utf8, "persons");
  v.times = b.list(times_utf8, "times");
  v.places = b.list(places_utf8, "places");
  v.verbs = b.list(verbs_utf8, "verbs");
  v.moves = b.list(moves_utf8, "moves");
  v.things = b.list(things_utf8, "things");
  v.moods = b.list(moods_utf8, "moods");
  v.states = b.list(states_utf8, "states");
  v.scenes = b.list(scenes_utf8, "scenes");
  v.says = b.list(says_utf8, "speech verbs");
  v.titles = b.list(titles_utf8, "titles");
  v.blank_fillers = b.list(blank_fillers_utf8, "blank fillers");

  for (auto w : ordinal_units_utf8) v.ordinal_units.push_back(b.fixed(w));
  for (auto w : chapter_words_utf8) {
    if (w.find(keyword_first) != w.npos) fatal("decoy word holds both keywords");
    v.chapter_words.push_back(b.fixed(w));
  }
  for (std::size_t d = 0; d < 10; ++d) {
    v.chinese_digits[d] = b.fixed(chinese_digits_utf8[d]);
    v.ascii_digits[d] = b.fixed(std::string(1, char('0' + d)));
  }
  v.ten = b.fixed("十");
  v.hundred = b.fixed("百");
  v.thousand = b.fixed("千");
  v.ten_thousand = b.fixed("万");
  v.first = b.fixed(keyword_first);
  v.chapter = b.fixed(keyword_chapter);
  v.reversed_lead = b.fixed("章回");
  v.space = b.fixed(" ");
  v.ideographic_space = b.fixed("　");
  switch (opt.eol) {
    case line_end::crlf: v.eol = b.fixed("\r\n"); break;
    case line_end::lf: v.eol = b.fixed("\n"); break;
    case line_end::cr: v.eol = b.fixed("\r"); break;
  }
  if (opt.bom) {
    encoder target(opt.encoding);
    auto bom = target.encode("\xEF\xBB\xBF");  // U+FEFF
    if (!bom) fatal("cannot write a byte-order mark in " + opt.encoding);
    v.bom = std::move(*bom);
  }
  v.comma = b.fixed("，");
  v.period = b.fixed("。");
  v.exclamation = b.fixed("！");
  v.question = b.fixed("？");
  v.colon = b.fixed("：");
  v.open_quote = b.fixed("“");
  v.close_quote = b.fixed("”");
  v.ellipsis = b.fixed("……");
  v.at = b.fixed("在");
  v.of = b.fixed("的");
  v.ever = b.fixed("可曾");
  v.and_ = b.fixed("与");
  v.is_that = b.fixed("那是");
  v.open_title = b.fixed("《");
  v.close_title = b.fixed("》");
  v.author = b.fixed("作者：");
  v.foreword = b.fixed("前言");
  return v;
}

// ---------------------------------------------------------------------------
// Output

// Collects the novel in a large buffer and writes it in big blocks.
class sink {
 public:
  explicit sink(std::FILE* file) : file_(file) { buffer_.reserve(block + block / 4); }

  void put(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= block) flush();
  }

  // Bytes produced so far, written or still buffered.
  std::uint64_t size() const { return written_ + buffer_.size(); }

  void flush() {
    if (buffer_.empty()) return;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
      fatal(std::string("write failed: ") + std::strerror(errno));
    }
    written_ += buffer_.size();
    buffer_.clear();
  }

 private:
  static constexpr std::size_t block = std::size_t(8) << 20;  // bytes
  std::FILE* file_;
  std::string buffer_;
  std::uint64_t written_ = 0;
};

// ---------------------------------------------------------------------------
// The novel

struct totals {
  std::uint64_t headings = 0;
  std::uint64_t reversed = 0;
  std::uint64_t decoys = 0;
};

class novel_writer {
 public:
  novel_writer(const options& opt, const vocabulary& v, sink& out)
      : opt_(opt), v_(v), out_(out), rng_(opt.seed) {}

  totals write() {
    out_.put(v_.bom);
    if (opt_.preamble) write_preamble();
    if (opt_.chapters == 0) {
      write_section(opt_.size);
      return totals_;
    }

    // Chapter i ends near start + share * (i + 1), jittered by up to 30% of a
    // share so that chapters differ in length; the targets are absolute, so a
    // paragraph of overshoot never adds up over the chapters.
    const std::uint64_t start = out_.size();
    const std::uint64_t rest = opt_.size > start ? opt_.size - start : 0;
    const std::uint64_t n = opt_.chapters;
    const std::uint64_t share = rest / n;
    for (std::uint64_t i = 0; i < n; ++i) {
      std::uint64_t target = start + share * (i + 1) + (rest % n) * (i + 1) / n;
      if (i + 1 < n) {
        // target >= share here, so this never goes below zero.
        target = target - share * 3 / 10 + share * rng_.below(61) / 100;
      }
      // Spread the reversed headings evenly so their count is exact.
      const bool reversed = (i + 1) * opt_.reversed_percent / 100 > i * opt_.reversed_percent / 100;
      write_heading(i + 1, reversed);
      write_section(target);
    }
    return totals_;
  }

 private:
  void put(std::string_view bytes) { out_.put(bytes); }
  void pick(const word_list& words) { out_.put(rng_.pick(words)); }
  void end_line() { out_.put(v_.eol); }

  // With --blank-lines, one blank line before every line but the first.
  void separate() {
    if (opt_.blank_lines && out_.size() > v_.bom.size()) {
      if (rng_.percent(40)) pick(v_.blank_fillers);
      end_line();
    }
  }

  void put_arabic(std::uint64_t n) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = char(n % 10);
      n /= 10;
    } while (n != 0);
    while (count > 0) put(v_.ascii_digits[std::size_t(digits[--count])]);
  }

  // 0 < n < 10000. The leading 一 of 十 is dropped only at the very start
  // (十二, but 一百一十二).
  void put_chinese_group(std::uint64_t n, bool leading) {
    static constexpr std::array<std::uint64_t, 4> powers = {1000, 100, 10, 1};
    const std::array<const std::string*, 4> units = {&v_.thousand, &v_.hundred, &v_.ten, nullptr};
    bool started = false, zero = false;
    for (std::size_t p = 0; p < 4; ++p) {
      const auto d = n / powers[p] % 10;
      if (d == 0) {
        zero = zero || started;
        continue;
      }
      if (zero) put(v_.chinese_digits[0]);
      zero = false;
      if (!(d == 1 && p == 2 && !started && leading)) put(v_.chinese_digits[d]);
      if (units[p]) put(*units[p]);
      started = true;
    }
  }

  // 0 < n <= max_chapters.
  void put_chinese(std::uint64_t n) {
    const auto high = n / 10000, low = n % 10000;
    if (high != 0) {
      put_chinese_group(high, true);
      put(v_.ten_thousand);
    }
    if (low != 0) {
      if (high != 0 && low < 1000) put(v_.chinese_digits[0]);
      put_chinese_group(low, high == 0);
    }
  }

  void put_number(std::uint64_t n) {
    if (rng_.percent(50)) put_arabic(n);
    else put_chinese(n);
  }

  void put_separator() { put(rng_.percent(30) ? v_.ideographic_space : v_.space); }

  void put_title() {
    pick(v_.titles);
    if (rng_.percent(15)) {
      put(v_.and_);
      pick(v_.titles);
    }
  }

  // "第12章 夜雨", "　　第十二章　山月与流年", or reversed "章回 第十二 夜雨".
  void write_heading(std::uint64_t number, bool reversed) {
    separate();
    const auto indent = rng_.below(10);
    if (indent == 0) put(v_.ideographic_space);
    if (indent == 1) {
      put(v_.ideographic_space);
      put(v_.ideographic_space);
    }
    if (reversed) {
      put(v_.reversed_lead);
      put_separator();
      put(v_.first);
      put_number(number);
    } else {
      put(v_.first);
      put_number(number);
      put(v_.chapter);
    }
    put_separator();
    put_title();
    end_line();
    ++totals_.headings;
    if (reversed) ++totals_.reversed;
  }

  // say(parts...) writes its parts in order: a word list gives one word
  // picked at random, a string is written as it is. Parts are plain values,
  // never calls, because the order in which arguments are evaluated is not
  // fixed and the output must not depend on the compiler.
  void emit(const word_list& words) { pick(words); }
  void emit(const std::string& text) { put(text); }
  template <typename... Parts>
  void say(const Parts&... parts) {
    (emit(parts), ...);
  }

  // One sentence, ending in its full-width punctuation.
  void put_sentence() {
    const vocabulary& v = v_;
    switch (rng_.below(9)) {
      case 0: say(v.times, v.comma, v.persons, v.at, v.places, v.verbs, v.things, v.period); break;
      case 1: say(v.persons, v.verbs, v.things, v.comma, v.moods, v.period); break;
      case 2: say(v.places, v.of, v.things, v.states, v.comma, v.persons, v.moods, v.period); break;
      case 3:
        say(v.persons, v.says, v.colon, v.open_quote, v.things, v.states);
        say(rng_.percent(50) ? v.period : v.exclamation, v.close_quote);
        break;
      case 4: say(v.scenes, v.comma, v.persons, v.moves, v.period); break;
      case 5: say(v.persons, v.moves, v.comma, v.verbs, v.things, v.comma, v.moods, v.period); break;
      case 6: say(v.persons, v.ever, v.verbs, v.things, v.question); break;
      case 7: say(v.things, v.states, v.exclamation); break;
      default: say(v.persons, v.at, v.places, v.moods, v.ellipsis); break;
    }
  }

  void put_indent() {
    put(v_.ideographic_space);
    put(v_.ideographic_space);
  }

  void write_paragraph() {
    separate();
    put_indent();
    for (auto n = 1 + rng_.below(5); n > 0; --n) put_sentence();
    end_line();
  }

  // 第 + 一 to 十 + a unit: 第二天, 第十夜.
  void put_ordinal() {
    put(v_.first);
    put_chinese(1 + rng_.below(10));
    pick(v_.ordinal_units);
  }

  // A line holding exactly one of the keywords, exactly once.
  void write_decoy() {
    separate();
    switch (rng_.below(4)) {
      case 0:  // a short line that looks like a heading: 第三天清晨
        if (rng_.percent(50)) put_indent();
        put_ordinal();
        if (rng_.percent(50)) pick(v_.times);
        break;
      case 1:  // a paragraph with 第二天, 第三次 at its start or in its middle
        put_indent();
        if (rng_.percent(50)) {
          put_ordinal();
          say(v_.comma, v_.persons, v_.moves, v_.comma, v_.verbs, v_.things, v_.period);
        } else {
          put_sentence();
          say(v_.is_that, v_.persons);
          put_ordinal();
          say(v_.moves, v_.period);
        }
        break;
      case 2:  // a short line: 那篇文章
        if (rng_.percent(50)) put_indent();
        pick(v_.chapter_words);
        break;
      default:  // a paragraph mentioning 文章, 印章 or 章法
        put_indent();
        if (rng_.percent(50)) put_sentence();
        say(v_.persons, v_.at, v_.places, v_.verbs, v_.chapter_words, v_.comma, v_.moods, v_.period);
        break;
    }
    end_line();
    ++totals_.decoys;
  }

  // Paragraphs up to `target` bytes of output in all, with --decoys decoys
  // spread over the section (each one even if the section is already full).
  void write_section(std::uint64_t target) {
    const std::uint64_t begin = out_.size();
    const std::uint64_t span = target > begin ? target - begin : 0;
    thresholds_.clear();
    for (std::uint32_t k = 0; k < opt_.decoys; ++k) {
      thresholds_.push_back(begin + (span != 0 ? rng_.below(span) : 0));
    }
    std::sort(thresholds_.begin(), thresholds_.end());
    std::size_t next = 0;
    for (;;) {
      while (next < thresholds_.size() && thresholds_[next] <= out_.size()) {
        write_decoy();
        ++next;
      }
      if (out_.size() >= target) break;
      write_paragraph();
    }
    for (; next < thresholds_.size(); ++next) write_decoy();
  }

  void write_preamble() {
    put(v_.open_title);
    put_title();
    put(v_.close_title);
    end_line();
    separate();
    put(v_.author);
    pick(v_.persons);
    end_line();
    separate();
    put(v_.foreword);
    end_line();
    for (auto n = 2 + rng_.below(3); n > 0; --n) write_paragraph();
  }

  const options& opt_;
  const vocabulary& v_;
  sink& out_;
  splitmix64 rng_;
  totals totals_;
  std::vector<std::uint64_t> thresholds_;
};

}  // namespace

int main(int argc, char** argv) {
  const options opt = parse_options(argc, argv);
  const vocabulary vocab = build_vocabulary(opt);

  std::FILE* file = stdout;
  if (!opt.output.empty()) {
    file = std::fopen(opt.output.c_str(), "wb");
    if (!file) fatal("cannot open " + opt.output + ": " + std::strerror(errno));
  } else {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // no LF to CR LF translation
#endif
  }

  sink out(file);
  novel_writer writer(opt, vocab, out);
  const totals t = writer.write();
  out.flush();
  if (std::fflush(file) != 0 || std::ferror(file)) {
    fatal(std::string("write failed: ") + std::strerror(errno));
  }
  if (file != stdout && std::fclose(file) != 0) {
    fatal("cannot close " + opt.output + ": " + std::strerror(errno));
  }

  std::fprintf(stderr, "%s: %llu headings (%llu reversed), %llu decoys, %llu bytes, %s\n",
               program_name.data(), static_cast<unsigned long long>(t.headings),
               static_cast<unsigned long long>(t.reversed), static_cast<unsigned long long>(t.decoys),
               static_cast<unsigned long long>(out.size()), opt.encoding.c_str());
  return 0;
}
