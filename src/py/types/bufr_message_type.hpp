// BufrMessage: the header of one message, as parsed. Instances come only from
// the parse functions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/message/section_parser.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_bufr_message_type(PyObject* module);

// A new instance owning `message`; nullptr with an exception set.
PyObject* wrap_bufr_message(const ModuleState& state, BufrMessage message);

// The names of the class's attributes, in the order it defines them, as a new
// tuple of str.
PyObject* bufr_message_field_names();

}  // namespace quorvel::py
