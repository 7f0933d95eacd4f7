// PyRef: owns exactly one reference to a Python object. steal() adopts a new
// reference, borrow() takes one more; release() hands the reference on.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <type_traits>
#include <utility>

namespace quorvel::py {

class PyRef {
 public:
  PyRef() = default;
  static PyRef steal(PyObject* object) { return PyRef(object); }
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Gives up ownership; only for APIs that steal a reference, or for a return.
  [[nodiscard]] PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

// Runs the body of a CPython entry point; no C++ exception crosses the frame.
// A body returns a new reference (nullptr on failure) or a status (-1 on
// failure), as the slot it implements does.
template <class Body>
auto guarded(Body&& body) noexcept -> decltype(body()) {
  using Result = decltype(body());
  static_assert(std::is_same_v<Result, PyObject*> || std::is_same_v<Result, int>);
  const auto failure = [] {
    if constexpr (std::is_same_v<Result, int>) {
      return -1;
    } else {
      return static_cast<PyObject*>(nullptr);
    }
  };
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return failure();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "_quorvel: unexpected internal failure");
    return failure();
  }
}

// A METH_FASTCALL or METH_METHOD function as the PyCFunction a PyMethodDef holds.
template <class Function>
PyCFunction as_cfunction(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace quorvel::py
