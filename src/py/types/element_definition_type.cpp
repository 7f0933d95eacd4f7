#include "py/types/element_definition_type.hpp"

#include <fmt/format.h>

#include "core/base/quoted.hpp"
#include "py/support/boxed.hpp"

namespace quorvel::py {
namespace {

PyObject* element_definition_repr(PyObject* self) {
  return guarded([&] {
    const ElementDefinition& element = unbox<ElementDefinition>(self);
    return to_python(
        fmt::format("ElementDefinition({:06}, name={})", element.code, quote(element.name)));
  });
}

PyGetSetDef element_definition_getset[] = {
    QV_FIELD(ElementDefinition, code),
    QV_FIELD(ElementDefinition, name),
    QV_FIELD(ElementDefinition, unit),
    QV_FIELD(ElementDefinition, scale),
    QV_FIELD(ElementDefinition, reference),
    QV_FIELD(ElementDefinition, width),
    QV_FIELD(ElementDefinition, element_type),
    QV_FIELD(ElementDefinition, abbreviation),
    PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot element_definition_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ElementDefinition>)},
    {Py_tp_repr, reinterpret_cast<void*>(element_definition_repr)},
    {Py_tp_getset, element_definition_getset},
    {Py_tp_doc, const_cast<char*>("One Table B element, as a TableSet holds it.")},
    {0, nullptr},
};

PyType_Spec element_definition_spec = {
    "_quorvel.ElementDefinition",
    sizeof(Boxed<ElementDefinition>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    element_definition_slots,
};

}  // namespace

PyTypeObject* make_element_definition_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &element_definition_spec, nullptr));
}

PyObject* wrap_element_definition(const ModuleState& state, const ElementDefinition& element) {
  return box(state.element_definition_type, element);
}

}  // namespace quorvel::py
