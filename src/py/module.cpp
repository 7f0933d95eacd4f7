// Module initialisation, in two phases: PyInit returns the definition, and
// exec fills each new module object with its classes, functions and
// constants, in that order.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>

#include "core/decode/decoded_value.hpp"
#include "core/message/descriptor.hpp"
#include "py/functions.hpp"
#include "py/module_state.hpp"
#include "py/support/boxed.hpp"
#include "py/support/py_ref.hpp"
#include "py/tables/table_cache.hpp"
#include "py/types/bufr_message_type.hpp"
#include "py/types/decoded_message_type.hpp"
#include "py/types/decoded_value_type.hpp"
#include "py/types/descriptor_type.hpp"
#include "py/types/element_definition_type.hpp"
#include "py/types/message_error_type.hpp"
#include "py/types/message_type.hpp"
#include "py/types/sequence_definition_type.hpp"
#include "py/types/table_set_type.hpp"
#include "py/values/slab_allocator.hpp"

namespace quorvel::py {
namespace {

template <class Visit>
void for_each_type_slot(ModuleState& state, Visit visit) {
  visit(state.bufr_message_type);
  visit(state.decoded_value_type);
  visit(state.descriptor_type);
  visit(state.element_definition_type);
  visit(state.sequence_definition_type);
  visit(state.table_set_type);
  visit(state.message_type);
  visit(state.message_buffer_type);
  visit(state.message_error_type);
  visit(state.decoded_message_type);
  visit(state.table_version_warning_type);
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
  int result = 0;
  for_each_type_slot(module_state(module), [&](PyTypeObject* type) {
    if (result == 0 && type != nullptr) {
      result = visit(reinterpret_cast<PyObject*>(type), arg);
    }
  });
  return result;
}

int module_clear(PyObject* module) {
  ModuleState& state = module_state(module);
  for_each_type_slot(state, [](PyTypeObject*& type) { Py_CLEAR(type); });
  state.idle_mappings.close();
  delete state.table_cache;
  state.table_cache = nullptr;
  delete state.restored_values;
  state.restored_values = nullptr;
  return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

// Makes a class, keeps it in the state slot and adds it to the module.
bool add_type(PyObject* module, PyTypeObject*& slot, PyTypeObject* (*make)(PyObject*),
              const char* name) {
  slot = make(module);
  if (slot == nullptr) {
    return false;
  }
  return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(slot)) == 0;
}

// Adds `value`, a new reference or nullptr with an exception set.
bool add_constant(PyObject* module, const char* name, PyObject* value) {
  PyRef owned = PyRef::steal(value);
  return owned && PyModule_AddObjectRef(module, name, owned.get()) == 0;
}

int module_exec(PyObject* module) {
  return guarded([&]() -> int {
    ModuleState& state = *new (PyModule_GetState(module)) ModuleState();
    state.table_cache = new TableCache();
    state.restored_values = new SlabAllocator(state.idle_mappings);
    const bool added =
        add_type(module, state.bufr_message_type, make_bufr_message_type, "BufrMessage") &&
        add_type(module, state.decoded_value_type, make_decoded_value_type, "DecodedValue") &&
        add_type(module, state.descriptor_type, make_descriptor_type, "Descriptor") &&
        add_type(module, state.element_definition_type, make_element_definition_type,
                 "ElementDefinition") &&
        add_type(module, state.sequence_definition_type, make_sequence_definition_type,
                 "SequenceDefinition") &&
        add_type(module, state.table_set_type, make_table_set_type, "TableSet") &&
        add_type(module, state.message_type, make_message_type, "Message") &&
        (state.message_buffer_type = make_message_buffer_type(module)) != nullptr &&
        add_type(module, state.message_error_type, make_message_error_type, "MessageError") &&
        add_type(module, state.decoded_message_type, make_decoded_message_type, "DecodedMessage") &&
        add_type(module, state.table_version_warning_type, make_table_version_warning_type,
                 "TableVersionWarning") &&
        PyModule_AddFunctions(module, module_functions) == 0 &&
        add_constant(module, "ASSOCIATED_FIELD_CODE", to_python(kAssociatedFieldCode)) &&
        add_constant(module, "OPERATOR_NAME", to_python(kOperatorName)) &&
        add_constant(module, "INSERTED_TEXT_NAME", to_python(kInsertedTextName)) &&
        add_constant(module, "UNKNOWN_ELEMENT_NAME", to_python(kUnknownElementName)) &&
        add_constant(module, "BUFR_MESSAGE_FIELDS", bufr_message_field_names());
    return added ? 0 : -1;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

}  // namespace

// Process-wide because CPython keeps the definition for every import and
// writes its own bookkeeping into it; it holds no state of ours (the specs
// and method tables elsewhere are only read). The functions are added by
// exec, after the classes, rather than through m_methods, which CPython
// would add first.
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quorvel",      "",           sizeof(ModuleState), nullptr,
    module_slots,          module_traverse, module_clear, module_free,
};

}  // namespace quorvel::py

PyMODINIT_FUNC PyInit__quorvel() { return PyModuleDef_Init(&quorvel::py::module_def); }
