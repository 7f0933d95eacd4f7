#include "py/support/arguments.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

namespace quorvel::py {
namespace {

// The keyword arguments of a call: names and values side by side.
struct Keywords {
  PyObject* const* names = nullptr;
  PyObject* const* values = nullptr;
  std::size_t count = 0;

  PyObject* find(const char* name) const {
    for (std::size_t i = 0; i < count; ++i) {
      if (PyUnicode_Check(names[i]) && PyUnicode_CompareWithASCIIString(names[i], name) == 0) {
        return values[i];
      }
    }
    return nullptr;
  }
};

// Checked in CPython's order: too many arguments, then a required parameter
// missing, then a keyword that names no parameter or one given by position.
// When every argument is required, a call that is not too long and supplies
// each name has used each keyword exactly once, so only optional parameters
// let the last check find anything.
bool match(PyObject* const* positional, std::size_t nargs, const Keywords& keywords,
           std::span<const char* const> names, std::size_t required, const char* function,
           std::span<PyObject*> objects) {
  const std::size_t given = nargs + keywords.count;
  if (given > names.size()) {
    PyErr_SetString(
        PyExc_TypeError,
        fmt::format("{}() takes at most {} {}argument{} ({} given)", function, names.size(),
                    nargs == 0 ? "keyword " : "", names.size() == 1 ? "" : "s", given)
            .c_str());
    return false;
  }
  std::size_t by_keyword = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    PyObject* const keyword = i < nargs ? nullptr : keywords.find(names[i]);
    by_keyword += keyword != nullptr ? 1 : 0;
    objects[i] = i < nargs ? positional[i] : keyword;
    if (objects[i] == nullptr && i < required) {
      PyErr_SetString(PyExc_TypeError, fmt::format("{}() missing required argument '{}' (pos {})",
                                                   function, names[i], i + 1)
                                           .c_str());
      return false;
    }
  }
  if (by_keyword == keywords.count) {
    return true;
  }
  for (std::size_t k = 0; k < keywords.count; ++k) {
    PyObject* const keyword = keywords.names[k];
    const auto named = std::find_if(names.begin(), names.end(), [&](const char* name) {
      return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, name) == 0;
    });
    const auto position = static_cast<std::size_t>(named - names.begin());
    if (named == names.end()) {
      PyErr_Format(PyExc_TypeError, "'%S' is an invalid keyword argument for %s()", keyword,
                   function);
      return false;
    }
    if (position < nargs) {
      PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zu)",
                   function, *named, position + 1);
      return false;
    }
  }
  return true;
}

}  // namespace

namespace detail {

bool parse_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<const char* const> names, std::size_t required, const char* function,
                    std::span<PyObject*> objects) {
  Keywords keywords;
  if (kwnames != nullptr) {
    keywords.names = PySequence_Fast_ITEMS(kwnames);
    keywords.values = args + nargs;
    keywords.count = static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames));
  }
  return match(args, static_cast<std::size_t>(nargs), keywords, names, required, function, objects);
}

bool parse_tuple_and_dict(PyObject* args, PyObject* kwargs, std::span<const char* const> names,
                          std::size_t required, const char* function,
                          std::span<PyObject*> objects) {
  std::vector<PyObject*> keyword_names;
  std::vector<PyObject*> keyword_values;
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      keyword_names.push_back(key);
      keyword_values.push_back(value);
    }
  }
  const Keywords keywords{keyword_names.data(), keyword_values.data(), keyword_names.size()};
  return match(PySequence_Fast_ITEMS(args), static_cast<std::size_t>(PyTuple_GET_SIZE(args)),
               keywords, names, required, function, objects);
}

}  // namespace detail

bool parse_no_arguments(PyObject* args, PyObject* kwargs, const char* function) {
  return detail::parse_tuple_and_dict(args, kwargs, {}, 0, function, {});
}

}  // namespace quorvel::py
