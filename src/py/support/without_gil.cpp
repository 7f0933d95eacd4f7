#include "py/support/without_gil.hpp"

namespace quorvel::py {

bool GilReleased::poll(void* context) {
  auto& self = *static_cast<GilReleased*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (now - self.last_poll_ < kPollInterval) {
    return false;
  }
  self.last_poll_ = now;
  PyEval_RestoreThread(self.thread_);
  const bool raised = PyErr_CheckSignals() != 0;
  self.thread_ = PyEval_SaveThread();
  return raised;
}

}  // namespace quorvel::py
