#include "py/support/raise.hpp"

namespace quorvel::py {

PyObject* raise_error(const BufrError& error) {
  PyErr_SetString(PyExc_ValueError, error.message().c_str());
  return nullptr;
}

PyObject* raise_os_error(const OsError& error) {
  PyErr_SetString(PyExc_OSError, describe_os_error(error.code).c_str());
  return nullptr;
}

}  // namespace quorvel::py
