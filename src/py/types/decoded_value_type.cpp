#include "py/types/decoded_value_type.hpp"

#include <fmt/format.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/number_format.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/py_ref.hpp"
#include "py/values/decoded_value_object.hpp"
#include "py/values/slab_allocator.hpp"

namespace quorvel::py {
namespace {

void decoded_value_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DecodedValueObject* value = as_decoded_value(self);
  Py_XDECREF(value->name);
  Py_XDECREF(value->unit);
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
PyObject* get_unit(PyObject* self, void*) {
  return new_reference_or_none(as_decoded_value(self)->unit);
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

// (module._restore_decoded_value, (descriptor, name, unit, raw, raw_value,
// raw_text, raw_meaning)).
PyObject* decoded_value_reduce(PyObject* self, PyObject* /*unused*/) {
  PyObject* module = PyType_GetModuleByDef(Py_TYPE(self), &module_def);
  if (module == nullptr) {
    return nullptr;
  }
  PyRef restore = PyRef::steal(PyObject_GetAttrString(module, "_restore_decoded_value"));
  if (!restore) {
    return nullptr;
  }
  const DecodedValueObject* value = as_decoded_value(self);
  return Py_BuildValue("(O(NNNNNNN))", restore.get(), get_descriptor(self, nullptr),
                       get_name(self, nullptr), get_unit(self, nullptr), get_raw(self, nullptr),
                       get_raw_value(self, nullptr), new_reference_or_none(value->raw_text),
                       new_reference_or_none(value->raw_meaning));
}

PyMethodDef decoded_value_methods[] = {
    {"__reduce__", decoded_value_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef decoded_value_getset[] = {
    {"descriptor", get_descriptor, nullptr, nullptr, nullptr},
    {"name", get_name, nullptr, nullptr, nullptr},
    {"unit", get_unit, nullptr, nullptr, nullptr},
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
    {Py_tp_methods, decoded_value_methods},
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

// A str, or None as nullptr; false with TypeError otherwise.
bool text_or_null(PyObject* object, const char* name, PyObject*& text) {
  const auto given = convert_text_or_none(object, name);
  if (!given) {
    return false;
  }
  text = *given == Py_None ? nullptr : *given;
  return true;
}

}  // namespace

PyObject* restore_decoded_value(ModuleState& state, PyObject* const* fields) {
  const auto descriptor = convert_code(fields[0], "descriptor");
  if (!descriptor) {
    return nullptr;
  }
  PyObject* texts[4] = {};
  const char* names[4] = {"name", "unit", "raw_text", "raw_meaning"};
  const int positions[4] = {1, 2, 5, 6};
  for (int i = 0; i < 4; ++i) {
    if (!text_or_null(fields[positions[i]], names[i], texts[i])) {
      return nullptr;
    }
  }
  if (texts[0] == nullptr || texts[1] == nullptr || (texts[2] != nullptr && texts[3] != nullptr)) {
    return set_argument_error(PyExc_ValueError, "fields",
                              "a value has a name and a unit, and a text or a meaning or neither");
  }
  std::optional<std::uint64_t> raw;
  if (fields[3] != Py_None) {
    raw = convert_unsigned(fields[3], "raw", UINT64_MAX);
    if (!raw) {
      return nullptr;
    }
  }
  std::optional<double> raw_value;
  if (fields[4] != Py_None) {
    if (!PyFloat_Check(fields[4])) {
      return set_argument_error(PyExc_TypeError, "raw_value",
                                fmt::format("expected float, got {}", Py_TYPE(fields[4])->tp_name));
    }
    raw_value = PyFloat_AS_DOUBLE(fields[4]);
  }
  DecodedValueObject* object = state.restored_values->allocate();
  if (object == nullptr) {
    return PyErr_NoMemory();
  }
  PyObject_Init(reinterpret_cast<PyObject*>(object), state.decoded_value_type);
  object->name = Py_NewRef(texts[0]);
  object->unit = Py_NewRef(texts[1]);
  object->raw_text = Py_XNewRef(texts[2]);
  object->raw_meaning = Py_XNewRef(texts[3]);
  object->descriptor = *descriptor;
  object->has_raw = raw.has_value();
  object->raw = raw.value_or(0);
  object->has_raw_value = raw_value.has_value();
  object->raw_value = raw_value.value_or(0.0);
  return reinterpret_cast<PyObject*>(object);
}

PyTypeObject* make_decoded_value_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &decoded_value_spec, nullptr));
}

}  // namespace quorvel::py
