#include "py/support/arguments.hpp"

#include <fmt/format.h>

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

// With every argument required, a call that is not too long and supplies
// each name has used each keyword exactly once, so a keyword that duplicates
// a positional argument or names no parameter always shows as a surplus or a
// missing argument first. These two texts are thus all there is.
bool match(PyObject* const* positional, std::size_t nargs, const Keywords& keywords,
           std::span<const char* const> names, const char* function, std::span<PyObject*> objects) {
  const std::size_t given = nargs + keywords.count;
  if (given > names.size()) {
    PyErr_SetString(
        PyExc_TypeError,
        fmt::format("{}() takes at most {} {}argument{} ({} given)", function, names.size(),
                    nargs == 0 ? "keyword " : "", names.size() == 1 ? "" : "s", given)
            .c_str());
    return false;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    objects[i] = i < nargs ? positional[i] : keywords.find(names[i]);
    if (objects[i] == nullptr) {
      PyErr_SetString(PyExc_TypeError, fmt::format("{}() missing required argument '{}' (pos {})",
                                                   function, names[i], i + 1)
                                           .c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

namespace detail {

bool parse_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<const char* const> names, const char* function,
                    std::span<PyObject*> objects) {
  Keywords keywords;
  if (kwnames != nullptr) {
    keywords.names = PySequence_Fast_ITEMS(kwnames);
    keywords.values = args + nargs;
    keywords.count = static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames));
  }
  return match(args, static_cast<std::size_t>(nargs), keywords, names, function, objects);
}

bool parse_tuple_and_dict(PyObject* args, PyObject* kwargs, std::span<const char* const> names,
                          const char* function, std::span<PyObject*> objects) {
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
               keywords, names, function, objects);
}

}  // namespace detail

bool parse_no_arguments(PyObject* args, PyObject* kwargs, const char* function) {
  return detail::parse_tuple_and_dict(args, kwargs, {}, function, {});
}

}  // namespace quorvel::py
