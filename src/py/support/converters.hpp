// Argument converters: one per argument kind. Each takes the object and the
// argument's name and returns the value, or nothing with a Python exception
// set whose message begins "argument '<name>': ".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// Sets `type` with "argument '<name>': <detail>"; returns nullptr.
PyObject* set_argument_error(PyObject* type, const char* name, const std::string& detail);

// A `bytes` object (or subclass), viewed in place for the duration of the call.
std::optional<std::span<const std::uint8_t>> convert_bytes(PyObject* object, const char* name);

// A `str` (or subclass), encoded for the file system.
std::optional<std::string> convert_path(PyObject* object, const char* name);

// A `str` or None, borrowed as it is.
std::optional<PyObject*> convert_text_or_none(PyObject* object, const char* name);

// True or False.
std::optional<bool> convert_bool(PyObject* object, const char* name);

// An int (or any object with __index__) from 0 to `max`.
std::optional<std::uint64_t> convert_unsigned(PyObject* object, const char* name,
                                              std::uint64_t max);

// An int from 0 to 255.
std::optional<std::uint8_t> convert_octet(PyObject* object, const char* name);

// A descriptor code: an int from 0 to 2**32 - 1.
std::optional<std::uint32_t> convert_code(PyObject* object, const char* name);

// A sequence of descriptor codes: a list, a tuple or any registered
// collections.abc.Sequence except str, each item an int from 0 to 2**32 - 1.
std::optional<std::vector<std::uint32_t>> convert_descriptors(PyObject* object, const char* name);

// The value inside an instance of one of the module's classes (or of a
// subclass), borrowed from `object` for the duration of the call.
std::optional<const BufrMessage*> convert_bufr_message(const ModuleState& state, PyObject* object,
                                                       const char* name);
std::optional<const TableSet*> convert_table_set(const ModuleState& state, PyObject* object,
                                                 const char* name);

}  // namespace quorvel::py
