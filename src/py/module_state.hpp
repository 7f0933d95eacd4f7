// The module's state: its class objects, created once at import.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

struct ModuleState {
  PyTypeObject* bufr_message_type = nullptr;
  PyTypeObject* decoded_value_type = nullptr;
  PyTypeObject* descriptor_type = nullptr;
  PyTypeObject* element_definition_type = nullptr;
  PyTypeObject* sequence_definition_type = nullptr;
  PyTypeObject* table_set_type = nullptr;
};

extern PyModuleDef module_def;

inline ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module that defined `type` (one of our heap types).
inline ModuleState& state_of_type(PyTypeObject* type) {
  return module_state(PyType_GetModuleByDef(type, &module_def));
}

// The state for a static method, which receives neither module nor type.
// Only valid while the module is imported, as it is during any call into it.
inline ModuleState& state_for_static() { return module_state(PyState_FindModule(&module_def)); }

}  // namespace quorvel::py
