// add_static_methods: static methods that know the class defining them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

// Adds `methods` (ended by an entry with a null name) to the new heap type
// `type` as static methods whose C function receives `type` as its defining
// class, from which PyType_GetModuleByDef finds the module state.
//
// Each entry's flags must be METH_FASTCALL | METH_KEYWORDS | METH_METHOD |
// METH_STATIC. A static method listed in Py_tp_methods is called with neither
// instance nor class, and CPython refuses METH_METHOD there because it makes
// the function without a class; so the function is made here with the class,
// exactly as the type would make it otherwise (same self, name, doc and
// signature), and put in the class's dict before any code sees the class.
// Returns false with an exception set.
bool add_static_methods(PyTypeObject* type, PyMethodDef* methods);

}  // namespace quorvel::py
