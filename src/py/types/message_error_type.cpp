#include "py/types/message_error_type.hpp"

#include <fmt/format.h>

#include <array>
#include <string>

#include "py/support/arguments.hpp"
#include "py/support/converters.hpp"
#include "py/support/py_ref.hpp"

namespace quorvel::py {
namespace {

constexpr const char* kNames[] = {"source",     "index",    "offset", "reason",
                                  "descriptor", "position", "subset", "tables"};
constexpr std::size_t kRequired = 4;
constexpr std::size_t kTables = 7;

// Checks one argument of __init__; false with a TypeError set.
bool check_argument(PyObject* value, std::size_t i) {
  const bool none_allowed = i == 0 || i >= kRequired;
  if (value == Py_None && none_allowed) {
    return true;
  }
  if (i == kTables) {
    if (PyTuple_Check(value)) {
      return true;
    }
    set_argument_error(PyExc_TypeError, kNames[i],
                       fmt::format("expected tuple or None, got {}", Py_TYPE(value)->tp_name));
    return false;
  }
  const bool text = i == 0 || i == 3;
  if (text ? PyUnicode_Check(value) : PyLong_Check(value)) {
    return true;
  }
  set_argument_error(PyExc_TypeError, kNames[i],
                     fmt::format("expected {}{}, got {}", text ? "str" : "int",
                                 none_allowed ? " or None" : "", Py_TYPE(value)->tp_name));
  return false;
}

// MessageError(source, index, offset, reason, descriptor=None,
// position=None, subset=None, tables=None). The attributes keep the
// arguments, and `args` all eight, so that a pickled error is made again by
// this call.
PyObject* message_error_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, kwargs, kNames, "MessageError", kRequired);
    if (!arguments) {
      return nullptr;
    }
    PyRef all = PyRef::steal(PyTuple_New(std::size(kNames)));
    if (!all) {
      return nullptr;
    }
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      PyObject* value = (*arguments)[i] != nullptr ? (*arguments)[i] : Py_None;
      if (!check_argument(value, i) || PyObject_SetAttrString(self, kNames[i], value) < 0) {
        return nullptr;
      }
      Py_INCREF(value);
      PyTuple_SET_ITEM(all.get(), static_cast<Py_ssize_t>(i), value);
    }
    if (PyObject_SetAttrString(self, "args", all.get()) < 0) {
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

// "<source>: message <index> at offset <offset>: <reason>", and where a
// decode failed: " (reading descriptor 001002 at position 4 of subset 1)", or
// without the subset for compressed data, read once for every subset; then
// "; tables tried: <directory>, ..." when the tables are known.
PyObject* message_error_str(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    std::array<PyRef, std::size(kNames)> values;
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = PyRef::steal(PyObject_GetAttrString(self, kNames[i]));
      if (!values[i]) {
        return nullptr;
      }
    }
    std::string where;
    if (values[4].get() != Py_None) {
      const unsigned long long descriptor = PyLong_AsUnsignedLongLong(values[4].get());
      const long long position = PyLong_AsLongLong(values[5].get());
      const bool has_subset = values[6].get() != Py_None;
      const long long subset = has_subset ? PyLong_AsLongLong(values[6].get()) : 0;
      if (PyErr_Occurred() != nullptr) {
        return nullptr;
      }
      where = has_subset ? fmt::format(" (reading descriptor {:06d} at position {} of subset {})",
                                       descriptor, position, subset + 1)
                         : fmt::format(" (reading descriptor {:06d} at position {})", descriptor,
                                       position);
    }
    PyRef source = values[0].get() == Py_None ? PyRef::steal(PyUnicode_FromString("<bytes>"))
                                              : PyRef::steal(PyObject_Str(values[0].get()));
    if (!source) {
      return nullptr;
    }
    PyRef tables = PyRef::steal(PyUnicode_FromString(""));
    if (tables && values[kTables].get() != Py_None) {
      PyRef separator = PyRef::steal(PyUnicode_FromString(", "));
      PyRef joined = separator
                         ? PyRef::steal(PyUnicode_Join(separator.get(), values[kTables].get()))
                         : PyRef();
      tables =
          joined ? PyRef::steal(PyUnicode_FromFormat("; tables tried: %U", joined.get())) : PyRef();
    }
    if (!tables) {
      return nullptr;
    }
    return PyUnicode_FromFormat("%U: message %S at offset %S: %S%s%U", source.get(),
                                values[1].get(), values[2].get(), values[3].get(), where.c_str(),
                                tables.get());
  });
}

PyMethodDef message_error_init_def = {
    "__init__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(message_error_init)),
    METH_VARARGS | METH_KEYWORDS,
    "MessageError(source, index, offset, reason, descriptor=None, position=None, subset=None, "
    "tables=None)"};
PyMethodDef message_error_str_def = {"__str__", message_error_str, METH_NOARGS, nullptr};

bool add_method(PyObject* type, PyMethodDef* definition) {
  PyRef method = PyRef::steal(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(type), definition));
  return method && PyObject_SetAttrString(type, definition->ml_name, method.get()) == 0;
}

}  // namespace

PyTypeObject* make_table_version_warning_type(PyObject* /*module*/) {
  return reinterpret_cast<PyTypeObject*>(PyErr_NewExceptionWithDoc(
      "_quorvel.TableVersionWarning",
      "A message names master tables that are not installed; it is decoded with the\n"
      "nearest version that is. Given once per pair of versions.",
      PyExc_UserWarning, nullptr));
}

PyTypeObject* make_message_error_type(PyObject* /*module*/) {
  PyRef type = PyRef::steal(PyErr_NewExceptionWithDoc(
      "_quorvel.MessageError",
      "A message that could not be read or decoded: where it lies and why.\n\n"
      "The attributes source (str or None for bytes), index and offset (of the message),\n"
      "reason, and for a failed decode descriptor, position and subset (0-based), and\n"
      "tables, the table directories tried when a descriptor was missing.",
      PyExc_ValueError, nullptr));
  if (!type || !add_method(type.get(), &message_error_init_def) ||
      !add_method(type.get(), &message_error_str_def)) {
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace quorvel::py
