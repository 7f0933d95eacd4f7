// The layout of a DecodedValue instance, shared by its class, the allocator
// that places instances in slabs and the sink that fills them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace quorvel::py {

// Numbers inline, texts as shared immutable str objects. Owns one reference
// to each text it holds.
struct DecodedValueObject {
  PyObject_HEAD PyObject* name;
  PyObject* unit;
  PyObject* raw_text;     // nullptr when absent
  PyObject* raw_meaning;  // nullptr when absent
  std::uint64_t raw;
  double raw_value;
  std::uint32_t descriptor;
  bool has_raw;
  bool has_raw_value;
};

inline DecodedValueObject* as_decoded_value(PyObject* object) {
  return reinterpret_cast<DecodedValueObject*>(object);
}

}  // namespace quorvel::py
