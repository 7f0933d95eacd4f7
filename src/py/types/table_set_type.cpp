#include "py/types/table_set_type.hpp"

#include <fmt/format.h>

#include "core/tables/definitions_root.hpp"
#include "core/tables/expansion.hpp"
#include "core/tables/formats/bufr4_loader.hpp"
#include "core/tables/formats/table_directory.hpp"
#include "py/support/arguments.hpp"
#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/raise.hpp"
#include "py/support/static_methods.hpp"
#include "py/support/without_gil.hpp"
#include "py/types/element_definition_type.hpp"
#include "py/types/sequence_definition_type.hpp"

namespace quorvel::py {
namespace {

const TableSet& tables_of(PyObject* self) { return unbox<TableSet>(self); }
const ModuleState& state_of(PyObject* self) { return state_of_type(Py_TYPE(self)); }

PyObject* table_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    if (!parse_no_arguments(args, kwargs, "TableSet")) {
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

PyObject* get_element(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"code"}, "get_element");
    if (!arguments) {
      return nullptr;
    }
    const auto code = convert_code((*arguments)[0], "code");
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

PyObject* get_sequence(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"code"}, "get_sequence");
    if (!arguments) {
      return nullptr;
    }
    const auto code = convert_code((*arguments)[0], "code");
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

PyObject* get_meaning(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"code", "raw"}, "get_meaning");
    if (!arguments) {
      return nullptr;
    }
    const auto code = convert_code((*arguments)[0], "code");
    if (!code) {
      return nullptr;
    }
    const auto raw = convert_unsigned((*arguments)[1], "raw", UINT64_MAX);
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

PyObject* expand(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, nargs, kwnames, {"descriptors"}, "expand");
    if (!arguments) {
      return nullptr;
    }
    const auto descriptors = convert_descriptors((*arguments)[0], "descriptors");
    if (!descriptors) {
      return nullptr;
    }
    return expand_to_list(tables_of(self), *descriptors);
  });
}

PyObject* from_definitions(PyObject* /*unused*/, PyTypeObject* defining_class,
                           PyObject* const* args, std::size_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, static_cast<Py_ssize_t>(nargs), kwnames,
                                           {"path", "message"}, "from_definitions");
    if (!arguments) {
      return nullptr;
    }
    const ModuleState& state = state_of_type(defining_class);
    const auto path = convert_path((*arguments)[0], "path");
    if (!path) {
      return nullptr;
    }
    const auto message = convert_bufr_message(state, (*arguments)[1], "message");
    if (!message) {
      return nullptr;
    }
    auto tables = without_gil([&] { return select_definition_tables(*path, **message); });
    if (!tables) {
      return raise_error(tables.error());
    }
    return wrap_table_set(state, std::move(*tables));
  });
}

// A static loader taking one `path` argument.
template <auto Load>
PyObject* load_from_path(PyTypeObject* defining_class, PyObject* const* args, std::size_t nargs,
                         PyObject* kwnames, const char* function) {
  return guarded([&]() -> PyObject* {
    const auto arguments =
        parse_arguments(args, static_cast<Py_ssize_t>(nargs), kwnames, {"path"}, function);
    if (!arguments) {
      return nullptr;
    }
    const auto path = convert_path((*arguments)[0], "path");
    if (!path) {
      return nullptr;
    }
    auto tables = without_gil([&] { return Load(*path); });
    if (!tables) {
      return raise_error(tables.error());
    }
    return wrap_table_set(state_of_type(defining_class), std::move(*tables));
  });
}

PyObject* from_eccodes(PyObject* /*unused*/, PyTypeObject* defining_class, PyObject* const* args,
                       std::size_t nargs, PyObject* kwnames) {
  return load_from_path<load_table_directory>(defining_class, args, nargs, kwnames, "from_eccodes");
}

PyObject* from_bufr4_45(PyObject* /*unused*/, PyTypeObject* defining_class, PyObject* const* args,
                        std::size_t nargs, PyObject* kwnames) {
  return load_from_path<load_bufr4_tables>(defining_class, args, nargs, kwnames, "from_bufr4_45");
}

PyGetSetDef table_set_getset[] = {
    {"element_count", get_element_count, nullptr, nullptr, nullptr},
    {"sequence_count", get_sequence_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef table_set_methods[] = {
    {"get_element", as_cfunction(get_element), METH_FASTCALL | METH_KEYWORDS,
     "get_element($self, code)\n--\n\n"},
    {"get_sequence", as_cfunction(get_sequence), METH_FASTCALL | METH_KEYWORDS,
     "get_sequence($self, code)\n--\n\n"},
    {"get_meaning", as_cfunction(get_meaning), METH_FASTCALL | METH_KEYWORDS,
     "get_meaning($self, code, raw)\n--\n\n"},
    {"expand", as_cfunction(expand), METH_FASTCALL | METH_KEYWORDS,
     "expand($self, descriptors)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef table_set_static_methods[] = {
    {"from_eccodes", as_cfunction(from_eccodes),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC, "from_eccodes(path)\n--\n\n"},
    {"from_bufr4_45", as_cfunction(from_bufr4_45),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC, "from_bufr4_45(path)\n--\n\n"},
    {"from_definitions", as_cfunction(from_definitions),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC,
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
  PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &table_set_spec, nullptr));
  if (!type ||
      !add_static_methods(reinterpret_cast<PyTypeObject*>(type.get()), table_set_static_methods)) {
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type.release());
}

PyObject* wrap_table_set(const ModuleState& state, TableSet tables) {
  return box(state.table_set_type, std::move(tables));
}

PyObject* expand_to_list(const TableSet& tables, std::span<const std::uint32_t> descriptors) {
  const auto expanded = without_gil([&] { return expand_descriptors(tables, descriptors); });
  if (!expanded) {
    return raise_error(expanded.error());
  }
  return to_python(*expanded);
}

}  // namespace quorvel::py
