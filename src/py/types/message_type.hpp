// Message: one message of a buffer, found by next_messages. It keeps the
// buffer it lies in (shared by every Message of one call) and its parsed
// header; its octets are shown as a memoryview only when asked for.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>

#include "core/message/section_parser.hpp"
#include "py/module_state.hpp"
#include "py/support/raise.hpp"

namespace quorvel::py {

// New references to the classes, made for `module`, or nullptr with an
// exception set. The buffer class is internal: the owner of the caller's
// buffer that Messages and their memoryviews keep alive.
PyTypeObject* make_message_type(PyObject* module);
PyTypeObject* make_message_buffer_type(PyObject* module);

// next_messages(buffer, start, final, first_index, base_offset, source,
// definitions) with its arguments checked: (messages, next_start, problem).
PyObject* next_messages(const ModuleState& state, PyObject* buffer, std::size_t start, bool final,
                        std::uint64_t first_index, std::uint64_t base_offset, PyObject* source,
                        PyObject* definitions);

// A Message made again from its pickled form, or nullptr with an exception
// set; `data` is a bytes object holding exactly the message.
PyObject* restore_message(const ModuleState& state, PyObject* data, std::uint64_t index,
                          std::uint64_t offset, PyObject* source, PyObject* definitions);

// What decoding needs of a Message, borrowed from it for the duration of a
// call. The octets may be writable by others when `writable`.
struct MessageParts {
  const BufrMessage* header = nullptr;
  std::span<const std::uint8_t> octets;
  bool writable = false;
  MessagePlace place;
  PyObject* definitions = nullptr;  // str or None
};

// The parts of `object` when it is a Message (or subclass), else nothing.
std::optional<MessageParts> message_parts(const ModuleState& state, PyObject* object);

}  // namespace quorvel::py
