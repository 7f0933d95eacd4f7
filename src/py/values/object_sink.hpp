// decode_to_list: decodes a message's values without the GIL, then makes them
// into DecodedValue objects laid out in memory in the order of their list.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"
#include "py/support/raise.hpp"

namespace quorvel::py {

// Decodes the section 4 of `message` (parsed from `message_bytes`) into a
// new list of DecodedValue, or returns nullptr with the error raised. The
// GIL is released while decoding: the arguments must not change meanwhile.
PyObject* decode_to_list(ModuleState& state, const BufrMessage& message,
                         std::span<const std::uint8_t> message_bytes, const TableSet& tables);

// Raises the exception for a failed decode and returns nullptr.
using DecodeFailure = std::function<PyObject*(const BufrError&, const DecodeWhere&)>;

// The same, raising through `fail`; when `subset_bounds` is not null it
// receives where each subset of the message begins in the returned list, and
// the list's length last (left untouched on failure).
PyObject* decode_to_lists(ModuleState& state, const BufrMessage& message,
                          std::span<const std::uint8_t> message_bytes, const TableSet& tables,
                          std::vector<std::size_t>* subset_bounds, const DecodeFailure& fail);

}  // namespace quorvel::py
