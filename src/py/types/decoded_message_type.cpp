#include "py/types/decoded_message_type.hpp"

#include <fmt/format.h>

#include <new>
#include <utility>

#include "py/support/boxed.hpp"
#include "py/support/py_ref.hpp"

namespace quorvel::py {
namespace {

// It holds a list of its own making that nobody else can reach and a Message
// and a TableSet that cannot refer back to it, so no cycle can form. The
// subsets' lists are made only when asked for.
struct DecodedMessageObject {
  PyObject_HEAD PyObject* message;
  PyObject* tables;
  PyObject* values;                     // list of DecodedValue
  std::vector<std::size_t> boundaries;  // where each subset begins in values; the end last
};

DecodedMessageObject* as_decoded(PyObject* object) {
  return reinterpret_cast<DecodedMessageObject*>(object);
}

void decoded_message_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DecodedMessageObject* decoded = as_decoded(self);
  Py_XDECREF(decoded->message);
  Py_XDECREF(decoded->tables);
  Py_XDECREF(decoded->values);
  decoded->boundaries.~vector();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* get_message(PyObject* self, void*) { return Py_NewRef(as_decoded(self)->message); }
PyObject* get_tables(PyObject* self, void*) { return Py_NewRef(as_decoded(self)->tables); }

// Lists are copied on every access, as everywhere in the module, so that
// what the object holds never changes.
PyObject* copy_list(PyObject* list) { return PyList_GetSlice(list, 0, PyList_GET_SIZE(list)); }

PyObject* get_values(PyObject* self, void*) { return copy_list(as_decoded(self)->values); }

PyObject* get_subsets(PyObject* self, void*) {
  const DecodedMessageObject* decoded = as_decoded(self);
  const std::vector<std::size_t>& bounds = decoded->boundaries;
  const auto count = static_cast<Py_ssize_t>(bounds.size() - 1);
  PyRef lists = PyRef::steal(PyList_New(count));
  if (!lists) {
    return nullptr;
  }
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    PyObject* list = PyList_GetSlice(decoded->values, static_cast<Py_ssize_t>(bounds[k]),
                                     static_cast<Py_ssize_t>(bounds[k + 1]));
    if (list == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(lists.get(), static_cast<Py_ssize_t>(k), list);
  }
  return lists.release();
}

Py_ssize_t decoded_message_length(PyObject* self) {
  return PyList_GET_SIZE(as_decoded(self)->values);
}

PyObject* decoded_message_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const DecodedMessageObject* decoded = as_decoded(self);
    PyRef message = PyRef::steal(PyObject_Repr(decoded->message));
    if (!message) {
      return nullptr;
    }
    const std::string counts =
        fmt::format(", values={}, subsets={})", PyList_GET_SIZE(decoded->values),
                    decoded->boundaries.size() - 1);
    return PyUnicode_FromFormat("DecodedMessage(%U%s", message.get(), counts.c_str());
  });
}

PyGetSetDef decoded_message_getset[] = {
    {"message", get_message, nullptr, "The Message decoded.", nullptr},
    {"tables", get_tables, nullptr, "The TableSet it was decoded with.", nullptr},
    {"values", get_values, nullptr, "Every value in decoding order, as a new list.", nullptr},
    {"subsets", get_subsets, nullptr,
     "The values of each subset, as a new list of new lists of the same objects.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot decoded_message_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(decoded_message_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(decoded_message_repr)},
    {Py_tp_getset, decoded_message_getset},
    {Py_sq_length, reinterpret_cast<void*>(decoded_message_length)},
    {Py_tp_doc, const_cast<char*>("The values of one Message: flat, and by subset.")},
    {0, nullptr},
};

PyType_Spec decoded_message_spec = {
    "_quorvel.DecodedMessage",
    sizeof(DecodedMessageObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    decoded_message_slots,
};

}  // namespace

PyTypeObject* make_decoded_message_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &decoded_message_spec, nullptr));
}

PyObject* make_decoded_message(const ModuleState& state, PyObject* message, PyObject* tables,
                               PyObject* values, std::vector<std::size_t> subset_bounds) {
  PyTypeObject* type = state.decoded_message_type;
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) {
    return nullptr;
  }
  DecodedMessageObject* decoded = as_decoded(object);
  decoded->message = Py_NewRef(message);
  decoded->tables = Py_NewRef(tables);
  decoded->values = Py_NewRef(values);
  new (&decoded->boundaries) std::vector<std::size_t>(std::move(subset_bounds));
  return object;
}

}  // namespace quorvel::py
