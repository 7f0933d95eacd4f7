// DecodedValue: one value decoded from section 4. Instances come only from
// the object sink, which lays them out in slabs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_decoded_value_type(PyObject* module);

}  // namespace quorvel::py
