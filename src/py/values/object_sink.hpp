// decode_to_list: decodes a message's values without the GIL, then makes them
// into DecodedValue objects laid out in memory in the order of their list.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>

#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// Decodes the section 4 of `message` (parsed from `message_bytes`) into a
// new list of DecodedValue, or returns nullptr with the error raised. The
// GIL is released while decoding: the arguments must not change meanwhile.
PyObject* decode_to_list(ModuleState& state, const BufrMessage& message,
                         std::span<const std::uint8_t> message_bytes, const TableSet& tables);

}  // namespace quorvel::py
