// How loops that make many Python objects with the GIL held still see Ctrl-C.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace quorvel::py {

// Signal handlers run only when the GIL holder asks; a result of millions
// of objects takes a second or more to make, so its loop asks once per this
// many objects (well under 100 ms apart, and too rare to cost anything).
inline constexpr std::size_t kObjectsPerSignalCheck = std::size_t{1} << 16;

// For the loop making object number `made`: false with the handler's
// exception set when a signal handler raised.
inline bool no_signal_at(std::size_t made) {
  return made % kObjectsPerSignalCheck != kObjectsPerSignalCheck - 1 || PyErr_CheckSignals() == 0;
}

}  // namespace quorvel::py
