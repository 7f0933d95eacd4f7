// MessageError: the ValueError of one message of a file (or of bytes) that
// could not be parsed or decoded, naming the source, the message's index and
// offset, and for a decode the descriptor it failed at.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

// A new reference to the exception class, made for `module`, or nullptr with
// an exception set.
PyTypeObject* make_message_error_type(PyObject* module);

// TableVersionWarning, the UserWarning given when a message is decoded with
// another master tables version than it names.
PyTypeObject* make_table_version_warning_type(PyObject* module);

}  // namespace quorvel::py
