#include "py/functions.hpp"

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/base/file_io.hpp"
#include "core/message/scanner.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/formats/table_directory.hpp"
#include "py/module_state.hpp"
#include "py/support/arguments.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/py_ref.hpp"
#include "py/support/raise.hpp"
#include "py/support/signals.hpp"
#include "py/support/without_gil.hpp"
#include "py/tables/table_cache.hpp"
#include "py/types/bufr_message_type.hpp"
#include "py/types/decoded_value_type.hpp"
#include "py/types/message_type.hpp"
#include "py/types/table_set_type.hpp"
#include "py/values/object_sink.hpp"

namespace quorvel::py {
namespace {

PyObject* message_list(const ModuleState& state, std::vector<BufrMessage> messages) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(messages.size())));
  if (!list) {
    return nullptr;
  }
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (!no_signal_at(i)) {
      return nullptr;
    }
    PyObject* item = wrap_bufr_message(state, std::move(messages[i]));
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* parse_one(PyObject* module, std::span<const std::uint8_t> data) {
  auto message = without_gil([&] { return parse_message(data); });
  if (!message) {
    return raise_error(message.error());
  }
  return wrap_bufr_message(module_state(module), std::move(*message));
}

PyObject* parse_all(PyObject* module, std::span<const std::uint8_t> data) {
  auto messages =
      without_gil([&](Interrupt interrupt) { return parse_all_messages(data, interrupt); });
  if (!messages) {
    return raise_error(messages.error());
  }
  return message_list(module_state(module), std::move(*messages));
}

// A new (a, b) tuple of two new references; nullptr when either is.
PyObject* pair(PyObject* first, PyObject* second) {
  PyRef a = PyRef::steal(first);
  PyRef b = PyRef::steal(second);
  if (!a || !b) {
    return nullptr;
  }
  return PyTuple_Pack(2, a.get(), b.get());
}

// ([(offset, length), ...], None or (offset, message)).
PyObject* scan_locations(PyObject* /*module*/, std::span<const std::uint8_t> data) {
  const ScanResult scan =
      without_gil([&](Interrupt interrupt) { return scan_messages_until_stop(data, interrupt); });
  if (scan.stop && std::holds_alternative<error::Interrupted>(scan.stop->error.kind())) {
    return raise_error(scan.stop->error);
  }
  PyRef locations = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(scan.slices.size())));
  if (!locations) {
    return nullptr;
  }
  for (std::size_t i = 0; i < scan.slices.size(); ++i) {
    if (!no_signal_at(i)) {
      return nullptr;
    }
    const MessageSlice& slice = scan.slices[i];
    PyObject* item = pair(to_python(slice.start), to_python(slice.length));
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(locations.get(), static_cast<Py_ssize_t>(i), item);
  }
  PyRef stop =
      scan.stop
          ? PyRef::steal(pair(to_python(scan.stop->offset), to_python(scan.stop->error.message())))
          : PyRef::borrow(Py_None);
  if (!stop) {
    return nullptr;
  }
  return PyTuple_Pack(2, locations.get(), stop.get());
}

// Runs `work` on the bytes of the one argument `data` of `function`.
template <class Work>
PyObject* with_bytes_argument(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames, const char* function, Work work) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"data"}, function);
    if (!arguments) {
      return nullptr;
    }
    const auto data = convert_bytes((*arguments)[0], "data");
    if (!data) {
      return nullptr;
    }
    return work(module, *data);
  });
}

// Reads the file named by the one argument `path` of `function` and runs
// `work` on its content.
template <class Work>
PyObject* with_file_argument(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames, const char* function, Work work) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"path"}, function);
    if (!arguments) {
      return nullptr;
    }
    const auto path = convert_path((*arguments)[0], "path");
    if (!path) {
      return nullptr;
    }
    const auto content =
        without_gil([&](Interrupt interrupt) { return read_whole_file(*path, interrupt); });
    if (!content) {
      return raise_os_error(content.error());
    }
    return work(module, std::span<const std::uint8_t>(*content));
  });
}

PyObject* parse_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return with_bytes_argument(module, args, nargs, kwnames, "parse_bytes", parse_one);
}

PyObject* parse_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_file_argument(module, args, nargs, kwnames, "parse_file", parse_one);
}

PyObject* parse_all_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return with_bytes_argument(module, args, nargs, kwnames, "parse_all_bytes", parse_all);
}

PyObject* parse_all_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return with_file_argument(module, args, nargs, kwnames, "parse_all_file", parse_all);
}

PyObject* scan_messages_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return with_bytes_argument(module, args, nargs, kwnames, "scan_messages", scan_locations);
}

PyObject* expand_descriptors_function(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments =
        parse_arguments(args, nargs, kwnames, {"table_dir", "descriptors"}, "expand_descriptors");
    if (!arguments) {
      return nullptr;
    }
    const auto table_dir = convert_path((*arguments)[0], "table_dir");
    if (!table_dir) {
      return nullptr;
    }
    const auto descriptors = convert_descriptors((*arguments)[1], "descriptors");
    if (!descriptors) {
      return nullptr;
    }
    const auto tables = without_gil([&] { return load_table_directory(*table_dir); });
    if (!tables) {
      return raise_error(tables.error());
    }
    return expand_to_list(*tables, *descriptors);
  });
}

const TableSet& table_set_of(const TableSet& tables) { return tables; }
const TableSet& table_set_of(const TableSet* tables) { return *tables; }
const TableSet& table_set_of(const std::shared_ptr<const TableSet>& tables) { return *tables; }

// The first message of `data`, decoded with the tables `obtain_tables`
// gives for it (a TableSet, or a pointer to the caller's).
template <class ObtainTables>
PyObject* decode_first_message(PyObject* module, std::span<const std::uint8_t> data,
                               ObtainTables obtain_tables) {
  struct Prepared {
    std::span<const std::uint8_t> message_bytes;
    BufrMessage message;
    decltype(obtain_tables(std::declval<const BufrMessage&>())) tables;
  };
  auto prepared = without_gil([&](Interrupt interrupt) -> Expected<Prepared> {
    QV_ASSIGN_OR_RETURN(const auto slices, scan_messages(data, interrupt));
    if (slices.empty()) {
      return BufrError::missing_marker();
    }
    const auto message_bytes = slice_bytes(data, slices.front());
    QV_ASSIGN_OR_RETURN(BufrMessage message, parse_message(message_bytes));
    auto tables = obtain_tables(message);
    if (!tables) {
      return std::move(tables).error();
    }
    return Prepared{message_bytes, std::move(message), std::move(tables)};
  });
  if (!prepared) {
    return raise_error(prepared.error());
  }
  return decode_to_list(module_state(module), prepared->message, prepared->message_bytes,
                        table_set_of(*prepared->tables));
}

// Parses (data, <second>) for a decode function; the second argument is
// converted by `convert_second`, which returns nothing with an exception set.
template <class ConvertSecond, class Decode>
PyObject* decode_function(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                          const char* function, const char* second_name,
                          ConvertSecond convert_second, Decode decode) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"data", second_name}, function);
    if (!arguments) {
      return nullptr;
    }
    const auto data = convert_bytes((*arguments)[0], "data");
    if (!data) {
      return nullptr;
    }
    auto second = convert_second((*arguments)[1], second_name);
    if (!second) {
      return nullptr;
    }
    return decode(*data, *second);
  });
}

PyObject* decode_values(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return decode_function(args, nargs, kwnames, "decode_values", "table_dir", convert_path,
                         [&](std::span<const std::uint8_t> data, const std::string& table_dir) {
                           return decode_first_message(module, data, [&](const BufrMessage&) {
                             return load_table_directory(table_dir);
                           });
                         });
}

PyObject* decode_values_with_tables(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  const ModuleState& state = module_state(module);
  const auto convert_tables = [&](PyObject* object, const char* name) {
    return convert_table_set(state, object, name);
  };
  return decode_function(
      args, nargs, kwnames, "decode_values_with_tables", "tables", convert_tables,
      [&](std::span<const std::uint8_t> data, const TableSet* tables) {
        return decode_first_message(
            module, data, [&](const BufrMessage&) { return Expected<const TableSet*>(tables); });
      });
}

PyObject* decode_values_with_definitions(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  TableCache& cache = *module_state(module).table_cache;
  return decode_function(
      args, nargs, kwnames, "decode_values_with_definitions", "definitions_root", convert_path,
      [&](std::span<const std::uint8_t> data, const std::string& root) {
        return decode_first_message(module, data, [&](const BufrMessage& message) {
          return cached_definition_tables(cache, root, message);
        });
      });
}

// (entries, capacity, loads) of the module's table cache, for tests.
PyObject* table_cache_counts(PyObject* module, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    const TableCache::Counts counts = module_state(module).table_cache->counts();
    return Py_BuildValue("(nnK)", static_cast<Py_ssize_t>(counts.entries),
                         static_cast<Py_ssize_t>(counts.capacity),
                         static_cast<unsigned long long>(counts.loads));
  });
}

// Indexes and offsets stay far enough below 2**63 that adding a buffer's
// length or a call's messages to them cannot overflow.
constexpr std::uint64_t kMaxPosition = std::uint64_t{1} << 62;

PyObject* next_messages_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(
        args, nargs, kwnames,
        {"buffer", "start", "final", "first_index", "base_offset", "source", "definitions"},
        "next_messages");
    if (!arguments) {
      return nullptr;
    }
    const auto& [buffer, start_object, final_object, index_object, offset_object, source_object,
                 definitions_object] = *arguments;
    const auto start = convert_unsigned(start_object, "start", PY_SSIZE_T_MAX);
    if (!start) {
      return nullptr;
    }
    const auto final = convert_bool(final_object, "final");
    if (!final) {
      return nullptr;
    }
    const auto first_index = convert_unsigned(index_object, "first_index", kMaxPosition);
    if (!first_index) {
      return nullptr;
    }
    const auto base_offset = convert_unsigned(offset_object, "base_offset", kMaxPosition);
    if (!base_offset) {
      return nullptr;
    }
    const auto source = convert_text_or_none(source_object, "source");
    if (!source) {
      return nullptr;
    }
    const auto definitions = convert_text_or_none(definitions_object, "definitions");
    if (!definitions) {
      return nullptr;
    }
    return next_messages(module_state(module), buffer, *start, *final, *first_index, *base_offset,
                         *source, *definitions);
  });
}

PyObject* restore_message_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments =
        parse_arguments(args, nargs, kwnames, {"data", "index", "offset", "source", "definitions"},
                        "_restore_message");
    if (!arguments) {
      return nullptr;
    }
    const auto& [data, index_object, offset_object, source_object, definitions_object] = *arguments;
    if (!convert_bytes(data, "data")) {
      return nullptr;
    }
    const auto index = convert_unsigned(index_object, "index", kMaxPosition);
    if (!index) {
      return nullptr;
    }
    const auto offset = convert_unsigned(offset_object, "offset", kMaxPosition);
    if (!offset) {
      return nullptr;
    }
    const auto source = convert_text_or_none(source_object, "source");
    if (!source) {
      return nullptr;
    }
    const auto definitions = convert_text_or_none(definitions_object, "definitions");
    if (!definitions) {
      return nullptr;
    }
    return restore_message(module_state(module), data, *index, *offset, *source, *definitions);
  });
}

}  // namespace

PyObject* restore_bufr_message_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments =
        parse_arguments(args, nargs, kwnames, {"fields"}, "_restore_bufr_message");
    if (!arguments) {
      return nullptr;
    }
    return restore_bufr_message(module_state(module), (*arguments)[0]);
  });
}

PyObject* restore_decoded_value_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(
        args, nargs, kwnames,
        {"descriptor", "name", "unit", "raw", "raw_value", "raw_text", "raw_meaning"},
        "_restore_decoded_value");
    if (!arguments) {
      return nullptr;
    }
    return restore_decoded_value(module_state(module), arguments->data());
  });
}

PyMethodDef module_functions[] = {
    {"parse_bytes", as_cfunction(parse_bytes), METH_FASTCALL | METH_KEYWORDS,
     "parse_bytes(data)\n--\n\n"},
    {"parse_file", as_cfunction(parse_file), METH_FASTCALL | METH_KEYWORDS,
     "parse_file(path)\n--\n\n"},
    {"parse_all_bytes", as_cfunction(parse_all_bytes), METH_FASTCALL | METH_KEYWORDS,
     "parse_all_bytes(data)\n--\n\n"},
    {"parse_all_file", as_cfunction(parse_all_file), METH_FASTCALL | METH_KEYWORDS,
     "parse_all_file(path)\n--\n\n"},
    {"expand_descriptors", as_cfunction(expand_descriptors_function), METH_FASTCALL | METH_KEYWORDS,
     "expand_descriptors(table_dir, descriptors)\n--\n\n"},
    {"decode_values", as_cfunction(decode_values), METH_FASTCALL | METH_KEYWORDS,
     "decode_values(data, table_dir)\n--\n\n"},
    {"decode_values_with_tables", as_cfunction(decode_values_with_tables),
     METH_FASTCALL | METH_KEYWORDS, "decode_values_with_tables(data, tables)\n--\n\n"},
    {"decode_values_with_definitions", as_cfunction(decode_values_with_definitions),
     METH_FASTCALL | METH_KEYWORDS,
     "decode_values_with_definitions(data, definitions_root)\n--\n\n"},
    {"scan_messages", as_cfunction(scan_messages_function), METH_FASTCALL | METH_KEYWORDS,
     "scan_messages(data)\n--\n\n"},
    {"_table_cache_counts", table_cache_counts, METH_NOARGS, "_table_cache_counts()\n--\n\n"},
    {"next_messages", as_cfunction(next_messages_function), METH_FASTCALL | METH_KEYWORDS,
     "next_messages(buffer, start, final, first_index, base_offset, source, definitions)\n--\n\n"
     "The messages of `buffer` from `start`, at most a few thousand:\n"
     "(messages, next_start, problem). problem is None, (\"message\", offset, length,\n"
     "reason) for a message that fails to parse, (\"more\", offset, needed) for one that\n"
     "needs `needed` octets from offset, or (\"truncated\", offset, reason) when the\n"
     "final buffer ends inside one. Offsets in it count from the buffer's start."},
    {"_restore_message", as_cfunction(restore_message_function), METH_FASTCALL | METH_KEYWORDS,
     "_restore_message(data, index, offset, source, definitions)\n--\n\n"
     "A Message from its pickled form."},
    {"_restore_bufr_message", as_cfunction(restore_bufr_message_function),
     METH_FASTCALL | METH_KEYWORDS,
     "_restore_bufr_message(fields)\n--\n\n"
     "A BufrMessage from its pickled form."},
    {"_restore_decoded_value", as_cfunction(restore_decoded_value_function),
     METH_FASTCALL | METH_KEYWORDS,
     "_restore_decoded_value(descriptor, name, unit, raw, raw_value, raw_text, raw_meaning)"
     "\n--\n\n"
     "A DecodedValue from its pickled form."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvel::py
