#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <iterator>  // size

#include "cli/console.h"
#include "core/checks.h"
#include "core/convert.h"
#include "core/encoding.h"
#include "core/heading_choice.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/pattern_rule.h"

namespace quorrel::cli {
namespace {

constexpr std::uint64_t default_check_size = 200 * 1024;        // bytes: a long chapter, but a chapter
constexpr std::uint64_t largest_size = std::uint64_t{1} << 40;  // bytes: 1048576M, far past any book
constexpr int first_long_only = 256;     // getopt's code for row i without a letter: first_long_only + i
constexpr std::size_t help_column = 24;  // where an option's help starts in --help

// One option as --help shows it: "  -k, --keyword=WORD    help...".
struct option_row {
  const char* name;   // the long form, without "--"
  char letter;        // the short form, 0 when there is none
  const char* value;  // what the argument is called, null for a switch
  const char* help;   // lines apart with "\n"
};

// Every option, in the order --help lists them.
constexpr option_row options[] = {
    {"keyword", 'k', "WORD", "a keyword; repeat for more (default: 第 and 章)"},
    {"headings", 0, "RULE",
     "which lines start a piece:\n"
     "  keywords  every keyword occurs in the line (default)\n"
     "  auto      the line has a heading's form: 第十二章 风起,\n"
     "            第3回, 【第一节】, 第一卷, 卷之二, 楔子, 番外一,\n"
     "            尾声：归来; at most 40 characters, no 。; a\n"
     "            volume title just before a chapter shares\n"
     "            its piece"},
    {"pattern", 0, "REGEX",
     "a line where this ICU regular expression finds a\n"
     "match starts a piece, e.g. '^Chapter [0-9]+$'; a line\n"
     "it cannot decide in about a second stops the run"},
    {"max-size", 0, "SIZE",
     "a piece that grows past SIZE bytes (K, M suffixes:\n"
     "300K, 2M; at most 1048576M) ends at that line; the\n"
     "text after it goes on in the next piece"},
    {"check", 0, nullptr,
     "write nothing, so DESTINATION may be left out:\n"
     "report numbering that jumps, repeats or goes back,\n"
     "pieces over 200K (or --max-size) or under 3 lines,\n"
     "and near misses (lines refused by a guard), each\n"
     "with its line number, then a summary"},
    {"encoding", 'e', "NAME",
     "the source's encoding (GB18030, GBK, Big5, UTF-8,\n"
     "UTF-16LE, UTF-16BE...) instead of detecting it"},
    {"list", 'l', nullptr,
     "write nothing: list the pieces a split into\n"
     "DESTINATION would write (name, size in bytes, first\n"
     "line), then the total"},
    {"json", 0, nullptr,
     "with --list: the table of contents as one JSON\n"
     "document instead (source, encoding, and per piece\n"
     "number, file, kind, title, line, offset, size)"},
    {"contents", 0, "FILE", "after a successful split, write that document to FILE"},
    {"names", 0, "title",
     "name each piece that starts at a heading by it:\n"
     "\"0001 第一章 风起.txt\" (Windows-safe; default: number)"},
    {"to", 0, "ENCODING",
     "write the pieces in UTF-8, UTF-8-BOM, GB18030, GBK,\n"
     "Big5 or UTF-16LE (with its mark); refused, writing\n"
     "nothing, if the source holds a sequence that cannot\n"
     "be converted..."},
    {"replace-invalid", 0, nullptr, "...unless this is given: each becomes U+FFFD (or ?)"},
    {"quiet", 'q', nullptr, "no progress line"},
    {"help", 'h', nullptr, "show this help and exit"},
    {"version", 0, nullptr, "show the version and exit"},
};

// The options as they were given, before any is checked against another.
struct given {
  std::vector<std::string> keywords;
  std::optional<std::string> encoding_name, headings, pattern, max_size, contents_path, to_name;
  bool list = false, quiet = false, check = false, json = false, titles = false, replace_invalid = false;
  bool help = false, version = false;
};

// A size in bytes, with a K or M suffix (1024, 1024 * 1024, either case);
// nullopt when it is not a positive one up to largest_size.
std::optional<std::uint64_t> size_argument(std::string_view text) {
  std::uint64_t value = 0;
  std::size_t at = 0;
  // Checked at each digit, so the value never grows past what it can hold.
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    if (value > largest_size) return std::nullopt;
  }
  const std::string_view suffix = text.substr(at);
  int shift = 0;
  if (equal_ignoring_case(suffix, "K")) shift = 10;
  else if (equal_ignoring_case(suffix, "M")) shift = 20;
  else if (!suffix.empty()) return std::nullopt;
  if (at == 0 || value == 0 || value > largest_size >> shift) return std::nullopt;
  return value << shift;
}

// Takes one option; a problem when its value is refused at once.
std::optional<std::string> take(given& g, std::string_view name, const char* value) {
  if (name == "keyword") g.keywords.push_back(keyword_argument(value));
  else if (name == "encoding") g.encoding_name = value;
  else if (name == "list") g.list = true;
  else if (name == "quiet") g.quiet = true;
  else if (name == "headings") g.headings = value;
  else if (name == "pattern") g.pattern = keyword_argument(value);
  else if (name == "max-size") g.max_size = value;
  else if (name == "check") g.check = true;
  else if (name == "json") g.json = true;
  else if (name == "contents") g.contents_path = value;
  else if (name == "to") g.to_name = value;
  else if (name == "replace-invalid") g.replace_invalid = true;
  else if (name == "help") g.help = true;
  else if (name == "version") g.version = true;
  else if (name == "names") {
    g.titles = equal_ignoring_case(value, "title");
    if (!g.titles && !equal_ignoring_case(value, "number")) return messages::unknown_names(value);
  }
  return std::nullopt;
}

const option_row* row_of(int code) {
  for (std::size_t i = 0; i < std::size(options); ++i)
    if (options[i].letter ? code == options[i].letter : code == first_long_only + static_cast<int>(i))
      return &options[i];
  return nullptr;
}

// What was wrong with an option getopt_long refused (it prints nothing
// itself: its words would be English, under the program's file name).
// `code` is what it returned, `given` the argument it stopped at. The
// systems' getopt set optopt alike: the option's letter where the option is
// known, 0 where it is not. A known long option is named in full, however
// shortened it was given.
std::string option_problem(int code, std::string_view given) {
  if (given.starts_with("--")) {
    std::string name(given.substr(0, given.find('=')));
    if (optopt == 0) return messages::unknown_option(name);
    const bool valued = name.size() < given.size();
    if (const option_row* known = row_of(optopt)) name = std::string("--") + known->name;
    return valued ? messages::option_takes_no_value(name) : messages::option_needs_value(name);
  }
  const std::string name = {'-', static_cast<char>(optopt)};
  if (code == ':') return messages::option_needs_value(name);
  return messages::unknown_option(name);
}

std::optional<std::string> refuse_if(bool refused, std::string_view text) {
  if (refused) return std::string(text);
  return std::nullopt;
}

// The checks made once the options are read, in this order: the first
// problem found is the one shown. Options that exclude each other are
// refused before anything is read or written.
using check = std::optional<std::string> (*)(const given&);
constexpr check checks[] = {
    [](const given& g) {
      return refuse_if(g.headings && !rule_named(*g.headings),
                       messages::unknown_heading_rule(g.headings.value_or("")));
    },
    [](const given& g) { return refuse_if(g.pattern && g.headings, messages::pattern_with_headings); },
    [](const given& g) -> std::optional<std::string> {
      const auto problem = g.pattern ? pattern_problem(*g.pattern) : std::nullopt;
      if (!problem) return std::nullopt;
      return messages::bad_pattern(*g.pattern, problem->reason, problem->line, problem->offset);
    },
    [](const given& g) {
      const bool other_rule =
          g.pattern || (g.headings && rule_named(*g.headings) != heading_choice::rule::keywords);
      return refuse_if(!g.keywords.empty() && other_rule, messages::keyword_without_keyword_rule);
    },
    [](const given& g) {
      return refuse_if(g.max_size && !size_argument(*g.max_size),
                       messages::bad_size(g.max_size.value_or("")));
    },
    [](const given& g) { return refuse_if(g.check && g.list, messages::check_with_list); },
    [](const given& g) { return refuse_if(g.json && !g.list, messages::json_without_list); },
    [](const given& g) { return refuse_if(g.contents_path && g.list, messages::contents_with_list); },
    [](const given& g) {
      return refuse_if(g.contents_path && g.contents_path->empty(), messages::contents_unnamed);
    },
    [](const given& g) { return refuse_if(g.replace_invalid && !g.to_name, messages::replace_without_to); },
    [](const given& g) {
      return refuse_if(g.check && (g.contents_path || g.titles || g.to_name), messages::check_writing);
    },
};

// The command a checked command line asks for; a problem (shown without
// the usage hint) when an encoding's name is not one the program has.
parsed command_of(const given& g) {
  parsed p;
  command& c = p.run;
  c.what = g.check ? command::action::check : g.list ? command::action::list : command::action::split;
  c.keywords = g.keywords.empty() ? default_keywords() : g.keywords;
  if (g.headings) c.options.headings.which = *rule_named(*g.headings);
  if (g.pattern) c.options.headings = {heading_choice::rule::pattern, *g.pattern};
  const std::uint64_t size = g.max_size ? *size_argument(*g.max_size) : 0;
  // --check reports pieces over the size instead of cutting them.
  c.check_size = size ? size : default_check_size;
  if (!g.check) c.options.max_size = size;
  c.options.dry_run = g.list || g.check;
  c.options.title_names = g.titles;
  c.options.replace_invalid = g.replace_invalid;
  c.contents_path = g.contents_path;
  c.json = g.json;
  c.quiet = g.quiet;
  p.hint = false;
  if (g.to_name) {
    c.to_name = *g.to_name;
    c.options.convert_to = target_by_name(*g.to_name);
    if (!c.options.convert_to) p.problem = messages::unknown_target(*g.to_name);
  }
  if (g.encoding_name && !p.problem) {
    c.options.forced_encoding = encoding_by_name(*g.encoding_name);
    if (!c.options.forced_encoding) p.problem = messages::unknown_encoding(*g.encoding_name);
  }
  return p;
}

}  // namespace

std::string usage() {
  std::string text =
      "用法：quorrel-split [选项]... 源文件 存放目录\n"
      "      quorrel-split --check [选项]... 源文件 [存放目录]\n"
      "Usage: quorrel-split [OPTION]... SOURCE DESTINATION\n"
      "       quorrel-split --check [OPTION]... SOURCE [DESTINATION]\n"
      "Cut SOURCE into pieces at every line that holds all keywords, written as\n"
      "DESTINATION0000.txt, DESTINATION0001.txt, ... (DESTINATION is used as a\n"
      "prefix exactly as given: end it with " +
      std::string(1, separator) +
      " to write into a folder, which is\n"
      "made, with its parents, when it is missing). Pieces of an earlier run that\n"
      "this one did not write again are counted on stderr, never removed.\n"
      "\n";
  for (const option_row& row : options) {
    std::string left = row.letter ? std::string("  -") + row.letter + ", --" : std::string("      --");
    left.append(row.name);
    if (row.value) left.append("=").append(row.value);
    left.resize(std::max(left.size() + 1, help_column), ' ');
    text += left;
    for (const char* at = row.help; *at; ++at) {
      text += *at;
      if (*at == '\n') text.append(help_column, ' ');
    }
    text += '\n';
  }
  return text +
         "\n"
         "Names given to --encoding, --to, --headings, --names and the size suffixes\n"
         "are read without regard to case.\n"
         "\n"
         "Exit status: 0 done, 1 a problem with the input (or another run is\n"
         "writing into the same folder), 2 a file or folder could not be read,\n"
         "written or made (standard output included), 3 --check found something\n"
         "to report, 128+N stopped by signal N:\n"
         "129 hang-up, 130 interrupt (Ctrl+C), 143 terminate. A stopped run ends at\n"
         "a line: every piece written stays complete. A reader that closes the pipe\n"
         "early (| head) just ends the output: not an error.\n"
         "\n"
         "Example: quorrel-split --names=title --to=UTF-8 --contents=out/toc.json 小说.txt out/\n";
}

parsed parse(const std::vector<std::string>& arguments) {
  // getopt_long reads argv's form: the program's name, then the arguments.
  std::vector<std::string> words = arguments;
  std::vector<char*> argv{const_cast<char*>("quorrel-split")};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size()) + 1;

  std::vector<option> long_options;
  std::string short_options = ":";  // the leading ":" tells a missing argument from an unknown option
  for (std::size_t i = 0; i < std::size(options); ++i) {
    const option_row& row = options[i];
    const int code = row.letter ? row.letter : first_long_only + static_cast<int>(i);
    long_options.push_back({row.name, row.value ? required_argument : no_argument, nullptr, code});
    if (row.letter) short_options.append(1, row.letter).append(row.value ? ":" : "");
  }
  long_options.push_back({nullptr, 0, nullptr, 0});

  given g;
  parsed p;
  opterr = 0;
  optind = 0;  // a fresh scan, as for a command line never seen before
  for (int c;
       (c = getopt_long(argc, argv.data(), short_options.c_str(), long_options.data(), nullptr)) != -1;) {
    const option_row* row = row_of(c);
    if (!row) {
      p.problem = option_problem(c, optind > 1 ? argv[static_cast<std::size_t>(optind - 1)] : "");
      return p;
    }
    if ((p.problem = take(g, row->name, optarg))) return p;
    if (g.help || g.version) {
      p.run.what = g.help ? command::action::help : command::action::version;
      return p;
    }
  }
  // A check writes nothing, so it needs no destination.
  const int operands = argc - optind;
  if (operands < (g.check ? 1 : 2) || operands > 2) {
    p.problem = operands > 2 ? messages::extra_operand
                : g.check    ? messages::no_source_operand
                             : messages::no_operands;
    return p;
  }
  for (const check refused : checks)
    if ((p.problem = refused(g))) return p;
  p = command_of(g);
  p.run.source = argv[static_cast<std::size_t>(optind)];
  p.run.destination = operands == 2 ? argv[static_cast<std::size_t>(optind) + 1] : "";
  return p;
}

}  // namespace quorrel::cli
