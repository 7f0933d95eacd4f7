// DecodedValue: one value decoded from section 4. Instances come from the
// object sink, which lays them out in slabs, and from unpickling.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "py/module_state.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_decoded_value_type(PyObject* module);

// An instance from the values its __reduce__ gives: descriptor, name, unit,
// raw, raw_value, raw_text, raw_meaning (the last four may be None); nullptr
// with an exception set.
PyObject* restore_decoded_value(ModuleState& state, PyObject* const* fields);

}  // namespace quorvel::py
