// The one mapping from core failures to Python exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string_view>

#include "core/base/bufr_error.hpp"
#include "core/base/file_io.hpp"
#include "core/decode/decode_walk.hpp"
#include "py/module_state.hpp"

namespace quorvel::py {

// ValueError carrying error.message(), except for an interrupted work, which
// leaves the signal handler's exception; returns nullptr for the caller to
// return.
PyObject* raise_error(const BufrError& error);

// OSError("<description> (os error N)") for a failed file read, except for a
// read interrupted by a signal whose handler raised: that exception stays.
PyObject* raise_os_error(const OsError& error);

// Which message an error concerns: its source (a str, or None for bytes),
// borrowed for the call, its index and offset.
struct MessagePlace {
  PyObject* source = nullptr;
  std::uint64_t index = 0;
  std::uint64_t offset = 0;
};

// MessageError for `error` in the message at `place`, naming the descriptor
// when `where` knows it, and its subset unless the data were compressed (one
// walk serves every subset then); an interrupted work as raise_error.
// Returns nullptr.
PyObject* raise_message_error(const ModuleState& state, const MessagePlace& place,
                              const BufrError& error, const DecodeWhere& where = {},
                              bool compressed = false, PyObject* tables = nullptr,
                              std::string_view reason_note = {});

}  // namespace quorvel::py
