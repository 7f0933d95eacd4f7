// Descriptor: F, X and Y of a descriptor and its code; Python may construct it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_descriptor_type(PyObject* module);

}  // namespace quorvel::py
