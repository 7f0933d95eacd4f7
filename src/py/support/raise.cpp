#include "py/support/raise.hpp"

#include "py/support/boxed.hpp"
#include "py/support/py_ref.hpp"

namespace quorvel::py {

PyObject* raise_error(const BufrError& error) {
  if (std::holds_alternative<error::Interrupted>(error.kind())) {
    // A signal handler stopped the work and its exception is pending; an
    // Interrupt that set none still must not look like bad data.
    if (PyErr_Occurred() == nullptr) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
    }
    return nullptr;
  }
  PyErr_SetString(PyExc_ValueError, error.message().c_str());
  return nullptr;
}

PyObject* raise_os_error(const OsError& error) {
  // A read stopped for a signal fails with EINTR after the signal handler
  // raised; its exception is the one to see.
  if (PyErr_Occurred() != nullptr) {
    return nullptr;
  }
  PyErr_SetString(PyExc_OSError, describe_os_error(error.code).c_str());
  return nullptr;
}

PyObject* raise_message_error(const ModuleState& state, const MessagePlace& place,
                              const BufrError& error, const DecodeWhere& where, bool compressed,
                              PyObject* tables, std::string_view reason_note) {
  if (std::holds_alternative<error::Interrupted>(error.kind())) {
    return raise_error(error);
  }
  const auto or_none = [&](auto value) {
    return where.known ? to_python(value) : PyRef::borrow(Py_None).release();
  };
  PyRef arguments = PyRef::steal(Py_BuildValue(
      "(ONNNNNNO)", place.source != nullptr ? place.source : Py_None, to_python(place.index),
      to_python(place.offset), to_python(error.message() + std::string(reason_note)),
      or_none(where.descriptor), or_none(where.position),
      compressed ? PyRef::borrow(Py_None).release() : or_none(where.subset),
      tables != nullptr ? tables : Py_None));
  if (!arguments) {
    return nullptr;
  }
  PyRef exception = PyRef::steal(PyObject_Call(
      reinterpret_cast<PyObject*>(state.message_error_type), arguments.get(), nullptr));
  if (exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(state.message_error_type), exception.get());
  }
  return nullptr;
}

}  // namespace quorvel::py
