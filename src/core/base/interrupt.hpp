// Interrupt: how a caller stops long core work between steps. The core polls
// it at intervals and, when it says stop, fails with BufrError::interrupted()
// and publishes nothing. The context is the caller's and outlives the work.
#pragma once

namespace quorvel {

struct Interrupt {
  // True to stop; called from the thread doing the work. Null: never stops.
  bool (*poll)(void* context) = nullptr;
  void* context = nullptr;

  bool requested() const { return poll != nullptr && poll(context); }
};

}  // namespace quorvel
