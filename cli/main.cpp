// quorrel-split: the window's split from the command line.
//
// Exit status: 0 done, 1 a problem with the input (or the command line, or
// another run writing into the destination's folder: nothing is written),
// 2 a file-system failure (standard output included) or no memory left,
// 3 --check found something to report,
// 128 + N stopped by hang-up, interrupt or terminate signal N (129, 130,
// 143): the run ends at a line boundary, every piece written stays complete,
// also when the signal cut short a read, a write or the output waiting on
// the system.
//
// Standard output is the tool's result, so a failure to write it is an
// error, except a reader that closes the pipe early (`| head`, `| true`): it
// took what it wanted, the output stops there and the status is the run's.

#include <getopt.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>  // _Exit
#include <cstring>  // strerror
#include <new>  // bad_alloc
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "cli/check.h"
#include "cli/console.h"
#include "cli/contents.h"
#include "core/checks.h"
#include "core/convert.h"
#include "core/encoding.h"
#include "core/file.h"
#include "core/heading_rule.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/split.h"
#include "core/stop_signals.h"

namespace {

constexpr int exit_input = 1;
constexpr int exit_filesystem = 2;
constexpr int exit_findings = 3;
constexpr std::uint64_t default_check_size = 200 * 1024;  // bytes: a long chapter, but a chapter

// A size in bytes, with a K or M suffix (1024, 1024 * 1024); nullopt when
// it is not a positive one.
std::optional<std::uint64_t> size_argument(const std::string& text) {
  std::uint64_t value = 0;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (value > (std::uint64_t{1} << 40)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
  }
  const std::string suffix = text.substr(at);
  if (at == 0 || value == 0) return std::nullopt;
  if (suffix == "K" || suffix == "k") return value << 10;
  if (suffix == "M" || suffix == "m") return value << 20;
  if (suffix.empty()) return value;
  return std::nullopt;
}

// Messages and progress on stderr: if they cannot be written, there is
// nowhere left to say so.
void print(std::FILE* stream, std::string_view utf8) { quorrel::cli::write(stream, utf8); }

// Standard output, keeping the first failure to write it. SIGPIPE is
// ignored, so a reader that has gone shows here as EPIPE instead of killing
// the tool. stdout is fully buffered when it is not a terminal: most
// failures show at a flush, hence finish().
class standard_output {
 public:
  // Once a write has failed, what follows is dropped.
  void write(const std::string& utf8) {
    if (error_ != 0) return;
    if (!quorrel::cli::write(stdout, utf8)) error_ = errno;
  }

  void finish() {
    if (error_ == 0 && !quorrel::cli::flush(stdout)) error_ = errno;
  }

  bool broken() const { return error_ != 0; }
  // The reader closing its end is not a failure of the tool.
  bool failed() const { return error_ != 0 && error_ != EPIPE; }
  const char* reason() const { return std::strerror(error_); }

 private:
  int error_ = 0;
};

// A run stopped by a signal ends here. What standard output still holds is
// dropped: flushing it could wait again on a reader that takes nothing.
[[noreturn]] void exit_stopped() {
  std::fflush(stderr);
  std::_Exit(quorrel::exit_status_for_signal(quorrel::stop_signal()));
}

// `status` once standard output is flushed; a failure to write it is
// reported and, where all else went well, makes the status a file-system one.
int flushed(standard_output& out, int status) {
  out.finish();
  if (quorrel::stop_signal() != 0 && out.broken()) exit_stopped();
  if (!out.failed()) return status;
  print(stderr, std::string("quorrel-split: 写入标准输出失败：") + out.reason() + "\n");
  return status == 0 ? exit_filesystem : status;
}

class cli_host : public quorrel::fixed_keywords {
 public:
  // With `table`, every piece goes into it; the listing, if any, is then
  // the table, written whole at the end.
  cli_host(std::vector<std::string> keywords, bool show_progress, standard_output* list,
           quorrel::cli::contents* table)
      : fixed_keywords(std::move(keywords)), show_progress_(show_progress), list_(list), table_(table) {}

  void encoding_known(const quorrel::encoding& enc) override {
    enc_ = enc;
    if (table_) table_->source_encoding = enc;
  }

  void progress(std::int64_t saved) override {
    if (!show_progress_) return;
    // At most ten refreshes a second; the line is finished by done().
    const auto now = std::chrono::steady_clock::now();
    if (now - shown_at_ < std::chrono::milliseconds(100)) return;
    shown_at_ = now;
    print(stderr, std::string("\r").append(quorrel::messages::progress(saved)));
    std::fflush(stderr);
    dirty_ = true;
  }

  // The line ends with the pieces complete on disk, which a failed run may
  // have fewer of than it last showed.
  void done(std::int64_t written) {
    if (!dirty_) return;
    print(stderr, "\r" + quorrel::messages::progress(written) + "\n");
  }

  // A listing whose output has failed is over: the rest could not be shown.
  bool stop_requested() override { return quorrel::stop_signal() != 0 || (list_ && list_->broken()); }

  void piece_done(const quorrel::piece_info& piece) override {
    total_bytes_ += piece.size;
    if (table_) {
      const std::string title = quorrel::decode(piece.first_line, enc_);
      table_->pieces.push_back({piece.number, piece.path, piece.kind, std::string(quorrel::trim_blanks(title)),
                                piece.line, piece.offset, piece.size});
      return;
    }
    if (!list_) return;
    list_->write(piece.path + "\t" + std::to_string(piece.size) + "\t" +
                 quorrel::decode(piece.first_line, enc_) + "\n");
  }

  std::uint64_t total_bytes() const { return total_bytes_; }

 private:
  bool show_progress_;
  standard_output* list_;  // where the listing goes; null for a real split
  quorrel::cli::contents* table_;
  quorrel::encoding enc_;
  std::chrono::steady_clock::time_point shown_at_{};
  bool dirty_ = false;
  std::uint64_t total_bytes_ = 0;
};

// A source taken for UTF-8 despite a few invalid sequences: the run goes
// on (its status is unchanged), but the reader learns where to look.
void warn_of_invalid_utf8(const quorrel::split_result& result) {
  const auto& invalid = result.invalid_utf8;
  if (invalid.count > 0)
    print(stderr, "quorrel-split: " + quorrel::messages::invalid_utf8(invalid.count, invalid.first_line) + "\n");
}

constexpr std::string_view usage_hint = "请用“quorrel-split --help”查看用法。\n";

// What was wrong with an option getopt_long refused (it prints nothing
// itself: its words would be English, under the program's file name).
// `code` is what it returned, `given` the argument it stopped at. The
// systems' getopt set optopt alike: the option's letter where the option is
// known, 0 where it is not. A known long option is named in full, however
// shortened it was given.
std::string option_problem(int code, std::string_view given, const option* options) {
  std::string text = "quorrel-split: ";
  if (given.starts_with("--")) {
    std::string name(given.substr(0, given.find('=')));
    if (optopt == 0) return text.append("无效的选项“").append(name).append("”\n");
    const bool valued = name.size() < given.size();
    for (const option* known = options; known->name; ++known)
      if (known->val == optopt) name = std::string("--") + known->name;
    if (valued) return text.append("选项“").append(name).append("”不接受参数\n");
    return text.append("选项“").append(name).append("”缺少参数\n");
  }
  const std::string name = {'-', static_cast<char>(optopt)};
  if (code == ':') return text.append("选项“").append(name).append("”缺少参数\n");
  return text.append("无效的选项“").append(name).append("”\n");
}

// Why the table of contents may not go to `path`, if it may not: the
// source itself, or anything but a regular file (a link is not followed).
std::optional<std::string> contents_refused(const std::string& path, const std::string& source) {
  const auto id = quorrel::file::identity_of(path);
  if (id && id == quorrel::file::identity_of(source)) return std::string(quorrel::messages::piece_is_source);
  if (auto allowed = quorrel::file::may_put_in_place(path); !allowed) return allowed.reason();
  return std::nullopt;
}

// Writes the table to a new file beside `path` and puts it in place, so a
// run that fails leaves neither a half table nor a stray file; a piece just
// written is never replaced by it. The reason when it fails.
std::optional<std::string> write_contents(const std::string& path, const quorrel::cli::contents& table) {
  if (const auto id = quorrel::file::identity_of(path)) {
    for (const auto& piece : table.pieces)
      if (quorrel::file::identity_of(piece.path) == id) return "这是刚写入的分割文件";
  }
  std::random_device random;
  const std::string temporary = path + "." + std::to_string(random()) + ".tmp";
  auto made = quorrel::file::create_piece(
      temporary, quorrel::file::identity_of(table.source).value_or(quorrel::file::identity{}));
  if (!made) return made.reason();
  auto done = quorrel::file::write_all(made->file, quorrel::cli::to_json(table));
  if (done) done = made->file.close();
  if (done) done = quorrel::file::put_in_place(temporary, path);
  if (done) return std::nullopt;
  quorrel::file::remove_piece(temporary, *made);
  return done.reason();
}

void usage(standard_output& out) {
  out.write(
        "用法：quorrel-split [选项]... 源文件 存放目录\n"
        "Usage: quorrel-split [OPTION]... SOURCE DESTINATION\n"
        "Cut SOURCE into pieces at every line that holds all keywords, written as\n"
        "DESTINATION0000.txt, DESTINATION0001.txt, ... (DESTINATION is used as a\n"
        "prefix exactly as given: end it with " +
      std::string(1, quorrel::separator) +
      " to write into a folder).\n"
        "\n"
        "  -k, --keyword=WORD    a keyword; repeat for more (default: 第 and 章)\n"
        "      --headings=RULE   which lines start a piece:\n"
        "                          keywords  every keyword occurs in the line (default)\n"
        "                          auto      the line has a heading's form: 第十二章 风起,\n"
        "                                    第3回, 【第一节】, 第一卷, 卷之二, 楔子, 番外一,\n"
        "                                    尾声：归来; at most 40 characters, no 。; a\n"
        "                                    volume title just before a chapter shares\n"
        "                                    its piece\n"
        "      --pattern=REGEX   a line where this ICU regular expression finds a\n"
        "                        match starts a piece, e.g. '^Chapter [0-9]+$'\n"
        "      --max-size=SIZE   a piece that grows past SIZE bytes (K, M suffixes:\n"
        "                        300K, 2M) ends at that line; the text after\n"
        "                        it goes on in the next piece\n"
        "      --check           write nothing: report numbering that jumps, repeats\n"
        "                        or goes back, pieces over 200K (or --max-size) or\n"
        "                        under 3 lines, and near misses (lines refused by a\n"
        "                        guard), each with its line number, then a summary\n"
        "  -e, --encoding=NAME   the source's encoding (GB18030, GBK, Big5, UTF-8,\n"
        "                        UTF-16LE, UTF-16BE...) instead of detecting it\n"
        "  -l, --list            write nothing: list the pieces a split would write\n"
        "                        (name, size in bytes, first line), then the total\n"
        "      --json            with --list: the table of contents as one JSON\n"
        "                        document instead (source, encoding, and per piece\n"
        "                        number, file, kind, title, line, offset, size)\n"
        "      --contents=FILE   after a successful split, write that document to FILE\n"
        "      --names=title     name each piece that starts at a heading by it:\n"
        "                        \"0001 第一章 风起.txt\" (Windows-safe; default: number)\n"
        "      --to=ENCODING     write the pieces in UTF-8, UTF-8-BOM, GB18030, GBK,\n"
        "                        Big5 or UTF-16LE (with its mark); refused, writing\n"
        "                        nothing, if the source holds a sequence that cannot\n"
        "                        be converted...\n"
        "      --replace-invalid ...unless this is given: each becomes U+FFFD (or ?)\n"
        "  -q, --quiet           no progress line\n"
        "      --help            show this help and exit\n"
        "      --version         show the version and exit\n"
        "\n"
        "Exit status: 0 done, 1 a problem with the input (or another run is\n"
        "writing into the same folder), 2 a file could not be read or written\n"
        "(standard output included), 3 --check found something to report,\n"
        "128+N stopped by signal N:\n"
        "129 hang-up, 130 interrupt (Ctrl+C), 143 terminate. A stopped run ends at\n"
        "a line: every piece written stays complete. A reader that closes the pipe\n"
        "early (| head) just ends the output: not an error.\n"
        "\n"
        "Example: quorrel-split --names=title --to=UTF-8 --contents=out/toc.json 小说.txt out/\n");
}

int split_main(int argc, char** argv) {
  quorrel::cli::init_console();
  standard_output out;
  // getopt_long reads argv's form: the program's name, then the arguments
  // (UTF-16 turned UTF-8 on Windows).
  std::vector<std::string> arguments = quorrel::cli::arguments(argc, argv);
  std::vector<char*> argument_pointers{argv[0]};
  for (std::string& argument : arguments) argument_pointers.push_back(argument.data());
  argument_pointers.push_back(nullptr);
  argc = static_cast<int>(arguments.size()) + 1;
  argv = argument_pointers.data();

  enum {
    opt_help = 256, opt_version, opt_headings, opt_pattern, opt_max_size, opt_check,
    opt_json, opt_contents, opt_names, opt_to, opt_replace_invalid
  };
  const option options[] = {
      {"keyword", required_argument, nullptr, 'k'},          {"encoding", required_argument, nullptr, 'e'},
      {"list", no_argument, nullptr, 'l'},                   {"quiet", no_argument, nullptr, 'q'},
      {"headings", required_argument, nullptr, opt_headings}, {"pattern", required_argument, nullptr, opt_pattern},
      {"max-size", required_argument, nullptr, opt_max_size}, {"check", no_argument, nullptr, opt_check},
      {"json", no_argument, nullptr, opt_json},              {"contents", required_argument, nullptr, opt_contents},
      {"names", required_argument, nullptr, opt_names},      {"to", required_argument, nullptr, opt_to},
      {"replace-invalid", no_argument, nullptr, opt_replace_invalid},
      {"help", no_argument, nullptr, opt_help},              {"version", no_argument, nullptr, opt_version},
      {nullptr, 0, nullptr, 0}};
  std::vector<std::string> keywords;
  std::optional<std::string> encoding_name, headings, pattern, max_size, contents_path, to_name;
  bool list = false, quiet = false, check_only = false, json = false, titles = false, replace_invalid = false;
  auto bad_usage = [](const std::string& what) {
    print(stderr, "quorrel-split: " + what + "\n");
    print(stderr, usage_hint);
    return exit_input;
  };
  opterr = 0;
  // The leading ":" tells a missing argument from an unknown option.
  for (int c; (c = getopt_long(argc, argv, ":k:e:lq", options, nullptr)) != -1;) {
    switch (c) {
      case 'k': keywords.push_back(quorrel::cli::keyword_argument(optarg)); break;
      case 'e': encoding_name = optarg; break;
      case 'l': list = true; break;
      case 'q': quiet = true; break;
      case opt_headings: headings = optarg; break;
      case opt_pattern: pattern = quorrel::cli::keyword_argument(optarg); break;
      case opt_max_size: max_size = optarg; break;
      case opt_check: check_only = true; break;
      case opt_json: json = true; break;
      case opt_contents: contents_path = optarg; break;
      case opt_names:
        if (std::string_view(optarg) != "title" && std::string_view(optarg) != "number")
          return bad_usage(std::string("无效的“--names=") + optarg + "”（可用 title 或 number）");
        titles = std::string_view(optarg) == "title";
        break;
      case opt_to: to_name = optarg; break;
      case opt_replace_invalid: replace_invalid = true; break;
      case opt_help: usage(out); return flushed(out, 0);
      case opt_version: out.write("quorrel-split " QUORREL_VERSION "\n"); return flushed(out, 0);
      default:
        print(stderr, option_problem(c, optind > 1 ? argv[optind - 1] : "", options));
        print(stderr, usage_hint);
        return exit_input;
    }
  }
  if (argc - optind != 2) {
    print(stderr, argc - optind < 2 ? "quorrel-split: 缺少源文件或存放目录\n" : "quorrel-split: 多余的参数\n");
    print(stderr, usage_hint);
    return exit_input;
  }
  // Options that exclude each other are refused before anything is read
  // or written.
  auto refuse = bad_usage;
  quorrel::split_options split_options;
  if (headings && *headings == "auto") {
    split_options.headings.which = quorrel::heading_choice::rule::form;
  } else if (headings && *headings != "keywords") {
    return refuse("未知的标题规则“" + *headings + "”（可用 keywords、auto）");
  }
  if (pattern) {
    if (headings) return refuse("--pattern 与 --headings 不能同时使用");
    if (const auto problem = quorrel::pattern_problem(*pattern)) {
      std::string where = problem->line > 0 ? "第" + std::to_string(problem->line) + "行第" : "第";
      return refuse("正则表达式“" + *pattern + "”有误：" + problem->reason + "（" + where +
                    std::to_string(problem->offset) + "个字符）");
    }
    split_options.headings = {quorrel::heading_choice::rule::pattern, *pattern};
  }
  if (!keywords.empty() && split_options.headings.which != quorrel::heading_choice::rule::keywords)
    return refuse("--keyword 只用于 --headings=keywords");
  if (max_size) {
    const auto bytes = size_argument(*max_size);
    if (!bytes) return refuse("无效的大小“" + *max_size + "”（例如 300K、2M 或字节数）");
    // --check reports pieces over the size instead of cutting them.
    if (!check_only) split_options.max_size = *bytes;
  }
  if (check_only && list) return refuse("--check 与 --list 不能同时使用");
  if (keywords.empty()) keywords = quorrel::default_keywords();
  if (json && !list) return bad_usage("“--json”只能与“--list”同用");
  if (contents_path && list) return bad_usage("“--contents”在分割之后写入，不能与“--list”同用");
  if (contents_path && contents_path->empty()) return bad_usage("“--contents”缺少文件名");
  if (replace_invalid && !to_name) return bad_usage("“--replace-invalid”只能与“--to”同用");
  if (check_only && (contents_path || titles || to_name))
    return bad_usage("--check 不写入任何文件，不能与 --contents、--names 或 --to 同用");

  split_options.dry_run = list || check_only;
  split_options.title_names = titles;
  split_options.replace_invalid = replace_invalid;
  if (to_name) {
    split_options.convert_to = quorrel::target_by_name(*to_name);
    if (!split_options.convert_to) {
      print(stderr, "quorrel-split: 不支持的目标编码“" + *to_name + "”（UTF-8、UTF-8-BOM、GB18030、GBK、Big5、UTF-16LE）\n");
      return exit_input;
    }
  }
  if (encoding_name) {
    split_options.forced_encoding = quorrel::encoding_by_name(*encoding_name);
    if (!split_options.forced_encoding) {
      print(stderr, "quorrel-split: 不支持的编码“" + *encoding_name + "”\n");
      return exit_input;
    }
  }

  // Paths go to the file system as the bytes given, blanks included.
  const auto check = quorrel::check_inputs(argv[optind], argv[optind + 1], keywords.size(),
                                          quorrel::path_text::exact,
                                          titles ? quorrel::piece_names::titles : quorrel::piece_names::numbers);
  if (!check.ok) {
    print(stderr, check.message + "\n");
    return exit_input;
  }
  if (contents_path) {
    if (auto refused = contents_refused(*contents_path, check.request.source)) {
      print(stderr, quorrel::messages::write_failed(*contents_path, *refused) + "\n");
      return exit_input;
    }
  }

  quorrel::catch_stop_signals();
  if (check_only) {
    quorrel::cli::check_host checker(keywords, max_size ? *size_argument(*max_size) : default_check_size);
    const auto result = quorrel::run_split(check.request, checker, split_options);
    warn_of_invalid_utf8(result);
    if (result.failure) {
      print(stderr, result.failure->message() + "\n");
      return flushed(out, exit_filesystem);
    }
    if (result.stopped && quorrel::stop_signal() != 0)
      return flushed(out, quorrel::exit_status_for_signal(quorrel::stop_signal()));
    for (const std::string& line : checker.report(argv[optind], result.pieces)) out.write(line);
    return flushed(out, checker.found_anything() ? exit_findings : 0);
  }
  quorrel::cli::contents table;
  table.source = check.request.source;
  table.rule = split_options.headings;
  table.keywords = keywords;
  const bool tabled = json || contents_path;
  cli_host host(keywords, !quiet && !list && quorrel::cli::is_terminal(stderr), list ? &out : nullptr,
                tabled ? &table : nullptr);
  const auto result = quorrel::run_split(check.request, host, split_options);
  host.done(result.pieces);
  warn_of_invalid_utf8(result);
  if (result.refused) {
    print(stderr, "quorrel-split: 源文件有" + std::to_string(result.refused->count) + "处无法转换为" +
                      *to_name + "的字符，第一处在第" + std::to_string(result.refused->first_line) +
                      "行；未写入任何文件（--replace-invalid 以 U+FFFD 或 ? 代替）\n");
    return flushed(out, exit_input);
  }
  if (result.failure) print(stderr, result.failure->message() + "\n");
  if ((result.stopped || result.failure) && quorrel::stop_signal() != 0) exit_stopped();
  if (result.failure) {
    const bool busy = result.failure->what == quorrel::split_failure::kind::busy;
    return flushed(out, busy ? exit_input : exit_filesystem);
  }
  table.pieces_encoding = split_options.convert_to ? *split_options.convert_to : result.source_encoding;
  if (contents_path) {
    if (auto failed = write_contents(*contents_path, table)) {
      print(stderr, quorrel::messages::write_failed(*contents_path, *failed) + "\n");
      return flushed(out, exit_filesystem);
    }
  }
  if (result.replaced > 0)
    print(stderr, "quorrel-split: " + std::to_string(result.replaced) + "处无法转换的字符已替换为 U+FFFD 或 ?\n");
  if (list && json)
    out.write(quorrel::cli::to_json(table));
  else if (list)
    out.write("合计：" + std::to_string(result.pieces) + "个文件，" + std::to_string(host.total_bytes()) + "字节\n");
  else
    out.write(std::string(quorrel::messages::finished) + "\n");
  return flushed(out, 0);
}

}  // namespace

int main(int argc, char** argv) {
  // The run reports its own failed allocations; this is for the few outside
  // it (arguments, messages), with a text that needs no memory to print.
  try {
    return split_main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("quorrel-split: 内存不足\n", stderr);
    return exit_filesystem;
  }
}
