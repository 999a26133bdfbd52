#pragma once
// Why a split run failed: what went wrong, where, and the system's reason.
// Made by the run and its writer (core/split.h, core/piece_writer.h); shown
// by the window and the command-line tool through message().

#include <cstdint>
#include <string>

#include "core/messages.h"

namespace quorrel {

struct split_failure {
  // undecided: the pattern could not decide line `line` of the source in time.
  enum class kind { read, write, busy, undecided };
  kind what = kind::read;
  std::string path;    // busy: the destination's folder
  std::string reason;  // the system's description of the error
  std::int64_t line = 0;
  std::string message() const {  // the text shown to the user
    switch (what) {
      case kind::read: return messages::read_failed(path, reason);
      case kind::write: return messages::write_failed(path, reason);
      case kind::undecided: return messages::pattern_undecided(path, line);
      case kind::busy: break;
    }
    return messages::folder_busy(path);
  }
};

}  // namespace quorrel
