// DecodedMessage: the values of one Message, decoded: flat in decoding
// order and split by subset, with the Message and the TableSet used.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "py/module_state.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_decoded_message_type(PyObject* module);

// A new instance taking a new reference to each argument (`values` a list of
// DecodedValue, `subsets` a list of such lists); nullptr with an exception set.
PyObject* make_decoded_message(const ModuleState& state, PyObject* message, PyObject* tables,
                               PyObject* values, PyObject* subsets);

}  // namespace quorvel::py
