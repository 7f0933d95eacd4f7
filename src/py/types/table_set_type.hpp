// TableSet: the tables a message is decoded with. Python may construct an
// empty one or load one with the static methods.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"
#include "py/tables/held_tables.hpp"

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_table_set_type(PyObject* module);

// A new instance holding `tables`; nullptr with an exception set.
PyObject* wrap_table_set(const ModuleState& state, HeldTables tables);

// A new instance holding tables chosen for `key` (as the table cache gives
// them), which pickles by the key; nullptr with an exception set.
PyObject* wrap_definition_tables(const ModuleState& state, std::shared_ptr<const TableSet> tables,
                                 const DefinitionKey& key);

// The tables an instance holds, shared; `table_set` must be an instance (see
// convert_table_set).
std::shared_ptr<const TableSet> shared_tables_of(PyObject* table_set);

// The expansion of `descriptors` as a new list of int, or nullptr with the
// expansion's error raised.
PyObject* expand_to_list(const TableSet& tables, std::span<const std::uint32_t> descriptors);

}  // namespace quorvel::py
