// Module initialisation: the classes first, then the functions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "py/functions.hpp"
#include "py/module_state.hpp"
#include "py/support/py_ref.hpp"
#include "py/types/types.hpp"

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
  for_each_type_slot(module_state(module), [](PyTypeObject*& type) { Py_CLEAR(type); });
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

PyObject* init_module() {
  PyRef module = PyRef::steal(PyModule_Create(&module_def));
  if (!module) {
    return nullptr;
  }
  ModuleState& state = module_state(module.get());
  if (!add_type(module.get(), state.bufr_message_type, make_bufr_message_type, "BufrMessage") ||
      !add_type(module.get(), state.decoded_value_type, make_decoded_value_type, "DecodedValue") ||
      !add_type(module.get(), state.descriptor_type, make_descriptor_type, "Descriptor") ||
      !add_type(module.get(), state.element_definition_type, make_element_definition_type,
                "ElementDefinition") ||
      !add_type(module.get(), state.sequence_definition_type, make_sequence_definition_type,
                "SequenceDefinition") ||
      !add_type(module.get(), state.table_set_type, make_table_set_type, "TableSet")) {
    return nullptr;
  }
  if (PyModule_AddFunctions(module.get(), module_functions) != 0) {
    return nullptr;
  }
  return module.release();
}

}  // namespace

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quorvel",   "",          sizeof(ModuleState), nullptr, nullptr,
    module_traverse,       module_clear, module_free,
};

}  // namespace quorvel::py

PyMODINIT_FUNC PyInit__quorvel() {
  return quorvel::py::guarded([] { return quorvel::py::init_module(); });
}
