// quorrel-split: the window's split from the command line (cli/run.h says
// what it prints and the status it ends with).

#include <cstdio>
#include <new>  // bad_alloc
#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/run.h"
#include "core/messages.h"

int main(int argc, char** argv) {
  // The run reports its own failed allocations; this is for the few outside
  // it (arguments, messages), with a text that needs no memory to print.
  try {
    quorrel::cli::init_console();
    const quorrel::cli::parsed line = quorrel::cli::parse(quorrel::cli::arguments(argc, argv));
    if (!line.problem) return quorrel::cli::run(line.run);
    std::string text = "quorrel-split: " + *line.problem + "\n";
    if (line.hint) text.append(quorrel::messages::usage_hint).append("\n");
    quorrel::cli::write(stderr, text);
    return 1;  // a problem with the input
  } catch (const std::bad_alloc&) {
    std::fputs("quorrel-split: ", stderr);
    std::fwrite(quorrel::messages::out_of_memory.data(), 1, quorrel::messages::out_of_memory.size(), stderr);
    std::fputs("\n", stderr);
    return 2;  // no memory left
  }
}
