// The module-level functions, in the order the module registers them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

extern PyMethodDef module_functions[];

}  // namespace quorvel::py
