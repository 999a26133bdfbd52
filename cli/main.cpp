// quorrel-split: the window's split from the command line.
//
// Exit status: 0 done, 1 a problem with the input (or the command line),
// 2 a file-system failure or no memory left, 130 interrupted (the piece
// being written is removed, those before it stay).

#include <getopt.h>
#include <langinfo.h>  // nl_langinfo: the locale's encoding for keywords and messages
#include <unistd.h>    // isatty

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <new>  // bad_alloc
#include <string>
#include <vector>

#include "core/checks.h"
#include "core/encoding.h"
#include "core/messages.h"
#include "core/split.h"

namespace {

constexpr int exit_input = 1;
constexpr int exit_filesystem = 2;
constexpr int exit_interrupted = 130;

std::atomic<bool> interrupted{false};
extern "C" void on_signal(int) { interrupted = true; }

// Arguments and output are in the locale's encoding. The C locale counts as
// UTF-8: that is what terminals and file names carry on Linux.
class terminal_text {
 public:
  terminal_text() {
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset != "UTF-8" && codeset != "ANSI_X3.4-1968") locale_ = quorrel::encoding_by_name(codeset);
  }
  std::string from_argument(const char* arg) const {
    return locale_ ? quorrel::decode(arg, *locale_) : std::string(arg);
  }
  std::string to_output(const std::string& utf8) const {
    if (!locale_) return utf8;
    return quorrel::encode(utf8, *locale_).value_or(utf8);
  }

 private:
  std::optional<quorrel::encoding> locale_;
};

const terminal_text* text = nullptr;

void print(std::FILE* stream, const std::string& utf8) {
  std::fputs(text->to_output(utf8).c_str(), stream);
}

class cli_host : public quorrel::fixed_keywords {
 public:
  cli_host(std::vector<std::string> keywords, bool show_progress, bool list)
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

  bool stop_requested() override { return interrupted.load(std::memory_order_relaxed); }

  void piece_done(const quorrel::piece_info& piece) override {
    total_bytes_ += piece.size;
    if (!list_) return;
    print(stdout, piece.path + "\t" + std::to_string(piece.size) + "\t" +
                      quorrel::decode(piece.first_line, enc_) + "\n");
  }

  std::uint64_t total_bytes() const { return total_bytes_; }

 private:
  bool show_progress_;
  bool list_;
  quorrel::encoding enc_;
  std::chrono::steady_clock::time_point shown_at_{};
  std::int64_t last_ = 0;
  bool dirty_ = false;
  std::uint64_t total_bytes_ = 0;
};

void usage(std::FILE* stream) {
  print(stream,
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
        "read or written, 130 interrupted.\n");
}

int split_main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const terminal_text terminal;
  text = &terminal;

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
      case 'k': keywords.push_back(terminal.from_argument(optarg)); break;
      case 'e': encoding_name = optarg; break;
      case 'l': list = true; break;
      case 'q': quiet = true; break;
      case opt_help: usage(stdout); return 0;
      case opt_version: std::printf("quorrel-split %s\n", QUORREL_VERSION); return 0;
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
  if (keywords.empty()) keywords = {"第", "章"};

  quorrel::split_options split_options;
  split_options.dry_run = list;
  if (encoding_name) {
    split_options.forced_encoding = quorrel::encoding_by_name(*encoding_name);
    if (!split_options.forced_encoding) {
      print(stderr, "quorrel-split: 不支持的编码“" + *encoding_name + "”\n");
      return exit_input;
    }
  }

  // Paths go to the file system as the bytes given.
  const auto check = quorrel::check_inputs(argv[optind], argv[optind + 1], keywords.size());
  if (!check.ok) {
    print(stderr, check.message + "\n");
    return exit_input;
  }

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  cli_host host(keywords, !quiet && !list && isatty(STDERR_FILENO), list);
  const auto result = quorrel::run_split(check.request, host, split_options);
  host.done();
  if (result.failure) {
    print(stderr, result.failure->message() + "\n");
    return exit_filesystem;
  }
  if (result.stopped) return exit_interrupted;
  if (list)
    print(stdout, "合计：" + std::to_string(result.pieces) + "个文件，" +
                      std::to_string(host.total_bytes()) + "字节\n");
  else
    print(stdout, std::string(quorrel::messages::finished) + "\n");
  return 0;
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
