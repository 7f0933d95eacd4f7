#include "lib/functions.hpp"

#include <vector>

#include "lib/converters.hpp"
#include "lib/file_io.hpp"
#include "lib/module_state.hpp"
#include "lib/py_ref.hpp"
#include "lib/raise.hpp"
#include "message/scanner.hpp"
#include "message/section_parser.hpp"
#include "python/boxed.hpp"
#include "python/types.hpp"
#include "tables/table_directory.hpp"

namespace quorvel::py {
namespace {

// Parses the single positional-or-keyword object argument `name` of `function`.
PyObject* parse_one_argument(PyObject* args, PyObject* kwargs, const char* format,
                             const char* name) {
  const char* keywords[] = {name, nullptr};
  PyObject* object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &object)) {
    return nullptr;
  }
  return object;
}

PyObject* message_list(const ModuleState& state, std::vector<BufrMessage> messages) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(messages.size())));
  if (!list) {
    return nullptr;
  }
  for (std::size_t i = 0; i < messages.size(); ++i) {
    PyObject* item = wrap_bufr_message(state, std::move(messages[i]));
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* parse_one(PyObject* module, std::span<const std::uint8_t> data) {
  auto message = parse_message(data);
  if (!message) {
    return raise_error(message.error());
  }
  return wrap_bufr_message(module_state(module), std::move(*message));
}

PyObject* parse_all(PyObject* module, std::span<const std::uint8_t> data) {
  auto messages = parse_all_messages(data);
  if (!messages) {
    return raise_error(messages.error());
  }
  return message_list(module_state(module), std::move(*messages));
}

// Runs `work` on the bytes of argument `data`.
template <class Work>
PyObject* with_bytes_argument(PyObject* module, PyObject* args, PyObject* kwargs,
                              const char* format, Work work) {
  return guarded([&]() -> PyObject* {
    PyObject* object = parse_one_argument(args, kwargs, format, "data");
    if (object == nullptr) {
      return nullptr;
    }
    const auto data = convert_bytes(object, "data");
    if (!data) {
      return nullptr;
    }
    return work(module, *data);
  });
}

// Reads the file named by argument `path` and runs `work` on its content.
template <class Work>
PyObject* with_file_argument(PyObject* module, PyObject* args, PyObject* kwargs,
                             const char* format, Work work) {
  return guarded([&]() -> PyObject* {
    PyObject* object = parse_one_argument(args, kwargs, format, "path");
    if (object == nullptr) {
      return nullptr;
    }
    const auto path = convert_path(object, "path");
    if (!path) {
      return nullptr;
    }
    const auto content = read_whole_file(*path);
    if (!content) {
      return raise_os_error(content.error());
    }
    return work(module, std::span<const std::uint8_t>(*content));
  });
}

PyObject* parse_bytes(PyObject* module, PyObject* args, PyObject* kwargs) {
  return with_bytes_argument(module, args, kwargs, "O:parse_bytes", parse_one);
}

PyObject* parse_file(PyObject* module, PyObject* args, PyObject* kwargs) {
  return with_file_argument(module, args, kwargs, "O:parse_file", parse_one);
}

PyObject* parse_all_bytes(PyObject* module, PyObject* args, PyObject* kwargs) {
  return with_bytes_argument(module, args, kwargs, "O:parse_all_bytes", parse_all);
}

PyObject* parse_all_file(PyObject* module, PyObject* args, PyObject* kwargs) {
  return with_file_argument(module, args, kwargs, "O:parse_all_file", parse_all);
}

PyObject* expand_descriptors_function(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"table_dir", "descriptors", nullptr};
    PyObject* table_dir_object = nullptr;
    PyObject* descriptors_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:expand_descriptors",
                                     const_cast<char**>(keywords), &table_dir_object,
                                     &descriptors_object)) {
      return nullptr;
    }
    const auto table_dir = convert_path(table_dir_object, "table_dir");
    if (!table_dir) {
      return nullptr;
    }
    const auto descriptors = convert_descriptors(descriptors_object, "descriptors");
    if (!descriptors) {
      return nullptr;
    }
    const auto tables = load_table_directory(*table_dir);
    if (!tables) {
      return raise_error(tables.error());
    }
    return expand_to_list(*tables, *descriptors);
  });
}

}  // namespace

PyMethodDef module_functions[] = {
    {"parse_bytes", as_cfunction(parse_bytes), METH_VARARGS | METH_KEYWORDS,
     "parse_bytes(data)\n--\n\n"},
    {"parse_file", as_cfunction(parse_file), METH_VARARGS | METH_KEYWORDS,
     "parse_file(path)\n--\n\n"},
    {"parse_all_bytes", as_cfunction(parse_all_bytes), METH_VARARGS | METH_KEYWORDS,
     "parse_all_bytes(data)\n--\n\n"},
    {"parse_all_file", as_cfunction(parse_all_file), METH_VARARGS | METH_KEYWORDS,
     "parse_all_file(path)\n--\n\n"},
    {"expand_descriptors", as_cfunction(expand_descriptors_function), METH_VARARGS | METH_KEYWORDS,
     "expand_descriptors(table_dir, descriptors)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvel::py
