// BufrMessage: the header of one message, as parsed. Instances come only from
// the parse functions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/message/section_parser.hpp"
#include "py/module_state.hpp"

// Every field of BufrMessage, in the order the class shows them; X(name) per
// field. Message shows the same fields under the same names.
#define QV_BUFR_MESSAGE_FIELDS(X)   \
  X(total_length)                   \
  X(edition)                        \
  X(section1_length)                \
  X(master_table_number)            \
  X(originating_centre)             \
  X(originating_subcentre)          \
  X(update_sequence_number)         \
  X(local_section_present)          \
  X(data_category)                  \
  X(international_data_subcategory) \
  X(local_data_subcategory)         \
  X(master_tables_version_number)   \
  X(local_tables_version_number)    \
  X(typical_year)                   \
  X(typical_month)                  \
  X(typical_day)                    \
  X(typical_hour)                   \
  X(typical_minute)                 \
  X(typical_second)                 \
  X(section2_length)                \
  X(section3_length)                \
  X(number_of_subsets)              \
  X(observed_data)                  \
  X(compressed_data)                \
  X(unexpanded_descriptors)         \
  X(section4_length)                \
  X(section4_data_offset)           \
  X(section4_data_length)

namespace quorvel::py {

// A new reference to the class, made for `module`, or nullptr with an
// exception set.
PyTypeObject* make_bufr_message_type(PyObject* module);

// A new instance owning `message`; nullptr with an exception set.
PyObject* wrap_bufr_message(const ModuleState& state, BufrMessage message);

// The names of the class's attributes, in the order it defines them, as a new
// tuple of str.
PyObject* bufr_message_field_names();

// An instance from `fields`, a tuple of the attributes' values in the order
// above, as __reduce__ gives them; nullptr with an exception set.
PyObject* restore_bufr_message(const ModuleState& state, PyObject* fields);

}  // namespace quorvel::py
