// quorrel-split: the window's split from the command line.
//
// Exit status: 0 done, 1 a problem with the input (or the command line),
// 2 a file-system failure (standard output included) or no memory left,
// 128 + N stopped by hang-up, interrupt or terminate signal N (129, 130,
// 143): the run ends at a line boundary, every piece written stays complete.
//
// Standard output is the tool's result, so a failure to write it is an
// error, except a reader that closes the pipe early (`| head`, `| true`): it
// took what it wanted, the output stops there and the status is the run's.

#include <getopt.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>  // strerror
#include <new>  // bad_alloc
#include <string>
#include <vector>

#include "cli/console.h"
#include "core/checks.h"
#include "core/encoding.h"
#include "core/messages.h"
#include "core/split.h"
#include "core/stop_signals.h"

namespace {

constexpr int exit_input = 1;
constexpr int exit_filesystem = 2;

// Messages and progress on stderr: if they cannot be written, there is
// nowhere left to say so.
void print(std::FILE* stream, const std::string& utf8) { quorrel::cli::write(stream, utf8); }

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

// `status` once standard output is flushed; a failure to write it is
// reported and, where all else went well, makes the status a file-system one.
int flushed(standard_output& out, int status) {
  out.finish();
  if (!out.failed()) return status;
  print(stderr, std::string("quorrel-split: 写入标准输出失败：") + out.reason() + "\n");
  return status == 0 ? exit_filesystem : status;
}

class cli_host : public quorrel::fixed_keywords {
 public:
  cli_host(std::vector<std::string> keywords, bool show_progress, standard_output* list)
      : fixed_keywords(std::move(keywords)), show_progress_(show_progress), list_(list) {}

  void encoding_known(const quorrel::encoding& enc) override { enc_ = enc; }

  void progress(std::int64_t saved) override {
    if (!show_progress_) return;
    // At most ten refreshes a second; the line is finished by done().
    const auto now = std::chrono::steady_clock::now();
    last_ = saved;
    if (now - shown_at_ < std::chrono::milliseconds(100)) return;
    shown_at_ = now;
    print(stderr, std::string("\r").append(quorrel::messages::progress(saved)));
    std::fflush(stderr);
    dirty_ = true;
  }

  void done() {
    if (!dirty_) return;
    print(stderr, "\r" + quorrel::messages::progress(last_) + "\n");
  }

  // A listing whose output has failed is over: the rest could not be shown.
  bool stop_requested() override { return quorrel::stop_signal() != 0 || (list_ && list_->broken()); }

  void piece_done(const quorrel::piece_info& piece) override {
    total_bytes_ += piece.size;
    if (!list_) return;
    list_->write(piece.path + "\t" + std::to_string(piece.size) + "\t" +
                 quorrel::decode(piece.first_line, enc_) + "\n");
  }

  std::uint64_t total_bytes() const { return total_bytes_; }

 private:
  bool show_progress_;
  standard_output* list_;  // where the listing goes; null for a real split
  quorrel::encoding enc_;
  std::chrono::steady_clock::time_point shown_at_{};
  std::int64_t last_ = 0;
  bool dirty_ = false;
  std::uint64_t total_bytes_ = 0;
};

void usage(standard_output& out) {
  out.write(
        "用法：quorrel-split [选项]... 源文件 存放目录\n"
        "Usage: quorrel-split [OPTION]... SOURCE DESTINATION\n"
        "Cut SOURCE into pieces at every line that holds all keywords, written as\n"
        "DESTINATION0000.txt, DESTINATION0001.txt, ... (DESTINATION is used as a\n"
        "prefix exactly as given: end it with / to write into a folder).\n"
        "\n"
        "  -k, --keyword=WORD    a keyword; repeat for more (default: 第 and 章)\n"
        "  -e, --encoding=NAME   the source's encoding (GB18030, GBK, Big5, UTF-8,\n"
        "                        UTF-16LE, UTF-16BE...) instead of detecting it\n"
        "  -l, --list            write nothing: list the pieces a split would write\n"
        "                        (name, size in bytes, first line), then the total\n"
        "  -q, --quiet           no progress line\n"
        "      --help            show this help and exit\n"
        "      --version         show the version and exit\n"
        "\n"
        "Exit status: 0 done, 1 a problem with the input, 2 a file could not be\n"
        "read or written (standard output included), 128+N stopped by signal N:\n"
        "129 hang-up, 130 interrupt (Ctrl+C), 143 terminate. A stopped run ends at\n"
        "a line: every piece written stays complete. A reader that closes the pipe\n"
        "early (| head) just ends the output: not an error.\n");
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

  enum { opt_help = 256, opt_version };
  const option options[] = {
      {"keyword", required_argument, nullptr, 'k'}, {"encoding", required_argument, nullptr, 'e'},
      {"list", no_argument, nullptr, 'l'},          {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, opt_help},     {"version", no_argument, nullptr, opt_version},
      {nullptr, 0, nullptr, 0}};
  std::vector<std::string> keywords;
  std::optional<std::string> encoding_name;
  bool list = false, quiet = false;
  for (int c; (c = getopt_long(argc, argv, "k:e:lq", options, nullptr)) != -1;) {
    switch (c) {
      case 'k': keywords.push_back(quorrel::cli::keyword_argument(optarg)); break;
      case 'e': encoding_name = optarg; break;
      case 'l': list = true; break;
      case 'q': quiet = true; break;
      case opt_help: usage(out); return flushed(out, 0);
      case opt_version: out.write("quorrel-split " QUORREL_VERSION "\n"); return flushed(out, 0);
      default:
        std::fputs("Try 'quorrel-split --help' for more information.\n", stderr);
        return exit_input;
    }
  }
  if (argc - optind != 2) {
    std::fputs(argc - optind < 2 ? "quorrel-split: missing operand\n" : "quorrel-split: too many operands\n",
               stderr);
    std::fputs("Try 'quorrel-split --help' for more information.\n", stderr);
    return exit_input;
  }
  if (keywords.empty()) keywords = quorrel::default_keywords();

  quorrel::split_options split_options;
  split_options.dry_run = list;
  if (encoding_name) {
    split_options.forced_encoding = quorrel::encoding_by_name(*encoding_name);
    if (!split_options.forced_encoding) {
      print(stderr, "quorrel-split: 不支持的编码“" + *encoding_name + "”\n");
      return exit_input;
    }
  }

  // Paths go to the file system as the bytes given, blanks included.
  const auto check =
      quorrel::check_inputs(argv[optind], argv[optind + 1], keywords.size(), quorrel::path_text::exact);
  if (!check.ok) {
    print(stderr, check.message + "\n");
    return exit_input;
  }

  quorrel::catch_stop_signals();
  cli_host host(keywords, !quiet && !list && quorrel::cli::is_terminal(stderr), list ? &out : nullptr);
  const auto result = quorrel::run_split(check.request, host, split_options);
  host.done();
  if (result.failure) {
    print(stderr, result.failure->message() + "\n");
    return flushed(out, exit_filesystem);
  }
  if (result.stopped && quorrel::stop_signal() != 0)
    return flushed(out, quorrel::exit_status_for_signal(quorrel::stop_signal()));
  if (list)
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
