// parse_arguments: the one way every function, method and constructor of the
// module takes its arguments. The first `required` of them must be given, the
// rest may be left out (they come back as nullptr); any may come by position
// or by keyword. The TypeErrors for missing, duplicated, unexpected or
// surplus arguments read as CPython's own argument parser words them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace quorvel::py {
namespace detail {

// Fills `objects` (one per name) with borrowed references; false with a
// TypeError set.
bool parse_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<const char* const> names, std::size_t required, const char* function,
                    std::span<PyObject*> objects);
bool parse_tuple_and_dict(PyObject* args, PyObject* kwargs, std::span<const char* const> names,
                          std::size_t required, const char* function, std::span<PyObject*> objects);

}  // namespace detail

// The arguments of a METH_FASTCALL | METH_KEYWORDS call, in the order of
// `names`, as borrowed references; nothing with a TypeError set.
template <std::size_t N>
std::optional<std::array<PyObject*, N>> parse_arguments(PyObject* const* args, Py_ssize_t nargs,
                                                        PyObject* kwnames,
                                                        const char* const (&names)[N],
                                                        const char* function,
                                                        std::size_t required = N) {
  std::array<PyObject*, N> objects{};
  if (!detail::parse_fastcall(args, nargs, kwnames, names, required, function, objects)) {
    return std::nullopt;
  }
  return objects;
}

// The same for a tp_new slot, which receives a tuple and a dict.
template <std::size_t N>
std::optional<std::array<PyObject*, N>> parse_arguments(PyObject* args, PyObject* kwargs,
                                                        const char* const (&names)[N],
                                                        const char* function,
                                                        std::size_t required = N) {
  std::array<PyObject*, N> objects{};
  if (!detail::parse_tuple_and_dict(args, kwargs, names, required, function, objects)) {
    return std::nullopt;
  }
  return objects;
}

// A tp_new slot that takes no argument.
bool parse_no_arguments(PyObject* args, PyObject* kwargs, const char* function);

}  // namespace quorvel::py
