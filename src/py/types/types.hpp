// The class wrappers: each makes its heap type in module init and wraps core
// values into new instances.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <string>

#include "core/decode/decoded_value.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// Each returns a new reference to the type, or nullptr with an exception set.
PyTypeObject* make_bufr_message_type(PyObject* module);
PyTypeObject* make_decoded_value_type(PyObject* module);
PyTypeObject* make_descriptor_type(PyObject* module);
PyTypeObject* make_element_definition_type(PyObject* module);
PyTypeObject* make_sequence_definition_type(PyObject* module);
PyTypeObject* make_table_set_type(PyObject* module);

PyObject* wrap_bufr_message(const ModuleState& state, BufrMessage message);
PyObject* wrap_element_definition(const ModuleState& state, const ElementDefinition& element);
PyObject* wrap_sequence_definition(const ModuleState& state, const SequenceDefinition& sequence);
PyObject* wrap_table_set(const ModuleState& state, TableSet tables);
// Decodes the section 4 of `message` (parsed from `message_bytes`) into a
// new list of DecodedValue, or returns nullptr with the error raised.
PyObject* decode_to_list(const ModuleState& state, const BufrMessage& message,
                         std::span<const std::uint8_t> message_bytes, const TableSet& tables);

// A double in its shortest round-trip decimal form, always with a fraction
// or an exponent: 25.0, -0.5, 1e16, 2.5e-5.
std::string format_shortest(double value);

// The expansion of `descriptors` as a new list of int, or nullptr with the
// expansion's error raised.
PyObject* expand_to_list(const TableSet& tables, std::span<const std::uint32_t> descriptors);

// Argument converters for our own classes: the value inside an instance of the
// class (or a subclass), or nullptr with a TypeError naming the argument.
const BufrMessage* convert_bufr_message(const ModuleState& state, PyObject* object,
                                        const char* name);
const TableSet* convert_table_set(const ModuleState& state, PyObject* object, const char* name);

}  // namespace quorvel::py
