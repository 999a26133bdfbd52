#pragma once
// quorrel-split's command line: one table of its options (in options.cpp),
// from which the parser and --help are made (the install tests hold the
// manual page and the bash completion to --help), and the parser, which
// turns the arguments into a command or says what is wrong with them.
//
// Nothing here reads or writes a file: a command line is refused before
// anything is touched.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/split.h"

namespace quorrel::cli {

// The text --help prints.
std::string usage();

// What a valid command line asks for.
struct command {
  enum class action { split, check, list, help, version };
  action what = action::split;
  std::string source, destination;    // destination "" when a check leaves it out
  std::vector<std::string> keywords;  // the defaults when none are given
  split_options options;
  std::uint64_t check_size = 0;  // bytes: the size a check reports pieces over
  std::optional<std::string> contents_path;
  std::string to_name;  // --to as given, for the refusal's text
  bool json = false;
  bool quiet = false;
};

// A command, or why there is none: the text to show (without the
// program's name before it) and whether the hint to --help follows it.
// Either way the status is a problem with the input.
struct parsed {
  command run;
  std::optional<std::string> problem;
  bool hint = true;
};

// `arguments` after the program's name, in UTF-8 but for paths (the bytes
// given) and keywords and the pattern (the locale's, on Linux). The first
// problem is the one reported; --help and --version answer as soon as they
// are met, whatever follows. One call at a time: getopt's state is the
// process's.
parsed parse(const std::vector<std::string>& arguments);

}  // namespace quorrel::cli
