// TableSet: the tables a message is decoded with. Python may construct an
// empty one or load one with the static methods.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>

#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_table_set_type(PyObject* module);

// A new instance owning `tables`; nullptr with an exception set.
PyObject* wrap_table_set(const ModuleState& state, TableSet tables);

// The expansion of `descriptors` as a new list of int, or nullptr with the
// expansion's error raised.
PyObject* expand_to_list(const TableSet& tables, std::span<const std::uint32_t> descriptors);

}  // namespace quorvel::py
