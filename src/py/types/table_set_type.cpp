#include "py/types/table_set_type.hpp"

#include <fmt/format.h>

#include <memory>
#include <utility>

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
#include "py/tables/held_tables.hpp"
#include "py/tables/table_cache.hpp"
#include "py/types/element_definition_type.hpp"
#include "py/types/sequence_definition_type.hpp"

namespace quorvel::py {
namespace {

const HeldTables& held_of(PyObject* self) { return unbox<HeldTables>(self); }
const TableSet& tables_of(PyObject* self) { return *held_of(self).tables; }
const ModuleState& state_of(PyObject* self) { return state_of_type(Py_TYPE(self)); }

PyObject* table_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    if (!parse_no_arguments(args, kwargs, "TableSet")) {
      return nullptr;
    }
    return box(type, HeldTables{std::make_shared<const TableSet>(), TableSource{}});
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

// The tables of `key` from the module's cache, as a new TableSet object.
PyObject* definition_tables(const ModuleState& state, const DefinitionKey& key) {
  auto tables = without_gil([&] { return state.table_cache->tables_for(key); });
  if (!tables) {
    return raise_error(tables.error());
  }
  return wrap_table_set(state, HeldTables{chosen_table_set(std::move(*tables)),
                                          TableSource{TableSource::Kind::definitions, {}, key}});
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
    return definition_tables(state, definition_key(*path, **message));
  });
}

// How pickling rebuilds a TableSet from definitions: the root and the header
// fields that chose its tables (see DefinitionKey), not the whole message.
PyObject* from_definitions_key(PyObject* /*unused*/, PyTypeObject* defining_class,
                               PyObject* const* args, std::size_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(
        args, static_cast<Py_ssize_t>(nargs), kwnames,
        {"root", "master_table_number", "master_tables_version_number",
         "local_tables_version_number", "originating_centre", "originating_subcentre", "as_reader"},
        "_from_definitions_key", 6);
    if (!arguments) {
      return nullptr;
    }
    DefinitionKey key;
    const auto root = convert_path((*arguments)[0], "root");
    const auto table =
        root ? convert_unsigned((*arguments)[1], "master_table_number", UINT8_MAX) : std::nullopt;
    const auto master =
        table ? convert_unsigned((*arguments)[2], "master_tables_version_number", UINT8_MAX)
              : std::nullopt;
    const auto local =
        master ? convert_unsigned((*arguments)[3], "local_tables_version_number", UINT8_MAX)
               : std::nullopt;
    const auto centre =
        local ? convert_unsigned((*arguments)[4], "originating_centre", UINT16_MAX) : std::nullopt;
    const auto subcentre =
        centre ? convert_unsigned((*arguments)[5], "originating_subcentre", UINT16_MAX)
               : std::nullopt;
    const auto as_reader = !subcentre ? std::nullopt
                           : (*arguments)[6] == nullptr
                               ? std::optional<bool>(false)
                               : convert_bool((*arguments)[6], "as_reader");
    if (!as_reader) {
      return nullptr;
    }
    BufrMessage message;
    message.master_table_number = static_cast<std::uint8_t>(*table);
    message.master_tables_version_number = static_cast<std::uint8_t>(*master);
    message.local_tables_version_number = static_cast<std::uint8_t>(*local);
    message.originating_centre = static_cast<std::uint16_t>(*centre);
    message.originating_subcentre = static_cast<std::uint16_t>(*subcentre);
    return definition_tables(state_of_type(defining_class),
                             definition_key(*root, message, *as_reader));
  });
}

// The tables `load` gives for `path`, as a new TableSet object from `source`.
template <class Load>
PyObject* load_tables(PyTypeObject* defining_class, TableSource source, Load load) {
  auto tables = without_gil([&] { return load(source.path); });
  if (!tables) {
    return raise_error(tables.error());
  }
  return wrap_table_set(
      state_of_type(defining_class),
      HeldTables{std::make_shared<const TableSet>(std::move(*tables)), std::move(source)});
}

PyObject* from_eccodes(PyObject* /*unused*/, PyTypeObject* defining_class, PyObject* const* args,
                       std::size_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arguments = parse_arguments(args, static_cast<Py_ssize_t>(nargs), kwnames,
                                           {"path", "lenient"}, "from_eccodes", 1);
    if (!arguments) {
      return nullptr;
    }
    const auto path = convert_path((*arguments)[0], "path");
    const auto lenient = !path                        ? std::nullopt
                         : (*arguments)[1] == nullptr ? std::optional<bool>(false)
                                                      : convert_bool((*arguments)[1], "lenient");
    if (!lenient) {
      return nullptr;
    }
    return load_tables(defining_class, TableSource{TableSource::Kind::eccodes, *path, {}, *lenient},
                       [&](const std::string& directory) {
                         return *lenient ? load_lenient_table_directory(directory)
                                         : load_table_directory(directory);
                       });
  });
}

// A static loader of the WMO CSV tables taking one `path` argument.
template <auto Load, TableSource::Kind kind>
PyObject* load_bufr4(PyTypeObject* defining_class, PyObject* const* args, std::size_t nargs,
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
    return load_tables(defining_class, TableSource{kind, *path, {}},
                       [](const std::string& directory) { return Load(directory); });
  });
}

PyObject* from_bufr4_45(PyObject* /*unused*/, PyTypeObject* defining_class, PyObject* const* args,
                        std::size_t nargs, PyObject* kwnames) {
  return load_bufr4<load_bufr4_tables, TableSource::Kind::bufr4>(defining_class, args, nargs,
                                                                 kwnames, "from_bufr4_45");
}

PyObject* from_bufr4_csv(PyObject* /*unused*/, PyTypeObject* defining_class, PyObject* const* args,
                         std::size_t nargs, PyObject* kwnames) {
  return load_bufr4<load_bufr4_tables_with_code_tables, TableSource::Kind::bufr4_codes>(
      defining_class, args, nargs, kwnames, "from_bufr4_csv");
}

// A path as the file system's bytes, back to the str it was given as.
PyObject* path_to_python(const std::string& path) {
  return PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
}

// (callable, arguments) that make the tables again from where they came
// from: the files are read again (through the cache for definitions), so a
// TableSet sent to another process is rebuilt there.
PyObject* reduce(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    const TableSource& source = held_of(self).source;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (source.kind == TableSource::Kind::empty) {
      return Py_BuildValue("(O())", type);
    }
    const char* loader = source.kind == TableSource::Kind::eccodes       ? "from_eccodes"
                         : source.kind == TableSource::Kind::bufr4       ? "from_bufr4_45"
                         : source.kind == TableSource::Kind::bufr4_codes ? "from_bufr4_csv"
                                                                         : "_from_definitions_key";
    PyRef callable = PyRef::steal(PyObject_GetAttrString(type, loader));
    if (!callable) {
      return nullptr;
    }
    if (source.kind != TableSource::Kind::definitions) {
      PyRef path = PyRef::steal(path_to_python(source.path));
      if (!path) {
        return nullptr;
      }
      if (source.lenient) {
        return Py_BuildValue("(O(OO))", callable.get(), path.get(), Py_True);
      }
      return Py_BuildValue("(O(O))", callable.get(), path.get());
    }
    const DefinitionKey& key = source.definitions;
    PyRef root = PyRef::steal(path_to_python(key.root));
    if (!root) {
      return nullptr;
    }
    return Py_BuildValue(
        "(O(OIIIIIO))", callable.get(), root.get(), static_cast<unsigned>(key.master_table_number),
        static_cast<unsigned>(key.master_tables_version_number),
        static_cast<unsigned>(key.local_tables_version_number),
        static_cast<unsigned>(key.originating_centre),
        static_cast<unsigned>(key.originating_subcentre), key.as_reader ? Py_True : Py_False);
  });
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
    {"__reduce__", reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef table_set_static_methods[] = {
    {"from_eccodes", as_cfunction(from_eccodes),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC,
     "from_eccodes(path, lenient=False)\n--\n\n"},
    {"from_bufr4_45", as_cfunction(from_bufr4_45),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC, "from_bufr4_45(path)\n--\n\n"},
    {"from_bufr4_csv", as_cfunction(from_bufr4_csv),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC, "from_bufr4_csv(path)\n--\n\n"},
    {"from_definitions", as_cfunction(from_definitions),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC,
     "from_definitions(path, message)\n--\n\n"},
    {"_from_definitions_key", as_cfunction(from_definitions_key),
     METH_FASTCALL | METH_KEYWORDS | METH_METHOD | METH_STATIC,
     "_from_definitions_key(root, master_table_number, master_tables_version_number, "
     "local_tables_version_number, originating_centre, originating_subcentre, "
     "as_reader=False)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot table_set_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(table_set_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<HeldTables>)},
    {Py_tp_repr, reinterpret_cast<void*>(table_set_repr)},
    {Py_tp_getset, table_set_getset},
    {Py_tp_methods, table_set_methods},
    {Py_tp_doc, const_cast<char*>("TableSet()\n--\n\n")},
    {0, nullptr},
};

PyType_Spec table_set_spec = {
    "_quorvel.TableSet",
    sizeof(Boxed<HeldTables>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
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

PyObject* wrap_table_set(const ModuleState& state, HeldTables tables) {
  return box(state.table_set_type, std::move(tables));
}

PyObject* wrap_definition_tables(const ModuleState& state, std::shared_ptr<const TableSet> tables,
                                 const DefinitionKey& key) {
  return wrap_table_set(
      state, HeldTables{std::move(tables), TableSource{TableSource::Kind::definitions, {}, key}});
}

std::shared_ptr<const TableSet> shared_tables_of(PyObject* table_set) {
  return unbox<HeldTables>(table_set).tables;
}

PyObject* expand_to_list(const TableSet& tables, std::span<const std::uint32_t> descriptors) {
  const auto expanded = without_gil([&] { return expand_descriptors(tables, descriptors); });
  if (!expanded) {
    return raise_error(expanded.error());
  }
  return to_python(*expanded);
}

}  // namespace quorvel::py
