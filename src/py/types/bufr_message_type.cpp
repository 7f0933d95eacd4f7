#include "py/types/bufr_message_type.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <iterator>
#include <limits>
#include <type_traits>
#include <vector>

#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/support/py_ref.hpp"

namespace quorvel::py {
namespace {

using Object = Boxed<BufrMessage>;

PyObject* bufr_message_repr(PyObject* self) {
  return guarded([&] {
    const BufrMessage& message = unbox<BufrMessage>(self);
    const std::string text =
        fmt::format("BufrMessage(edition={}, length={}, subsets={}, descriptors=[{}])",
                    message.edition, message.total_length, message.number_of_subsets,
                    fmt::join(message.unexpanded_descriptors, ", "));
    return to_python(text);
  });
}

PyGetSetDef bufr_message_getset[] = {
#define QV_BUFR_MESSAGE_GETTER(name) QV_FIELD(BufrMessage, name),
    QV_BUFR_MESSAGE_FIELDS(QV_BUFR_MESSAGE_GETTER)
#undef QV_BUFR_MESSAGE_GETTER
        PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
};

// (module._restore_bufr_message, (fields,)): a header pickles by its values.
PyObject* bufr_message_reduce(PyObject* self, PyObject* /*unused*/) {
  constexpr auto count = static_cast<Py_ssize_t>(std::size(bufr_message_getset) - 1);
  PyRef fields = PyRef::steal(PyTuple_New(count));
  if (!fields) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* value = bufr_message_getset[i].get(self, nullptr);
    if (value == nullptr) {
      return nullptr;
    }
    PyTuple_SET_ITEM(fields.get(), i, value);
  }
  PyObject* module = PyType_GetModuleByDef(Py_TYPE(self), &module_def);
  if (module == nullptr) {
    return nullptr;
  }
  PyRef restore = PyRef::steal(PyObject_GetAttrString(module, "_restore_bufr_message"));
  if (!restore) {
    return nullptr;
  }
  return Py_BuildValue("(O(O))", restore.get(), fields.get());
}

PyMethodDef bufr_message_methods[] = {
    {"__reduce__", bufr_message_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// One field of a restored header, checked against its C++ type.
template <class Field>
bool restore_field(PyObject* value, const char* name, Field& field) {
  if constexpr (std::is_same_v<Field, bool>) {
    const auto flag = convert_bool(value, name);
    if (flag) {
      field = *flag;
    }
    return flag.has_value();
  } else if constexpr (std::is_same_v<Field, std::vector<std::uint32_t>>) {
    auto codes = convert_descriptors(value, name);
    if (codes) {
      field = std::move(*codes);
    }
    return codes.has_value();
  } else {
    const auto number = convert_unsigned(value, name, std::numeric_limits<Field>::max());
    if (number) {
      field = static_cast<Field>(*number);
    }
    return number.has_value();
  }
}

PyType_Slot bufr_message_slots[] = {
    {Py_tp_methods, bufr_message_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<BufrMessage>)},
    {Py_tp_repr, reinterpret_cast<void*>(bufr_message_repr)},
    {Py_tp_getset, bufr_message_getset},
    {Py_tp_doc, const_cast<char*>("The header of one BUFR edition-4 message, as parsed.")},
    {0, nullptr},
};

PyType_Spec bufr_message_spec = {
    "_quorvel.BufrMessage",
    sizeof(Object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    bufr_message_slots,
};

}  // namespace

PyTypeObject* make_bufr_message_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &bufr_message_spec, nullptr));
}

PyObject* wrap_bufr_message(const ModuleState& state, BufrMessage message) {
  return box(state.bufr_message_type, std::move(message));
}

PyObject* restore_bufr_message(const ModuleState& state, PyObject* fields) {
  constexpr auto count = static_cast<Py_ssize_t>(std::size(bufr_message_getset) - 1);
  if (!PyTuple_Check(fields) || PyTuple_GET_SIZE(fields) != count) {
    return set_argument_error(PyExc_TypeError, "fields",
                              fmt::format("expected a tuple of {} values", count));
  }
  BufrMessage message;
  Py_ssize_t i = 0;
  bool restored = true;
#define QV_RESTORE_FIELD(name) \
  restored = restored && restore_field(PyTuple_GET_ITEM(fields, i++), #name, message.name);
  QV_BUFR_MESSAGE_FIELDS(QV_RESTORE_FIELD)
#undef QV_RESTORE_FIELD
  if (!restored) {
    return nullptr;
  }
  return wrap_bufr_message(state, std::move(message));
}

PyObject* bufr_message_field_names() {
  // The getset table ends with an empty entry.
  const auto count = static_cast<Py_ssize_t>(std::size(bufr_message_getset) - 1);
  PyRef names = PyRef::steal(PyTuple_New(count));
  if (!names) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* name = PyUnicode_FromString(bufr_message_getset[i].name);
    if (name == nullptr) {
      return nullptr;
    }
    PyTuple_SET_ITEM(names.get(), i, name);
  }
  return names.release();
}

}  // namespace quorvel::py
