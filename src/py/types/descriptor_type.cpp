#include <fmt/format.h>

#include "core/message/descriptor.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/types/types.hpp"

namespace quorvel::py {
namespace {

// F, X and Y as given: Python may build descriptors no message can carry.
struct DescriptorValue {
  std::uint8_t f;
  std::uint8_t x;
  std::uint8_t y;

  std::uint32_t code() const { return make_descriptor_code(f, x, y); }
};

using Object = Boxed<DescriptorValue>;

std::optional<std::uint8_t> convert_u8(PyObject* object, const char* name) {
  const auto value = convert_unsigned(object, name, 255);
  if (!value) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(*value);
}

PyObject* descriptor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"f", "x", "y", nullptr};
    PyObject* f_object = nullptr;
    PyObject* x_object = nullptr;
    PyObject* y_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:Descriptor", const_cast<char**>(keywords),
                                     &f_object, &x_object, &y_object)) {
      return nullptr;
    }
    const auto f = convert_u8(f_object, "f");
    if (!f) {
      return nullptr;
    }
    const auto x = convert_u8(x_object, "x");
    if (!x) {
      return nullptr;
    }
    const auto y = convert_u8(y_object, "y");
    if (!y) {
      return nullptr;
    }
    return box(type, DescriptorValue{*f, *x, *y});
  });
}

PyObject* descriptor_from_fxy(PyObject* /*unused*/, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"code", nullptr};
    PyObject* code_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:from_fxy", const_cast<char**>(keywords),
                                     &code_object)) {
      return nullptr;
    }
    const auto code = convert_unsigned(code_object, "code", UINT32_MAX);
    if (!code) {
      return nullptr;
    }
    const auto value = static_cast<std::uint32_t>(*code);
    // F and Y keep their low eight bits: from_fxy(1999) is 0-01-231.
    const DescriptorValue descriptor{static_cast<std::uint8_t>(descriptor_f(value) & 0xFFu),
                                     static_cast<std::uint8_t>(descriptor_x(value)),
                                     static_cast<std::uint8_t>(descriptor_y(value) & 0xFFu)};
    return box(state_for_static().descriptor_type, descriptor);
  });
}

PyObject* descriptor_repr(PyObject* self) {
  return guarded([&] {
    return to_python(fmt::format("Descriptor({:06})", unbox<DescriptorValue>(self).code()));
  });
}

PyObject* get_code(PyObject* self, void* /*closure*/) {
  return to_python(unbox<DescriptorValue>(self).code());
}

PyGetSetDef descriptor_getset[] = {
    {"f", get_field<DescriptorValue, &DescriptorValue::f>, nullptr, nullptr, nullptr},
    {"x", get_field<DescriptorValue, &DescriptorValue::x>, nullptr, nullptr, nullptr},
    {"y", get_field<DescriptorValue, &DescriptorValue::y>, nullptr, nullptr, nullptr},
    {"fxy", get_code, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef descriptor_methods[] = {
    {"from_fxy", as_cfunction(descriptor_from_fxy), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_fxy(code)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot descriptor_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(descriptor_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<DescriptorValue>)},
    {Py_tp_repr, reinterpret_cast<void*>(descriptor_repr)},
    {Py_tp_getset, descriptor_getset},
    {Py_tp_methods, descriptor_methods},
    {Py_tp_doc, const_cast<char*>("Descriptor(f, x, y)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec descriptor_spec = {
    "_quorvel.Descriptor", sizeof(Object), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    descriptor_slots,
};

}  // namespace

PyTypeObject* make_descriptor_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &descriptor_spec, nullptr));
}

}  // namespace quorvel::py
