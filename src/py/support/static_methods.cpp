#include "py/support/static_methods.hpp"

#include "py/support/py_ref.hpp"

namespace quorvel::py {

bool add_static_methods(PyTypeObject* type, PyMethodDef* methods) {
  for (PyMethodDef* method = methods; method->ml_name != nullptr; ++method) {
    PyRef function =
        PyRef::steal(PyCMethod_New(method, reinterpret_cast<PyObject*>(type), nullptr, type));
    if (!function) {
      return false;
    }
    PyRef descriptor = PyRef::steal(PyStaticMethod_New(function.get()));
    if (!descriptor) {
      return false;
    }
    // The class is immutable to Python code, not to its own module.
    if (PyDict_SetItemString(type->tp_dict, method->ml_name, descriptor.get()) != 0) {
      return false;
    }
  }
  PyType_Modified(type);
  return true;
}

}  // namespace quorvel::py
