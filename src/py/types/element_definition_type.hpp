// ElementDefinition: one Table B element, copied out of a TableSet.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_element_definition_type(PyObject* module);

// A new instance holding a copy of the value; nullptr with an exception set.
PyObject* wrap_element_definition(const ModuleState& state, const ElementDefinition& element);

}  // namespace quorvel::py
