// The module's state: its class objects, the mappings kept idle between
// decodes and the cache of tables chosen under definitions roots. Each module object has its own,
// so each interpreter that imports the module does too; nothing of the binding is shared across
// them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <bitset>
#include <type_traits>

#include "py/values/idle_mappings.hpp"

namespace quorvel::py {

class TableCache;
class SlabAllocator;

struct ModuleState {
  PyTypeObject* bufr_message_type = nullptr;
  PyTypeObject* decoded_value_type = nullptr;
  PyTypeObject* descriptor_type = nullptr;
  PyTypeObject* element_definition_type = nullptr;
  PyTypeObject* sequence_definition_type = nullptr;
  PyTypeObject* table_set_type = nullptr;
  PyTypeObject* message_type = nullptr;
  PyTypeObject* message_buffer_type = nullptr;  // not in the module's namespace
  PyTypeObject* message_error_type = nullptr;
  PyTypeObject* decoded_message_type = nullptr;
  PyTypeObject* table_version_warning_type = nullptr;
  // The (asked, used) master tables versions warned of, bit asked * 256 + used.
  std::bitset<256 * 256> warned_versions;
  IdleMappings idle_mappings;
  // Made by exec and deleted by clear, so that the state stays trivially
  // destructible; shared by every thread using this module object.
  TableCache* table_cache = nullptr;
  // Room for DecodedValues made by unpickling, a slab shared by many; made by
  // exec and deleted by clear.
  SlabAllocator* restored_values = nullptr;
};

// CPython zeroes the state before exec and frees it without a destructor.
static_assert(std::is_trivially_destructible_v<ModuleState>);

extern PyModuleDef module_def;

inline ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module that defined `type`, one of our heap types or a
// subclass of one.
inline ModuleState& state_of_type(PyTypeObject* type) {
  return module_state(PyType_GetModuleByDef(type, &module_def));
}

}  // namespace quorvel::py
