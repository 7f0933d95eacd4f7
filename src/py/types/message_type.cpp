#include "py/types/message_type.hpp"

#include <fmt/format.h>

#include <cstddef>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/message/chunk_scan.hpp"
#include "py/support/arguments.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/py_ref.hpp"
#include "py/support/raise.hpp"
#include "py/support/signals.hpp"
#include "py/support/without_gil.hpp"
#include "py/tables/table_cache.hpp"
#include "py/types/bufr_message_type.hpp"
#include "py/types/decoded_message_type.hpp"
#include "py/types/table_set_type.hpp"
#include "py/values/object_sink.hpp"

namespace quorvel::py {
namespace {

// The caller's buffer, held once for every Message made from it; it exports
// the same octets, read-only, to the memoryviews of Message.data.
struct MessageBufferObject {
  PyObject_HEAD Py_buffer view;
};

MessageBufferObject* as_buffer(PyObject* object) {
  return reinterpret_cast<MessageBufferObject*>(object);
}

std::span<const std::uint8_t> octets_of(PyObject* buffer) {
  const Py_buffer& view = as_buffer(buffer)->view;
  return {static_cast<const std::uint8_t*>(view.buf), static_cast<std::size_t>(view.len)};
}

void message_buffer_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  if (as_buffer(self)->view.obj != nullptr) {
    PyBuffer_Release(&as_buffer(self)->view);
  }
  type->tp_free(self);
  Py_DECREF(type);
}

// The exporter may hold Messages of its own buffer, so the link to it is
// shown to the collector; a cycle through it is broken at the Messages. A
// memoryview is the exception: it holds no Messages, and the collector must
// not clear one that still has exports (its clear releases its base anyway,
// and our release of it later reads freed memory), so it stays out of sight
// and is let go when its Messages are.
int message_buffer_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  PyObject* exporter = as_buffer(self)->view.obj;
  if (exporter != nullptr && !PyMemoryView_Check(exporter)) {
    Py_VISIT(exporter);
  }
  return 0;
}

int message_buffer_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  const Py_buffer& held = as_buffer(self)->view;
  return PyBuffer_FillInfo(view, self, held.buf, held.len, 1, flags);
}

PyType_Slot message_buffer_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(message_buffer_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(message_buffer_traverse)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(message_buffer_getbuffer)},
    {0, nullptr},
};

PyType_Spec message_buffer_spec = {
    "_quorvel._MessageBuffer",
    sizeof(MessageBufferObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION |
        Py_TPFLAGS_HAVE_GC,
    message_buffer_slots,
};

// A new buffer object holding `object`'s octets (any C-contiguous buffer);
// nullptr with a TypeError naming the argument otherwise.
PyObject* hold_buffer(const ModuleState& state, PyObject* object, const char* name) {
  if (!PyObject_CheckBuffer(object)) {
    return set_argument_error(
        PyExc_TypeError, name,
        fmt::format("expected a bytes-like object, got {}", Py_TYPE(object)->tp_name));
  }
  PyTypeObject* type = state.message_buffer_type;
  PyRef holder = PyRef::steal(type->tp_alloc(type, 0));
  if (!holder) {
    return nullptr;
  }
  if (PyObject_GetBuffer(object, &as_buffer(holder.get())->view, PyBUF_SIMPLE) < 0) {
    as_buffer(holder.get())->view.obj = nullptr;
    return nullptr;
  }
  return holder.release();
}

struct MessageObject {
  PyObject_HEAD PyObject* buffer;  // a MessageBufferObject; null only once cleared
  PyObject* source;                // str or None
  PyObject* definitions;           // str or None
  std::uint64_t index;
  std::uint64_t offset;  // in the source
  std::size_t start;     // in the buffer
  BufrMessage header;
};

MessageObject* as_message(PyObject* object) { return reinterpret_cast<MessageObject*>(object); }

// A new Message over `buffer`, whose references it takes one more of.
PyObject* make_message(const ModuleState& state, PyObject* buffer, PyObject* source,
                       PyObject* definitions, std::uint64_t index, std::uint64_t offset,
                       std::size_t start, BufrMessage header) {
  PyTypeObject* type = state.message_type;
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) {
    return nullptr;
  }
  MessageObject* message = as_message(object);
  message->buffer = Py_NewRef(buffer);
  message->source = Py_NewRef(source);
  message->definitions = Py_NewRef(definitions);
  message->index = index;
  message->offset = offset;
  message->start = start;
  new (&message->header) BufrMessage(std::move(header));
  return object;
}

int message_clear(PyObject* self) {
  Py_CLEAR(as_message(self)->buffer);
  return 0;
}

void message_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  MessageObject* message = as_message(self);
  message_clear(self);
  Py_XDECREF(message->source);
  Py_XDECREF(message->definitions);
  message->header.~BufrMessage();
  type->tp_free(self);
  Py_DECREF(type);
}

int message_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(as_message(self)->buffer);
  return 0;
}

PyObject* message_repr(PyObject* self) {
  return guarded([&] {
    const MessageObject* message = as_message(self);
    return to_python(fmt::format("Message(index={}, offset={}, length={}, edition={})",
                                 message->index, message->offset, message->header.total_length,
                                 message->header.edition));
  });
}

template <auto Member>
PyObject* get_header_field(PyObject* self, void* /*closure*/) {
  return guarded([&] { return to_python(as_message(self)->header.*Member); });
}

PyObject* get_index(PyObject* self, void*) { return to_python(as_message(self)->index); }
PyObject* get_offset(PyObject* self, void*) { return to_python(as_message(self)->offset); }
PyObject* get_length(PyObject* self, void*) {
  return to_python(as_message(self)->header.total_length);
}
PyObject* get_source(PyObject* self, void*) { return Py_NewRef(as_message(self)->source); }
PyObject* get_definitions(PyObject* self, void*) {
  return Py_NewRef(as_message(self)->definitions);
}

PyObject* get_data(PyObject* self, void*) {
  const MessageObject* message = as_message(self);
  if (message->buffer == nullptr) {
    PyErr_SetString(PyExc_ValueError, "the message's buffer was released");
    return nullptr;
  }
  PyRef whole = PyRef::steal(PyMemoryView_FromObject(message->buffer));
  if (!whole) {
    return nullptr;
  }
  const auto start = static_cast<Py_ssize_t>(message->start);
  return PySequence_GetSlice(whole.get(), start,
                             start + static_cast<Py_ssize_t>(message->header.total_length));
}

PyObject* get_header(PyObject* self, void*) {
  return guarded([&] {
    PyTypeObject* type = Py_TYPE(self);
    return wrap_bufr_message(state_of_type(type), as_message(self)->header);
  });
}

// Warns once per pair of versions when `chosen` replaced the master tables
// version `header` names; false with an exception set (warnings as errors).
bool warn_of_version(ModuleState& state, const BufrMessage& header, const ChosenTables& chosen,
                     const std::string& roots) {
  const unsigned asked = header.master_tables_version_number;
  const std::size_t pair = asked * 256 + chosen.master_version;
  if (asked == chosen.master_version || state.warned_versions.test(pair)) {
    return true;
  }
  state.warned_versions.set(pair);
  const std::string text = fmt::format(
      "master tables version {} is not installed under {}; decoding with version {}, the {} one "
      "installed",
      asked, roots, chosen.master_version,
      chosen.master_version > asked ? "nearest newer" : "newest");
  return PyErr_WarnEx(reinterpret_cast<PyObject*>(state.table_version_warning_type), text.c_str(),
                      1) == 0;
}

// The tables a decode of `parts` without a TableSet uses, from the module's
// cache (loaded without the GIL), as a new TableSet object, and what they
// were chosen from in `chosen`; nullptr with MessageError raised.
PyObject* definition_tables(ModuleState& state, const MessageParts& parts,
                            std::shared_ptr<const ChosenTables>& chosen) {
  std::string root;
  if (parts.definitions != Py_None) {
    auto given = convert_path(parts.definitions, "definitions");
    if (!given) {
      return nullptr;
    }
    root = std::move(*given);
  } else {
    auto found = default_definitions_root();
    if (!found) {
      return raise_message_error(state, parts.place, found.error());
    }
    root = std::move(*found);
  }
  const DefinitionKey key = definition_key(root, *parts.header, true);
  auto tables = without_gil([&] { return state.table_cache->tables_for(key); });
  if (!tables) {
    return raise_message_error(state, parts.place, tables.error());
  }
  chosen = *tables;
  if (!warn_of_version(state, *parts.header, *chosen, root)) {
    return nullptr;
  }
  return wrap_definition_tables(state, chosen_table_set(std::move(*tables)), key);
}

// The directories `chosen` looked in, as a tuple of str, when `error` is a
// descriptor the tables lack; nullptr otherwise or with an exception set.
PyRef tables_tried(const BufrError& error, const ChosenTables* chosen) {
  if (chosen == nullptr || !(std::holds_alternative<error::MissingElement>(error.kind()) ||
                             std::holds_alternative<error::MissingSequence>(error.kind()))) {
    return {};
  }
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(chosen->directories.size())));
  for (std::size_t i = 0; tuple && i < chosen->directories.size(); ++i) {
    const std::string& directory = chosen->directories[i];
    PyObject* text = PyUnicode_DecodeFSDefaultAndSize(directory.data(),
                                                      static_cast<Py_ssize_t>(directory.size()));
    if (text == nullptr) {
      return {};
    }
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), text);
  }
  return tuple;
}

// MessageError for a failed decode of `parts`; when the tables were chosen
// under definitions and lack a descriptor, it names the directories tried,
// and the master tables version read if it is not the message's.
PyObject* raise_decode_error(const ModuleState& state, const MessageParts& parts,
                             const BufrError& error, const DecodeWhere& where,
                             const ChosenTables* chosen) {
  PyRef tried = tables_tried(error, chosen);
  if (!tried && PyErr_Occurred() != nullptr) {
    return nullptr;
  }
  std::string note;
  const unsigned asked = parts.header->master_tables_version_number;
  if (tried && chosen->master_version != asked) {
    note = fmt::format(
        " of master tables version {} (the message names version {}, which is not "
        "installed)",
        chosen->master_version, asked);
  }
  return raise_message_error(state, parts.place, error, where, parts.header->compressed_data,
                             tried.get(), note);
}

// decode(tables=None): the message's values with `tables`, or with those
// its definitions root names for it.
PyObject* message_decode(PyObject* self, PyTypeObject* defining_class, PyObject* const* args,
                         std::size_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments =
        parse_arguments(args, static_cast<Py_ssize_t>(nargs), kwnames, {"tables"}, "decode", 0);
    if (!arguments) {
      return nullptr;
    }
    ModuleState& state = state_of_type(defining_class);
    const auto parts = message_parts(state, self);
    if (!parts) {
      PyErr_SetString(PyExc_ValueError, "the message's buffer was released");
      return nullptr;
    }
    PyObject* given = (*arguments)[0];
    PyRef tables_object;
    std::shared_ptr<const ChosenTables> chosen;
    if (given == nullptr || given == Py_None) {
      tables_object = PyRef::steal(definition_tables(state, *parts, chosen));
    } else if (convert_table_set(state, given, "tables")) {
      tables_object = PyRef::borrow(given);
    }
    if (!tables_object) {
      return nullptr;
    }
    const TableSet& tables = **convert_table_set(state, tables_object.get(), "tables");
    // Octets someone may write to meanwhile are decoded from a copy.
    std::vector<std::uint8_t> copy;
    std::span<const std::uint8_t> octets = parts->octets;
    if (parts->writable) {
      copy.assign(octets.begin(), octets.end());
      octets = copy;
    }
    std::vector<std::size_t> bounds;
    PyRef values = PyRef::steal(
        decode_to_lists(state, *parts->header, octets, tables, &bounds,
                        [&](const BufrError& error, const DecodeWhere& where) {
                          return raise_decode_error(state, *parts, error, where, chosen.get());
                        }));
    if (!values) {
      return nullptr;
    }
    return make_decoded_message(state, self, tables_object.get(), values.get(), std::move(bounds));
  });
}

// (restore, (bytes, index, offset, source, definitions)), restore being the
// module's _restore_message.
PyObject* message_reduce(PyObject* self, PyObject* /*unused*/) {
  PyRef data = PyRef::steal(get_data(self, nullptr));
  if (!data) {
    return nullptr;
  }
  PyRef octets = PyRef::steal(PyBytes_FromObject(data.get()));
  if (!octets) {
    return nullptr;
  }
  PyObject* module = PyType_GetModuleByDef(Py_TYPE(self), &module_def);
  if (module == nullptr) {
    return nullptr;
  }
  PyRef restore = PyRef::steal(PyObject_GetAttrString(module, "_restore_message"));
  if (!restore) {
    return nullptr;
  }
  const MessageObject* message = as_message(self);
  return Py_BuildValue("(O(ONNOO))", restore.get(), octets.get(), to_python(message->index),
                       to_python(message->offset), message->source, message->definitions);
}

#define QV_MESSAGE_HEADER_GETTER(name) \
  PyGetSetDef{#name, get_header_field<&BufrMessage::name>, nullptr, nullptr, nullptr},

PyGetSetDef message_getset[] = {
    {"index", get_index, nullptr, "The message's position in its source, from 0.", nullptr},
    {"offset", get_offset, nullptr, "Where its marker lies in its source.", nullptr},
    {"length", get_length, nullptr, "Its declared total length in octets.", nullptr},
    {"data", get_data, nullptr, "Its octets: a read-only memoryview onto the source's buffer.",
     nullptr},
    {"source", get_source, nullptr, "The file it was read from, or None.", nullptr},
    {"definitions", get_definitions, nullptr, "The definitions root it decodes with, or None.",
     nullptr},
    {"header", get_header, nullptr, "Its header as a BufrMessage.", nullptr},
    QV_BUFR_MESSAGE_FIELDS(QV_MESSAGE_HEADER_GETTER)
        PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef QV_MESSAGE_HEADER_GETTER

PyMethodDef message_methods[] = {
    {"decode", as_cfunction(message_decode), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "decode($self, /, tables=None)\n--\n\n"
     "The message's values as a DecodedMessage, decoded with `tables` (a TableSet),\n"
     "or with the tables its definitions root (else the default one) names for it."},
    {"__reduce__", message_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot message_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(message_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(message_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(message_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(message_repr)},
    {Py_tp_getset, message_getset},
    {Py_tp_methods, message_methods},
    {Py_tp_doc, const_cast<char*>("One BUFR message of a file or buffer: where it lies, its "
                                  "header, and its octets.")},
    {0, nullptr},
};

PyType_Spec message_spec = {
    "_quorvel.Message",
    sizeof(MessageObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION |
        Py_TPFLAGS_HAVE_GC,
    message_slots,
};

// (kind, offset, ...) for why a scan stopped, or None.
PyObject* problem_of(const ChunkScan& scan) {
  switch (scan.stop) {
    case ChunkStop::end:
      return Py_NewRef(Py_None);
    case ChunkStop::message:
      return Py_BuildValue("(sNNN)", "message", to_python(scan.offset), to_python(scan.length),
                           to_python(scan.error->message()));
    case ChunkStop::more:
      return Py_BuildValue("(sNN)", "more", to_python(scan.offset), to_python(scan.length));
    case ChunkStop::truncated:
      return Py_BuildValue("(sNN)", "truncated", to_python(scan.offset),
                           to_python(scan.error->message()));
  }
  return nullptr;
}

}  // namespace

PyTypeObject* make_message_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &message_spec, nullptr));
}

PyTypeObject* make_message_buffer_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &message_buffer_spec, nullptr));
}

PyObject* next_messages(const ModuleState& state, PyObject* buffer_object, std::size_t start,
                        bool final, std::uint64_t first_index, std::uint64_t base_offset,
                        PyObject* source, PyObject* definitions) {
  PyRef buffer = PyRef::steal(hold_buffer(state, buffer_object, "buffer"));
  if (!buffer) {
    return nullptr;
  }
  const std::span<const std::uint8_t> octets = octets_of(buffer.get());
  if (start > octets.size()) {
    return set_argument_error(
        PyExc_ValueError, "start",
        fmt::format("{} is past the end of the buffer ({} octets)", start, octets.size()));
  }
  auto scan = without_gil([&](Interrupt interrupt) {
    return scan_chunk(octets, start, final, base_offset, interrupt);
  });
  if (!scan) {
    return raise_error(scan.error());
  }
  std::vector<ChunkMessage>& found = scan->messages;
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(found.size())));
  if (!list) {
    return nullptr;
  }
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!no_signal_at(i)) {
      return nullptr;
    }
    PyObject* message =
        make_message(state, buffer.get(), source, definitions, first_index + i,
                     base_offset + found[i].start, found[i].start, std::move(found[i].header));
    if (message == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), message);
  }
  PyRef problem = PyRef::steal(problem_of(*scan));
  if (!problem) {
    return nullptr;
  }
  return Py_BuildValue("(ONO)", list.get(), to_python(scan->next_start), problem.get());
}

PyObject* restore_message(const ModuleState& state, PyObject* data, std::uint64_t index,
                          std::uint64_t offset, PyObject* source, PyObject* definitions) {
  PyRef buffer = PyRef::steal(hold_buffer(state, data, "data"));
  if (!buffer) {
    return nullptr;
  }
  const std::span<const std::uint8_t> octets = octets_of(buffer.get());
  auto header = without_gil([&] { return parse_message_any_edition(octets); });
  if (!header) {
    return raise_message_error(state, MessagePlace{source, index, offset}, header.error());
  }
  return make_message(state, buffer.get(), source, definitions, index, offset, 0,
                      std::move(*header));
}

std::optional<MessageParts> message_parts(const ModuleState& state, PyObject* object) {
  if (!PyObject_TypeCheck(object, state.message_type)) {
    return std::nullopt;
  }
  const MessageObject* message = as_message(object);
  if (message->buffer == nullptr) {
    return std::nullopt;
  }
  return MessageParts{
      &message->header,
      octets_of(message->buffer).subspan(message->start, message->header.total_length),
      as_buffer(message->buffer)->view.readonly == 0,
      MessagePlace{message->source, message->index, message->offset},
      message->definitions,
  };
}

}  // namespace quorvel::py
