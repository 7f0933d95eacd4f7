// DecodedMessage: the values of one Message, decoded: flat in decoding
// order and split by subset, with the Message and the TableSet used.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <vector>

#include "py/module_state.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_decoded_message_type(PyObject* module);

// A new instance taking a new reference to each object (`values` a list of
// DecodedValue) and keeping `subset_bounds`: where each subset begins in
// `values`, and its length last. nullptr with an exception set.
PyObject* make_decoded_message(const ModuleState& state, PyObject* message, PyObject* tables,
                               PyObject* values, std::vector<std::size_t> subset_bounds);

}  // namespace quorvel::py
