// The class wrappers: each makes its heap type in module init and wraps core
// values into new instances.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lib/module_state.hpp"
#include "message/section_parser.hpp"

namespace quorvel::py {

// Each returns a new reference to the type, or nullptr with an exception set.
PyTypeObject* make_bufr_message_type(PyObject* module);
PyTypeObject* make_descriptor_type(PyObject* module);

PyObject* wrap_bufr_message(const ModuleState& state, BufrMessage message);

}  // namespace quorvel::py
