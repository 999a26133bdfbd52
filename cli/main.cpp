// quorrel-split: the window's split from the command line.
//
// Exit status: 0 done, 1 a problem with the input (or the command line, or
// another run writing into the destination's folder: nothing is written; or
// a pattern too slow for a line: the pieces before it stay),
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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>  // _Exit
#include <functional>
#include <new>  // bad_alloc
#include <optional>
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
#include "core/heading_choice.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/split.h"
#include "core/stop_signals.h"

namespace {

constexpr int exit_input = 1;
constexpr int exit_filesystem = 2;
constexpr int exit_findings = 3;
constexpr std::uint64_t default_check_size = 200 * 1024;  // bytes: a long chapter, but a chapter
constexpr std::uint64_t largest_size = std::uint64_t{1} << 40;  // bytes: 1048576M, far past any book
// The most standard output is given at once: PIPE_BUF, the most a pipe
// takes whole or not at all.
constexpr std::size_t output_piece = 4096;  // bytes

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
  if (quorrel::equal_ignoring_case(suffix, "K")) shift = 10;
  else if (quorrel::equal_ignoring_case(suffix, "M")) shift = 20;
  else if (!suffix.empty()) return std::nullopt;
  if (at == 0 || value == 0 || value > largest_size >> shift) return std::nullopt;
  return value << shift;
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
  // Once a write has failed, what follows is dropped. Written in pieces
  // (cut between characters) with a look for a stop between them: a piece
  // that a pipe nobody reads cannot take is cut short by the stop signal
  // (EINTR) where a longer write would be retried by the C library, and a
  // stop seen between pieces ends the output there.
  void write(std::string_view utf8) {
    while (error_ == 0 && !utf8.empty()) {
      if (quorrel::stop_signal() != 0) {
        error_ = EINTR;
        return;
      }
      std::size_t size = std::min(utf8.size(), output_piece);
      while (size < utf8.size() && size > 1 && (static_cast<unsigned char>(utf8[size]) & 0xC0) == 0x80) --size;
      if (!quorrel::cli::write(stdout, utf8.substr(0, size))) error_ = errno;
      utf8.remove_prefix(size);
    }
  }

  void finish() {
    if (error_ == 0 && !quorrel::cli::flush(stdout)) error_ = errno;
  }

  bool broken() const { return error_ != 0; }
  // The reader closing its end is not a failure of the tool.
  bool failed() const { return error_ != 0 && error_ != EPIPE; }
  std::string reason() const { return quorrel::file::system_reason(error_); }

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
// reported and, where all else went well, makes the status a file-system
// one: a report of --check that could not be written is no report.
int flushed(standard_output& out, int status) {
  out.finish();
  if (quorrel::stop_signal() != 0 && out.broken()) exit_stopped();
  if (!out.failed()) return status;
  print(stderr, "quorrel-split: 写入标准输出失败：" + out.reason() + "\n");
  return status == 0 || status == exit_findings ? exit_filesystem : status;
}

class cli_host : public quorrel::fixed_keywords {
 public:
  // With `table`, the table of contents goes through `json` as the pieces
  // come (the listing, if any, is then the table). Its pieces' encoding is
  // the source's unless it was set.
  cli_host(std::vector<std::string> keywords, bool show_progress, standard_output* list,
           quorrel::cli::contents* table, std::function<void(std::string_view)> json)
      : fixed_keywords(std::move(keywords)), show_progress_(show_progress), list_(list), table_(table),
        json_(std::move(json)) {}

  void encoding_known(const quorrel::encoding& enc) override {
    enc_ = enc;
    if (!table_) return;
    table_->source_encoding = enc;
    if (table_->pieces_encoding.name.empty()) table_->pieces_encoding = enc;
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
      // The head waits for the first piece: a conversion refused before
      // any piece writes nothing.
      if (!table_started_) json_(quorrel::cli::json_head(*table_));
      json_(quorrel::cli::json_piece({piece.number, piece.path, piece.kind, std::string(quorrel::trim_blanks(title)),
                                      piece.line, piece.offset, piece.size},
                                     !table_started_));
      table_started_ = true;
      return;
    }
    if (!list_) return;
    list_->write(quorrel::cli::visible(piece.path) + "\t" + std::to_string(piece.size) + "\t" +
                 quorrel::cli::visible(quorrel::decode(piece.first_line, enc_)) + "\n");
  }

  // The end of the table of contents, after the last piece.
  void finish_table() {
    if (!table_started_) json_(quorrel::cli::json_head(*table_));
    json_(quorrel::cli::json_end(table_started_));
  }

  std::uint64_t total_bytes() const { return total_bytes_; }

 private:
  bool show_progress_;
  standard_output* list_;  // where the listing goes; null for a real split
  quorrel::cli::contents* table_;
  std::function<void(std::string_view)> json_;
  bool table_started_ = false;
  quorrel::encoding enc_;
  std::chrono::steady_clock::time_point shown_at_{};
  bool dirty_ = false;
  std::uint64_t total_bytes_ = 0;
};

// Another run writing into the folder, or a pattern too slow for a line of
// the source, is a problem with the input: nothing on disk failed.
int failure_status(const quorrel::split_failure& failure) {
  using kind = quorrel::split_failure::kind;
  return failure.what == kind::busy || failure.what == kind::undecided ? exit_input : exit_filesystem;
}

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
// source itself, anything but a regular file (a link is not followed), or
// a name the run may give a piece.
std::optional<std::string> contents_refused(const std::string& path, const quorrel::split_request& request,
                                            quorrel::piece_names names) {
  const auto id = quorrel::file::identity_of(path);
  if (id && id == quorrel::file::identity_of(request.source)) return std::string(quorrel::messages::piece_is_source);
  if (auto allowed = quorrel::file::may_put_in_place(path); !allowed) return allowed.reason();
  if (quorrel::is_piece_path(path, request.destination, names))
    return std::string(quorrel::messages::contents_is_piece);
  return std::nullopt;
}

void usage(standard_output& out) {
  out.write(
        "用法：quorrel-split [选项]... 源文件 存放目录\n"
        "      quorrel-split --check [选项]... 源文件 [存放目录]\n"
        "Usage: quorrel-split [OPTION]... SOURCE DESTINATION\n"
        "       quorrel-split --check [OPTION]... SOURCE [DESTINATION]\n"
        "Cut SOURCE into pieces at every line that holds all keywords, written as\n"
        "DESTINATION0000.txt, DESTINATION0001.txt, ... (DESTINATION is used as a\n"
        "prefix exactly as given: end it with " +
      std::string(1, quorrel::separator) +
      " to write into a folder, which is\n"
        "made, with its parents, when it is missing). Pieces of an earlier run that\n"
        "this one did not write again are counted on stderr, never removed.\n"
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
        "                        match starts a piece, e.g. '^Chapter [0-9]+$'; a line\n"
        "                        it cannot decide in about a second stops the run\n"
        "      --max-size=SIZE   a piece that grows past SIZE bytes (K, M suffixes:\n"
        "                        300K, 2M; at most 1048576M) ends at that line; the\n"
        "                        text after it goes on in the next piece\n"
        "      --check           write nothing, so DESTINATION may be left out:\n"
        "                        report numbering that jumps, repeats or goes back,\n"
        "                        pieces over 200K (or --max-size) or under 3 lines,\n"
        "                        and near misses (lines refused by a guard), each\n"
        "                        with its line number, then a summary\n"
        "  -e, --encoding=NAME   the source's encoding (GB18030, GBK, Big5, UTF-8,\n"
        "                        UTF-16LE, UTF-16BE...) instead of detecting it\n"
        "  -l, --list            write nothing: list the pieces a split into\n"
        "                        DESTINATION would write (name, size in bytes, first\n"
        "                        line), then the total\n"
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
        "  -h, --help            show this help and exit\n"
        "      --version         show the version and exit\n"
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
    opt_version = 256, opt_headings, opt_pattern, opt_max_size, opt_check,
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
      {"help", no_argument, nullptr, 'h'},                   {"version", no_argument, nullptr, opt_version},
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
  for (int c; (c = getopt_long(argc, argv, ":hk:e:lq", options, nullptr)) != -1;) {
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
        titles = quorrel::equal_ignoring_case(optarg, "title");
        if (!titles && !quorrel::equal_ignoring_case(optarg, "number"))
          return bad_usage(std::string("无效的“--names=") + optarg + "”（可用 title 或 number）");
        break;
      case opt_to: to_name = optarg; break;
      case opt_replace_invalid: replace_invalid = true; break;
      case 'h': usage(out); return flushed(out, 0);
      case opt_version: out.write("quorrel-split " QUORREL_VERSION "\n"); return flushed(out, 0);
      default:
        print(stderr, option_problem(c, optind > 1 ? argv[optind - 1] : "", options));
        print(stderr, usage_hint);
        return exit_input;
    }
  }
  // A check writes nothing, so it needs no destination.
  const int operands = argc - optind;
  if (operands < (check_only ? 1 : 2) || operands > 2) {
    print(stderr, operands > 2     ? "quorrel-split: 多余的参数\n"
                  : check_only ? "quorrel-split: 缺少源文件\n"
                               : "quorrel-split: 缺少源文件或存放目录\n");
    print(stderr, usage_hint);
    return exit_input;
  }
  const char* const destination = operands == 2 ? argv[optind + 1] : "";
  // Options that exclude each other are refused before anything is read
  // or written.
  auto refuse = bad_usage;
  quorrel::split_options split_options;
  if (headings) {
    const auto named = quorrel::rule_named(*headings);
    if (!named) return refuse("未知的标题规则“" + *headings + "”（可用 keywords、auto）");
    split_options.headings.which = *named;
  }
  if (pattern) {
    if (headings) return refuse("--pattern 与 --headings 不能同时使用");
    if (const auto problem = quorrel::pattern_problem(*pattern)) {
      std::string where;  // none for an empty pattern
      if (problem->offset > 0)
        where = "（" + (problem->line > 0 ? "第" + std::to_string(problem->line) + "行" : "") + "第" +
                std::to_string(problem->offset) + "个字符）";
      return refuse("正则表达式“" + *pattern + "”有误：" + problem->reason + where);
    }
    split_options.headings = {quorrel::heading_choice::rule::pattern, *pattern};
  }
  if (!keywords.empty() && split_options.headings.which != quorrel::heading_choice::rule::keywords)
    return refuse("--keyword 只用于 --headings=keywords");
  if (max_size) {
    const auto bytes = size_argument(*max_size);
    if (!bytes) return refuse("无效的大小“" + *max_size + "”（例如 300K、2M 或字节数，至多 1048576M）");
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
  const auto check = quorrel::check_inputs(
      argv[optind], destination, keywords.size(), quorrel::path_text::exact,
      titles ? quorrel::piece_names::titles : quorrel::piece_names::numbers,
      check_only ? quorrel::destination_use::optional : quorrel::destination_use::required);
  if (!check.ok) {
    print(stderr, check.message + "\n");
    return exit_input;
  }
  // Before anything is written, and only by a run that writes.
  if (const std::string problem = split_options.dry_run ? "" : quorrel::make_destination_folder(destination);
      !problem.empty()) {
    print(stderr, problem + "\n");
    return exit_filesystem;
  }
  // The table's new file is made before any piece: a folder that cannot
  // take it stops the run before anything is written.
  std::optional<quorrel::cli::contents_file> contents_out;
  if (contents_path) {
    if (auto refused = contents_refused(*contents_path, check.request,
                                        titles ? quorrel::piece_names::titles : quorrel::piece_names::numbers)) {
      print(stderr, quorrel::messages::write_failed(*contents_path, *refused) + "\n");
      return exit_input;
    }
    contents_out.emplace(*contents_path,
                         quorrel::file::identity_of(check.request.source).value_or(quorrel::file::identity{}));
    if (contents_out->failure()) {
      print(stderr, quorrel::messages::write_failed(*contents_path, *contents_out->failure()) + "\n");
      return exit_filesystem;
    }
  }

  quorrel::catch_stop_signals();
  if (check_only) {
    quorrel::cli::check_host checker(keywords, max_size ? *size_argument(*max_size) : default_check_size,
                                     argv[optind], [&out](const std::string& line) {
                                       out.write(line);
                                       return !out.broken();
                                     });
    const auto result = quorrel::run_split(check.request, checker, split_options);
    warn_of_invalid_utf8(result);
    if (result.failure) {
      print(stderr, result.failure->message() + "\n");
      return flushed(out, failure_status(*result.failure));
    }
    if (result.stopped && quorrel::stop_signal() != 0) exit_stopped();
    if (!result.stopped) checker.finish(result.pieces);
    return flushed(out, checker.found_anything() ? exit_findings : 0);
  }
  quorrel::cli::contents table;
  table.source = check.request.source;
  table.rule = split_options.headings;
  table.keywords = keywords;
  if (split_options.convert_to) table.pieces_encoding = *split_options.convert_to;
  const bool tabled = json || contents_path;
  std::function<void(std::string_view)> json_out;
  if (contents_out) json_out = [&contents_out](std::string_view text) { contents_out->write(text); };
  else json_out = [&out](std::string_view text) { out.write(text); };
  cli_host host(keywords, !quiet && !list && quorrel::cli::is_terminal(stderr), list ? &out : nullptr,
                tabled ? &table : nullptr, json_out);
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
  if ((result.stopped || result.failure) && quorrel::stop_signal() != 0) {
    contents_out.reset();  // its new file goes: _Exit runs no destructor
    exit_stopped();
  }
  if (result.failure) return flushed(out, failure_status(*result.failure));
  if (contents_out) {
    host.finish_table();
    if (!contents_out->finish()) {
      print(stderr, quorrel::messages::write_failed(*contents_path, *contents_out->failure()) + "\n");
      return flushed(out, exit_filesystem);
    }
  }
  if (result.replaced > 0)
    print(stderr, "quorrel-split: " + std::to_string(result.replaced) + "处无法转换的字符已替换为 U+FFFD 或 ?\n");
  if (const auto left = list ? 0 : quorrel::leftover_pieces(check.request.destination, result.pieces); left > 0)
    print(stderr, "quorrel-split: " + quorrel::messages::leftover_pieces(quorrel::folder_of(destination), left) + "\n");
  if (list && json)
    host.finish_table();
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
