#include "lib/converters.hpp"

#include <cstring>

#include <fmt/format.h>

#include "lib/py_ref.hpp"

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
    set_argument_error(PyExc_OverflowError, name,
                       fmt::format("integer out of range 0 to {}", max));
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

}  // namespace quorvel::py
