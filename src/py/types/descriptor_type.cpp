#include "py/types/descriptor_type.hpp"

#include <fmt/format.h>

#include "core/message/descriptor.hpp"
#include "py/module_state.hpp"
#include "py/support/arguments.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/static_methods.hpp"

namespace quorvel::py {
namespace {

// F, X and Y as given: Python may build descriptors no message can carry.
struct DescriptorValue {
  std::uint8_t f;
  std::uint8_t x;
  std::uint8_t y;

  std::uint32_t code() const { return make_descriptor_code(f, x, y); }
};

PyObject* descriptor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, kwargs, {"f", "x", "y"}, "Descriptor");
    if (!arguments) {
      return nullptr;
    }
    const auto f = convert_octet((*arguments)[0], "f");
    if (!f) {
      return nullptr;
    }
    const auto x = convert_octet((*arguments)[1], "x");
    if (!x) {
      return nullptr;
    }
    const auto y = convert_octet((*arguments)[2], "y");
    if (!y) {
      return nullptr;
    }
    return box(type, DescriptorValue{*f, *x, *y});
  });
}

PyObject* descriptor_from_fxy(PyObject* /*unused*/, PyTypeObject* defining_class,
                              PyObject* const* args, std::size_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments =
        parse_arguments(args, static_cast<Py_ssize_t>(nargs), kwnames, {"code"}, "from_fxy");
    if (!arguments) {
      return nullptr;
    }
    const auto code = convert_code((*arguments)[0], "code");
    if (!code) {
      return nullptr;
    }
    // F and Y keep their low eight bits: from_fxy(1999) is 0-01-231.
    const DescriptorValue descriptor{static_cast<std::uint8_t>(descriptor_f(*code) & 0xFFu),
                                     static_cast<std::uint8_t>(descriptor_x(*code)),
                                     static_cast<std::uint8_t>(descriptor_y(*code) & 0xFFu)};
    return box(state_of_type(defining_class).descriptor_type, descriptor);
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
    QV_FIELD(DescriptorValue, f),
    QV_FIELD(DescriptorValue, x),
    QV_FIELD(DescriptorValue, y),
    PyGetSetDef{"fxy", get_code, nullptr, nullptr, nullptr},
    PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef descriptor_static_methods[] = {
    {"from_fxy", as_cfunction(descriptor_from_fxy),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC, "from_fxy(code)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot descriptor_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(descriptor_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<DescriptorValue>)},
    {Py_tp_repr, reinterpret_cast<void*>(descriptor_repr)},
    {Py_tp_getset, descriptor_getset},
    {Py_tp_doc, const_cast<char*>("Descriptor(f, x, y)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec descriptor_spec = {
    "_quorvel.Descriptor",
    sizeof(Boxed<DescriptorValue>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    descriptor_slots,
};

}  // namespace

PyTypeObject* make_descriptor_type(PyObject* module) {
  PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &descriptor_spec, nullptr));
  if (!type ||
      !add_static_methods(reinterpret_cast<PyTypeObject*>(type.get()), descriptor_static_methods)) {
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace quorvel::py
