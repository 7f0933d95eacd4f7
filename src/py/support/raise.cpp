#include "py/support/raise.hpp"

namespace quorvel::py {

PyObject* raise_error(const BufrError& error) {
  if (std::holds_alternative<error::Interrupted>(error.kind())) {
    // A signal handler stopped the work and its exception is pending; an
    // Interrupt that set none still must not look like bad data.
    if (PyErr_Occurred() == nullptr) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
    }
    return nullptr;
  }
  PyErr_SetString(PyExc_ValueError, error.message().c_str());
  return nullptr;
}

PyObject* raise_os_error(const OsError& error) {
  // A read stopped for a signal fails with EINTR after the signal handler
  // raised; its exception is the one to see.
  if (PyErr_Occurred() != nullptr) {
    return nullptr;
  }
  PyErr_SetString(PyExc_OSError, describe_os_error(error.code).c_str());
  return nullptr;
}

}  // namespace quorvel::py
