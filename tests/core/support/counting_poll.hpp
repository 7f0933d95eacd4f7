// CountingPoll: an Interrupt that asks to stop on a chosen poll and counts
// the polls, for tests of the work that polls.
#pragma once

#include "core/base/interrupt.hpp"

namespace quorvel::testing {

struct CountingPoll {
  int stop_at = 0;  // the poll that asks to stop; 0: none does
  int calls = 0;

  static bool poll(void* context) {
    auto& self = *static_cast<CountingPoll*>(context);
    return ++self.calls == self.stop_at;
  }
  Interrupt interrupt() { return Interrupt{poll, this}; }
};

}  // namespace quorvel::testing
