#include "py/types/decoded_value_type.hpp"

#include <fmt/format.h>

#include <string>

#include "core/base/number_format.hpp"
#include "py/support/boxed.hpp"
#include "py/support/py_ref.hpp"
#include "py/values/decoded_value_object.hpp"
#include "py/values/slab_allocator.hpp"

namespace quorvel::py {
namespace {

void decoded_value_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DecodedValueObject* value = as_decoded_value(self);
  Py_XDECREF(value->name);
  Py_XDECREF(value->raw_text);
  Py_XDECREF(value->raw_meaning);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* new_reference_or_none(PyObject* object) {
  if (object == nullptr) {
    Py_RETURN_NONE;
  }
  Py_INCREF(object);
  return object;
}

PyObject* get_descriptor(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(as_decoded_value(self)->descriptor);
}
PyObject* get_name(PyObject* self, void*) {
  return new_reference_or_none(as_decoded_value(self)->name);
}
PyObject* get_raw(PyObject* self, void*) {
  const DecodedValueObject* value = as_decoded_value(self);
  if (!value->has_raw) {
    Py_RETURN_NONE;
  }
  return PyLong_FromUnsignedLongLong(value->raw);
}
PyObject* get_raw_value(PyObject* self, void*) {
  const DecodedValueObject* value = as_decoded_value(self);
  if (!value->has_raw_value) {
    Py_RETURN_NONE;
  }
  return PyFloat_FromDouble(value->raw_value);
}
PyObject* get_raw_text(PyObject* self, void*) {
  return new_reference_or_none(as_decoded_value(self)->raw_text);
}
PyObject* get_raw_meaning(PyObject* self, void*) {
  return new_reference_or_none(as_decoded_value(self)->raw_meaning);
}
// The most telling form of the value: its text, else its meaning, else its number.
PyObject* get_data(PyObject* self, void* closure) {
  const DecodedValueObject* value = as_decoded_value(self);
  if (value->raw_text != nullptr) {
    return get_raw_text(self, closure);
  }
  if (value->raw_meaning != nullptr) {
    return get_raw_meaning(self, closure);
  }
  return get_raw_value(self, closure);
}

PyObject* decoded_value_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const DecodedValueObject* value = as_decoded_value(self);
    PyObject* shown = value->raw_text != nullptr ? value->raw_text : value->raw_meaning;
    if (shown != nullptr) {
      return PyUnicode_FromFormat("DecodedValue(%s, %U)",
                                  fmt::format("{:06}", value->descriptor).c_str(), shown);
    }
    const std::string number = value->has_raw_value
                                   ? fmt::format("Some({})", format_shortest(value->raw_value))
                                   : std::string("None");
    return to_python(fmt::format("DecodedValue({:06}, {})", value->descriptor, number));
  });
}

PyGetSetDef decoded_value_getset[] = {
    {"descriptor", get_descriptor, nullptr, nullptr, nullptr},
    {"name", get_name, nullptr, nullptr, nullptr},
    {"raw", get_raw, nullptr, nullptr, nullptr},
    {"raw_value", get_raw_value, nullptr, nullptr, nullptr},
    {"raw_text", get_raw_text, nullptr, nullptr, nullptr},
    {"raw_meaning", get_raw_meaning, nullptr, nullptr, nullptr},
    {"data", get_data, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot decoded_value_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(decoded_value_dealloc)},
    {Py_tp_free, reinterpret_cast<void*>(slab_free)},
    {Py_tp_repr, reinterpret_cast<void*>(decoded_value_repr)},
    {Py_tp_getset, decoded_value_getset},
    {Py_tp_doc, const_cast<char*>("One value decoded from section 4.")},
    {0, nullptr},
};

PyType_Spec decoded_value_spec = {
    "_quorvel.DecodedValue",
    sizeof(DecodedValueObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    decoded_value_slots,
};

}  // namespace

PyTypeObject* make_decoded_value_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &decoded_value_spec, nullptr));
}

}  // namespace quorvel::py
