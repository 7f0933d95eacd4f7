#include "py/types/bufr_message_type.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <iterator>

#include "py/support/boxed.hpp"
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

PyType_Slot bufr_message_slots[] = {
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
