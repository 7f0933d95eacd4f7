#include "py/support/converters.hpp"

#include <fmt/format.h>

#include <cstring>

#include "py/support/boxed.hpp"
#include "py/support/py_ref.hpp"
#include "py/tables/held_tables.hpp"

namespace quorvel::py {
namespace {

const char* type_name(PyObject* object) { return Py_TYPE(object)->tp_name; }

}  // namespace

PyObject* set_argument_error(PyObject* type, const char* name, const std::string& detail) {
  PyErr_SetString(type, fmt::format("argument '{}': {}", name, detail).c_str());
  return nullptr;
}

std::optional<std::span<const std::uint8_t>> convert_bytes(PyObject* object, const char* name) {
  if (!PyBytes_Check(object)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected bytes, got {}", type_name(object)));
    return std::nullopt;
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object));
  return std::span<const std::uint8_t>(data, static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
}

std::optional<std::string> convert_path(PyObject* object, const char* name) {
  if (!PyUnicode_Check(object)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected str, got {}", type_name(object)));
    return std::nullopt;
  }
  // The file-system encoding keeps names that os.listdir() decoded with
  // surrogate escapes byte for byte.
  PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(object));
  if (!encoded) {
    return std::nullopt;
  }
  std::string path(PyBytes_AS_STRING(encoded.get()),
                   static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
  if (path.find('\0') != std::string::npos) {
    set_argument_error(PyExc_ValueError, name, "embedded null character in path");
    return std::nullopt;
  }
  return path;
}

std::optional<PyObject*> convert_text_or_none(PyObject* object, const char* name) {
  if (object != Py_None && !PyUnicode_Check(object)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected str or None, got {}", type_name(object)));
    return std::nullopt;
  }
  return object;
}

std::optional<bool> convert_bool(PyObject* object, const char* name) {
  if (!PyBool_Check(object)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected bool, got {}", type_name(object)));
    return std::nullopt;
  }
  return object == Py_True;
}

std::optional<std::uint64_t> convert_unsigned(PyObject* object, const char* name,
                                              std::uint64_t max) {
  if (!PyIndex_Check(object)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected int, got {}", type_name(object)));
    return std::nullopt;
  }
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) {
    return std::nullopt;
  }
  const auto out_of_range = [&] {
    set_argument_error(PyExc_OverflowError, name, fmt::format("integer out of range 0 to {}", max));
    return std::nullopt;
  };
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (small == -1 && PyErr_Occurred()) {
    return std::nullopt;
  }
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    return out_of_range();
  }
  std::uint64_t value = static_cast<std::uint64_t>(small);
  if (overflow > 0) {
    value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return out_of_range();
    }
  }
  if (value > max) {
    return out_of_range();
  }
  return value;
}

std::optional<std::uint8_t> convert_octet(PyObject* object, const char* name) {
  const auto value = convert_unsigned(object, name, UINT8_MAX);
  if (!value) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(*value);
}

std::optional<std::uint32_t> convert_code(PyObject* object, const char* name) {
  const auto value = convert_unsigned(object, name, UINT32_MAX);
  if (!value) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*value);
}

std::optional<std::vector<std::uint32_t>> convert_descriptors(PyObject* object, const char* name) {
  if (PyUnicode_Check(object)) {
    set_argument_error(PyExc_TypeError, name, "Can't extract `str` to `Vec`");
    return std::nullopt;
  }
  if (!PyList_Check(object) && !PyTuple_Check(object)) {
    PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
    if (!abc) {
      return std::nullopt;
    }
    PyRef sequence_type = PyRef::steal(PyObject_GetAttrString(abc.get(), "Sequence"));
    if (!sequence_type) {
      return std::nullopt;
    }
    const int is_sequence = PyObject_IsInstance(object, sequence_type.get());
    if (is_sequence < 0) {
      return std::nullopt;
    }
    if (is_sequence == 0) {
      set_argument_error(PyExc_TypeError, name,
                         fmt::format("expected a sequence of int, got {}", type_name(object)));
      return std::nullopt;
    }
  }
  PyRef items = PyRef::steal(PySequence_Fast(object, "expected a sequence"));
  if (!items) {
    return std::nullopt;
  }
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
  PyObject** item_array = PySequence_Fast_ITEMS(items.get());
  std::vector<std::uint32_t> codes;
  codes.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    const auto code = convert_code(item_array[i], name);
    if (!code) {
      return std::nullopt;
    }
    codes.push_back(*code);
  }
  return codes;
}

namespace {

// The value boxed in `object` when it is an instance of `type`.
template <class T>
std::optional<const T*> convert_instance(PyTypeObject* type, PyObject* object, const char* name,
                                         const char* class_name) {
  if (!PyObject_TypeCheck(object, type)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected {}, got {}", class_name, type_name(object)));
    return std::nullopt;
  }
  return &unbox<T>(object);
}

}  // namespace

std::optional<const BufrMessage*> convert_bufr_message(const ModuleState& state, PyObject* object,
                                                       const char* name) {
  return convert_instance<BufrMessage>(state.bufr_message_type, object, name, "BufrMessage");
}

std::optional<const TableSet*> convert_table_set(const ModuleState& state, PyObject* object,
                                                 const char* name) {
  const auto held = convert_instance<HeldTables>(state.table_set_type, object, name, "TableSet");
  if (!held) {
    return std::nullopt;
  }
  return (*held)->tables.get();
}

}  // namespace quorvel::py
