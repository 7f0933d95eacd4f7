#include "py/types/sequence_definition_type.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "py/support/boxed.hpp"

namespace quorvel::py {
namespace {

PyObject* sequence_definition_repr(PyObject* self) {
  return guarded([&] {
    const SequenceDefinition& sequence = unbox<SequenceDefinition>(self);
    return to_python(fmt::format("SequenceDefinition({:06}, members=[{}])", sequence.code,
                                 fmt::join(sequence.members, ", ")));
  });
}

PyGetSetDef sequence_definition_getset[] = {
    QV_FIELD(SequenceDefinition, code),
    QV_FIELD(SequenceDefinition, members),
    PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot sequence_definition_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<SequenceDefinition>)},
    {Py_tp_repr, reinterpret_cast<void*>(sequence_definition_repr)},
    {Py_tp_getset, sequence_definition_getset},
    {Py_tp_doc, const_cast<char*>("One Table D sequence, as a TableSet holds it.")},
    {0, nullptr},
};

PyType_Spec sequence_definition_spec = {
    "_quorvel.SequenceDefinition",
    sizeof(Boxed<SequenceDefinition>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    sequence_definition_slots,
};

}  // namespace

PyTypeObject* make_sequence_definition_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &sequence_definition_spec, nullptr));
}

PyObject* wrap_sequence_definition(const ModuleState& state, const SequenceDefinition& sequence) {
  return box(state.sequence_definition_type, sequence);
}

}  // namespace quorvel::py
