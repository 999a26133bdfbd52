#include "core/split_failure.h"

#include "core/messages.h"

namespace quorrel {

std::string split_failure::message() const {
  switch (what) {
    case kind::read: return messages::read_failed(path, reason);
    case kind::write: return messages::write_failed(path, reason);
    case kind::undecided: return messages::pattern_undecided(path, line);
    case kind::busy: break;
  }
  return messages::folder_busy(path);
}

}  // namespace quorrel
