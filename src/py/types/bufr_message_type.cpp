#include <fmt/format.h>
#include <fmt/ranges.h>

#include "py/support/boxed.hpp"
#include "py/support/converters.hpp"
#include "py/types/types.hpp"

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

#define QV_FIELD(name) \
  PyGetSetDef { #name, get_field < BufrMessage, &BufrMessage::name>, nullptr, nullptr, nullptr }

PyGetSetDef bufr_message_getset[] = {
    QV_FIELD(total_length),
    QV_FIELD(edition),
    QV_FIELD(section1_length),
    QV_FIELD(master_table_number),
    QV_FIELD(originating_centre),
    QV_FIELD(originating_subcentre),
    QV_FIELD(update_sequence_number),
    QV_FIELD(local_section_present),
    QV_FIELD(data_category),
    QV_FIELD(international_data_subcategory),
    QV_FIELD(local_data_subcategory),
    QV_FIELD(master_tables_version_number),
    QV_FIELD(local_tables_version_number),
    QV_FIELD(typical_year),
    QV_FIELD(typical_month),
    QV_FIELD(typical_day),
    QV_FIELD(typical_hour),
    QV_FIELD(typical_minute),
    QV_FIELD(typical_second),
    QV_FIELD(section2_length),
    QV_FIELD(section3_length),
    QV_FIELD(number_of_subsets),
    QV_FIELD(observed_data),
    QV_FIELD(compressed_data),
    QV_FIELD(unexpanded_descriptors),
    QV_FIELD(section4_length),
    QV_FIELD(section4_data_offset),
    QV_FIELD(section4_data_length),
    PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef QV_FIELD

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

const BufrMessage* convert_bufr_message(const ModuleState& state, PyObject* object,
                                        const char* name) {
  if (!PyObject_TypeCheck(object, state.bufr_message_type)) {
    set_argument_error(PyExc_TypeError, name,
                       fmt::format("expected BufrMessage, got {}", Py_TYPE(object)->tp_name));
    return nullptr;
  }
  return &unbox<BufrMessage>(object);
}

PyObject* wrap_bufr_message(const ModuleState& state, BufrMessage message) {
  return box(state.bufr_message_type, std::move(message));
}

}  // namespace quorvel::py
