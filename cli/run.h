#pragma once
// quorrel-split's run of a command line already read (cli/options.h): the
// split, the listing, the check, --help and --version, with what they
// print and the status they end with.
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

#include "cli/options.h"

namespace quorrel::cli {

// The exit status, or no return at all when a signal stopped the run.
int run(const command& c);

}  // namespace quorrel::cli
