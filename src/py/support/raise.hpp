// The one mapping from core failures to Python exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/base/bufr_error.hpp"
#include "core/base/file_io.hpp"

namespace quorvel::py {

// ValueError carrying error.message(), except for an interrupted work, which
// leaves the signal handler's exception; returns nullptr for the caller to
// return.
PyObject* raise_error(const BufrError& error);

// OSError("<description> (os error N)") for a failed file read, except for a
// read interrupted by a signal whose handler raised: that exception stays.
PyObject* raise_os_error(const OsError& error);

}  // namespace quorvel::py
