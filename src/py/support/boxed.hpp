// Boxed<T>: a Python object holding one plain C++ value, made with
// placement-new and destroyed in dealloc. No PyObject* inside, so no GC.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "py/support/py_ref.hpp"

namespace quorvel::py {

template <class T>
struct Boxed {
  PyObject_HEAD T value;
};

template <class T>
const T& unbox(PyObject* object) {
  return reinterpret_cast<Boxed<T>*>(object)->value;
}

// A new instance of the heap type `type` owning `value`; nullptr with an
// exception set on failure.
template <class T>
PyObject* box(PyTypeObject* type, T value) {
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) {
    return nullptr;
  }
  new (&reinterpret_cast<Boxed<T>*>(object)->value) T(std::move(value));
  return object;
}

template <class T>
void boxed_dealloc(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  reinterpret_cast<Boxed<T>*>(object)->value.~T();
  type->tp_free(object);
  Py_DECREF(type);
}

// C++ values to new Python objects.
inline PyObject* to_python(bool value) { return PyBool_FromLong(value ? 1 : 0); }

template <class Integer>
requires(std::is_integral_v<Integer> &&
         !std::is_same_v<Integer, bool>) PyObject* to_python(Integer value) {
  if constexpr (std::is_signed_v<Integer>) {
    return PyLong_FromLongLong(value);
  } else {
    return PyLong_FromUnsignedLongLong(value);
  }
}

inline PyObject* to_python(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

template <class Item>
PyObject* to_python(const std::vector<Item>& items) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) {
    return nullptr;
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = to_python(items[i]);
    if (item == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// A getter for the field `Member` of the boxed value.
template <class T, auto Member>
PyObject* get_field(PyObject* self, void* /*closure*/) {
  return guarded([&] { return to_python(unbox<T>(self).*Member); });
}

}  // namespace quorvel::py

// The read-only attribute `name` of a class boxing a `Type`, read from the
// member of the same name.
#define QV_FIELD(Type, name) \
  PyGetSetDef { #name, ::quorvel::py::get_field < Type, &Type::name>, nullptr, nullptr, nullptr }
