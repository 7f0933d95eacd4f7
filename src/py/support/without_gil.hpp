// without_gil: runs core work with the GIL released, and the Interrupt that
// lets it stop for a pending signal. The work must touch no Python object;
// its inputs must stay put meanwhile (bytes, TableSets and messages held by
// the caller's arguments are immutable; anything else is copied first).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <chrono>
#include <type_traits>

#include "core/base/interrupt.hpp"

namespace quorvel::py {

// Releases the GIL for its lifetime, so that an exception from the work
// (std::bad_alloc) takes it back before it reaches guarded().
class GilReleased {
 public:
  GilReleased() : thread_(PyEval_SaveThread()) {}
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;
  ~GilReleased() { PyEval_RestoreThread(thread_); }

  // Stops the work when a signal handler raised. Taking the GIL may wait for
  // another thread's turn, so it is taken at most once per kPollInterval;
  // between those a poll only reads the clock.
  Interrupt interrupt() { return Interrupt{poll, this}; }

 private:
  static constexpr std::chrono::milliseconds kPollInterval{20};

  static bool poll(void* context);

  PyThreadState* thread_;
  std::chrono::steady_clock::time_point last_poll_ = std::chrono::steady_clock::now();
};

// work(Interrupt), or work() for work too short to poll, with the GIL
// released; its result, with the GIL held again. An interrupted work leaves
// the signal handler's exception set (see raise_error).
template <class Work>
auto without_gil(Work&& work) {
  GilReleased released;
  if constexpr (std::is_invocable_v<Work&, Interrupt>) {
    return work(released.interrupt());
  } else {
    return work();
  }
}

}  // namespace quorvel::py
