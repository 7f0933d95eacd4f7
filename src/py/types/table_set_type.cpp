#include <fmt/format.h>

#include "core/tables/definitions_root.hpp"
#include "core/tables/expansion.hpp"
#include "core/tables/formats/bufr4_loader.hpp"
#include "core/tables/formats/table_directory.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/raise.hpp"
#include "py/types/types.hpp"

namespace quorvel::py {
namespace {

const TableSet& tables_of(PyObject* self) { return unbox<TableSet>(self); }
const ModuleState& state_of(PyObject* self) { return state_of_type(Py_TYPE(self)); }

// Parses the object arguments `names` (positional or keyword) of `function`.
template <std::size_t N>
bool parse_arguments(PyObject* args, PyObject* kwargs, const char* format,
                     const char* const (&names)[N], PyObject* (&objects)[N - 1]) {
  static_assert(N == 2 || N == 3);
  if constexpr (N == 2) {
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names),
                                       &objects[0]) != 0;
  } else {
    return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), &objects[0],
                                       &objects[1]) != 0;
  }
}

std::optional<std::uint32_t> convert_code(PyObject* object) {
  const auto code = convert_unsigned(object, "code", UINT32_MAX);
  if (!code) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*code);
}

PyObject* table_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":TableSet", const_cast<char**>(keywords))) {
      return nullptr;
    }
    return box(type, TableSet());
  });
}

PyObject* table_set_repr(PyObject* self) {
  return guarded([&] {
    const TableSet& tables = tables_of(self);
    return to_python(fmt::format("TableSet(elements={}, sequences={})", tables.element_count(),
                                 tables.sequence_count()));
  });
}

PyObject* get_element_count(PyObject* self, void* /*closure*/) {
  return to_python(tables_of(self).element_count());
}

PyObject* get_sequence_count(PyObject* self, void* /*closure*/) {
  return to_python(tables_of(self).sequence_count());
}

PyObject* get_element(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"code", nullptr};
    PyObject* objects[1] = {};
    if (!parse_arguments(args, kwargs, "O:get_element", keywords, objects)) {
      return nullptr;
    }
    const auto code = convert_code(objects[0]);
    if (!code) {
      return nullptr;
    }
    const ElementDefinition* element = tables_of(self).find_element(*code);
    if (element == nullptr) {
      Py_RETURN_NONE;
    }
    return wrap_element_definition(state_of(self), *element);
  });
}

PyObject* get_sequence(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"code", nullptr};
    PyObject* objects[1] = {};
    if (!parse_arguments(args, kwargs, "O:get_sequence", keywords, objects)) {
      return nullptr;
    }
    const auto code = convert_code(objects[0]);
    if (!code) {
      return nullptr;
    }
    const SequenceDefinition* sequence = tables_of(self).find_sequence(*code);
    if (sequence == nullptr) {
      Py_RETURN_NONE;
    }
    return wrap_sequence_definition(state_of(self), *sequence);
  });
}

PyObject* get_meaning(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"code", "raw", nullptr};
    PyObject* objects[2] = {};
    if (!parse_arguments(args, kwargs, "OO:get_meaning", keywords, objects)) {
      return nullptr;
    }
    const auto code = convert_code(objects[0]);
    if (!code) {
      return nullptr;
    }
    const auto raw = convert_unsigned(objects[1], "raw", UINT64_MAX);
    if (!raw) {
      return nullptr;
    }
    const auto meaning = tables_of(self).find_meaning(*code, *raw);
    if (!meaning) {
      Py_RETURN_NONE;
    }
    return to_python(*meaning);
  });
}

PyObject* expand(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"descriptors", nullptr};
    PyObject* objects[1] = {};
    if (!parse_arguments(args, kwargs, "O:expand", keywords, objects)) {
      return nullptr;
    }
    const auto descriptors = convert_descriptors(objects[0], "descriptors");
    if (!descriptors) {
      return nullptr;
    }
    return expand_to_list(tables_of(self), *descriptors);
  });
}

PyObject* from_definitions(PyObject* /*unused*/, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"path", "message", nullptr};
    PyObject* objects[2] = {};
    if (!parse_arguments(args, kwargs, "OO:from_definitions", keywords, objects)) {
      return nullptr;
    }
    const ModuleState& state = state_for_static();
    const auto path = convert_path(objects[0], "path");
    if (!path) {
      return nullptr;
    }
    const BufrMessage* message = convert_bufr_message(state, objects[1], "message");
    if (message == nullptr) {
      return nullptr;
    }
    auto tables = select_definition_tables(*path, *message);
    if (!tables) {
      return raise_error(tables.error());
    }
    return wrap_table_set(state, std::move(*tables));
  });
}

// A static loader taking one `path` argument.
template <auto Load>
PyObject* load_from_path(PyObject* /*unused*/, PyObject* args, PyObject* kwargs,
                         const char* format) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"path", nullptr};
    PyObject* objects[1] = {};
    if (!parse_arguments(args, kwargs, format, keywords, objects)) {
      return nullptr;
    }
    const auto path = convert_path(objects[0], "path");
    if (!path) {
      return nullptr;
    }
    auto tables = Load(*path);
    if (!tables) {
      return raise_error(tables.error());
    }
    return wrap_table_set(state_for_static(), std::move(*tables));
  });
}

PyObject* from_eccodes(PyObject* unused, PyObject* args, PyObject* kwargs) {
  return load_from_path<load_table_directory>(unused, args, kwargs, "O:from_eccodes");
}

PyObject* from_bufr4_45(PyObject* unused, PyObject* args, PyObject* kwargs) {
  return load_from_path<load_bufr4_tables>(unused, args, kwargs, "O:from_bufr4_45");
}

PyGetSetDef table_set_getset[] = {
    {"element_count", get_element_count, nullptr, nullptr, nullptr},
    {"sequence_count", get_sequence_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef table_set_methods[] = {
    {"get_element", as_cfunction(get_element), METH_VARARGS | METH_KEYWORDS,
     "get_element($self, code)\n--\n\n"},
    {"get_sequence", as_cfunction(get_sequence), METH_VARARGS | METH_KEYWORDS,
     "get_sequence($self, code)\n--\n\n"},
    {"get_meaning", as_cfunction(get_meaning), METH_VARARGS | METH_KEYWORDS,
     "get_meaning($self, code, raw)\n--\n\n"},
    {"expand", as_cfunction(expand), METH_VARARGS | METH_KEYWORDS,
     "expand($self, descriptors)\n--\n\n"},
    {"from_eccodes", as_cfunction(from_eccodes), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_eccodes(path)\n--\n\n"},
    {"from_bufr4_45", as_cfunction(from_bufr4_45), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_bufr4_45(path)\n--\n\n"},
    {"from_definitions", as_cfunction(from_definitions), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_definitions(path, message)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot table_set_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(table_set_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<TableSet>)},
    {Py_tp_repr, reinterpret_cast<void*>(table_set_repr)},
    {Py_tp_getset, table_set_getset},
    {Py_tp_methods, table_set_methods},
    {Py_tp_doc, const_cast<char*>("TableSet()\n--\n\n")},
    {0, nullptr},
};

PyType_Spec table_set_spec = {
    "_quorvel.TableSet", sizeof(Boxed<TableSet>), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    table_set_slots,
};

}  // namespace

PyTypeObject* make_table_set_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &table_set_spec, nullptr));
}

PyObject* expand_to_list(const TableSet& tables, std::span<const std::uint32_t> descriptors) {
  const auto expanded = expand_descriptors(tables, descriptors);
  if (!expanded) {
    return raise_error(expanded.error());
  }
  return to_python(*expanded);
}

const TableSet* convert_table_set(const ModuleState& state, PyObject* object, const char* name) {
  if (!PyObject_TypeCheck(object, state.table_set_type)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected TableSet, got {}", Py_TYPE(object)->tp_name));
    return nullptr;
  }
  return &unbox<TableSet>(object);
}

PyObject* wrap_table_set(const ModuleState& state, TableSet tables) {
  return box(state.table_set_type, std::move(tables));
}

}  // namespace quorvel::py
