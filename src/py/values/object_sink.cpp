#include "py/values/object_sink.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/base/pod_array.hpp"
#include "core/decode/decode.hpp"
#include "py/support/boxed.hpp"
#include "py/support/py_ref.hpp"
#include "py/support/raise.hpp"
#include "py/values/decoded_value_object.hpp"
#include "py/values/growing_array.hpp"
#include "py/values/slab_allocator.hpp"

namespace quorvel::py {
namespace {

// One str per distinct table text in a result: names and meanings are views
// into the TableSet, so their addresses identify them.
class TextObjects {
 public:
  TextObjects() = default;
  TextObjects(const TextObjects&) = delete;
  TextObjects& operator=(const TextObjects&) = delete;
  ~TextObjects() {
    for (auto& [key, object] : objects_) {
      Py_DECREF(object);
    }
  }

  // A borrowed reference, or nullptr with an exception set.
  PyObject* get(std::string_view text) {
    if (text.data() == last_key_ && last_object_ != nullptr) {
      return last_object_;
    }
    auto [slot, inserted] = objects_.try_emplace(text.data(), nullptr);
    if (inserted) {
      slot->second = to_python(text);
      if (slot->second == nullptr) {
        objects_.erase(slot);
        return nullptr;
      }
    }
    last_key_ = text.data();
    last_object_ = slot->second;
    return slot->second;
  }

 private:
  std::unordered_map<const char*, PyObject*> objects_;
  const char* last_key_ = nullptr;
  PyObject* last_object_ = nullptr;
};

// Makes the DecodedValue objects of a decode and lays them out in decoding
// order in a new list. Uncompressed values come in that order, and each
// becomes an object at once. Compressed values come column by column: they are
// kept in a compact form (the objects' fields with borrowed references) and
// made into objects subset by subset at the end, so that the objects lie in
// memory in the order of the list, which is the order in which Python frees
// them and callers read them.
class ObjectSink final : public ValueSink {
 public:
  ObjectSink(PyTypeObject* type, IdleMappings& idle) : type_(type), slabs_(idle), entries_(idle) {}
  ObjectSink(const ObjectSink&) = delete;
  ObjectSink& operator=(const ObjectSink&) = delete;
  ~ObjectSink() override {
    for (PyObject* object : objects_) {
      Py_DECREF(object);
    }
  }

  Status value(const DecodedValue& value, std::optional<std::string_view> text) override {
    PyObject* name = table_texts_.get(value.name);
    if (name == nullptr) {
      return python_failed();
    }
    PyRef text_object;
    if (text) {
      text_object = PyRef::steal(to_python(*text));
      if (!text_object) {
        return python_failed();
      }
    }
    Fields fields{};
    QV_TRY(fill(fields, value, text_object.get()));
    DecodedValueObject* object = make(fields, name, value.descriptor);
    if (object == nullptr) {
      return python_failed();
    }
    objects_.push_back(reinterpret_cast<PyObject*>(object));
    return {};
  }

  Status column(std::span<const DecodedValue> column, std::span<const std::string> texts) override {
    subsets_ = column.size();
    PyObject* name = table_texts_.get(column.front().name);
    if (name == nullptr) {
      return python_failed();
    }
    const std::size_t first_text = column_texts_.size();
    for (const std::string& text : texts) {
      column_texts_.push_back(PyRef::steal(to_python(text)));
      if (!column_texts_.back()) {
        return python_failed();
      }
    }
    columns_.push_back(Column{name, column.front().descriptor});
    Fields* fields = entries_.append_uninitialized(column.size());
    if (fields == nullptr) {
      PyErr_NoMemory();
      return python_failed();
    }
    for (const DecodedValue& value : column) {
      PyObject* text = value.text == DecodedValue::kNoText
                           ? nullptr
                           : column_texts_[first_text + value.text].get();
      QV_TRY(fill(*fields++, value, text));
    }
    return {};
  }

  // The objects in decoding order as a new list.
  PyObject* take_list() { return columns_.empty() ? list_of_objects() : list_of_columns(); }

  bool python_error() const { return python_error_; }

 private:
  // The fields of one object; references borrowed from the sink. A value
  // has a text or a meaning or neither, never both.
  struct Fields {
    std::uint64_t raw;
    double raw_value;
    PyObject* shown;  // the text, or else the meaning
    bool shown_is_text;
    bool has_raw;
    bool has_raw_value;
  };
  struct Column {
    PyObject* name;  // borrowed from table_texts_
    std::uint32_t descriptor;
  };

  // A Python failure (out of memory) reported through the decoder; the
  // exception stays set.
  Status python_failed() {
    python_error_ = true;
    return BufrError::too_many_values(0);
  }

  Status fill(Fields& fields, const DecodedValue& value, PyObject* text) {
    fields.shown = text;
    fields.shown_is_text = text != nullptr;
    if (text == nullptr && value.has_meaning) {
      fields.shown = table_texts_.get(value.meaning);
      if (fields.shown == nullptr) {
        return python_failed();
      }
    }
    fields.raw = value.raw;
    fields.raw_value = value.raw_value;
    fields.has_raw = value.has_raw;
    fields.has_raw_value = value.has_raw_value;
    return {};
  }

  // A new object, or nullptr with MemoryError set.
  DecodedValueObject* make(const Fields& fields, PyObject* name, std::uint32_t descriptor) {
    DecodedValueObject* object = slabs_.allocate();
    if (object == nullptr) {
      PyErr_NoMemory();
      return nullptr;
    }
    PyObject_Init(reinterpret_cast<PyObject*>(object), type_);
    Py_INCREF(name);
    object->name = name;
    Py_XINCREF(fields.shown);
    object->raw_text = fields.shown_is_text ? fields.shown : nullptr;
    object->raw_meaning = fields.shown_is_text ? nullptr : fields.shown;
    object->raw = fields.raw;
    object->raw_value = fields.raw_value;
    object->descriptor = descriptor;
    object->has_raw = fields.has_raw;
    object->has_raw_value = fields.has_raw_value;
    return object;
  }

  PyObject* list_of_objects() {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(objects_.size())));
    if (!list) {
      return nullptr;
    }
    std::copy(objects_.begin(), objects_.end(), PySequence_Fast_ITEMS(list.get()));
    objects_ = PodArray<PyObject*>();
    return list.release();
  }

  // Column c holds entries c * subsets_ to (c + 1) * subsets_ - 1.
  PyObject* list_of_columns() {
    const std::size_t count = entries_.size();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) {
      return nullptr;
    }
    slabs_.reserve(count);
    PyObject** items = PySequence_Fast_ITEMS(list.get());
    const Fields* entries = entries_.begin();
    // The entries of a subset lie a column apart; those of a few subsets on
    // are fetched ahead so that the walk across columns does not wait on them.
    constexpr std::size_t kAhead = 4;
    for (std::size_t k = 0; k < subsets_; ++k) {
      const Fields* entry = entries + k;
      const bool fetch = k + kAhead < subsets_;
      for (const Column& column : columns_) {
        if (fetch) {
          __builtin_prefetch(entry + kAhead);
        }
        DecodedValueObject* object = make(*entry, column.name, column.descriptor);
        if (object == nullptr) {
          return nullptr;  // the list frees the objects made so far
        }
        *items++ = reinterpret_cast<PyObject*>(object);
        entry += subsets_;
      }
    }
    return list.release();
  }

  PyTypeObject* type_;
  TextObjects table_texts_;
  std::vector<PyRef> column_texts_;
  SlabAllocator slabs_;
  // Uncompressed data: the objects made so far.
  PodArray<PyObject*> objects_;
  // Compressed data: the columns read so far, their entries one after another.
  std::vector<Column> columns_;
  GrowingArray<Fields> entries_;
  std::size_t subsets_ = 0;
  bool python_error_ = false;
};

}  // namespace

PyObject* decode_to_list(ModuleState& state, const BufrMessage& message,
                         std::span<const std::uint8_t> message_bytes, const TableSet& tables) {
  ObjectSink sink(state.decoded_value_type, state.idle_mappings);
  const Status decoded = decode_message_values(message, message_bytes, tables, sink);
  if (!decoded) {
    return sink.python_error() ? nullptr : raise_error(decoded.error());
  }
  return sink.take_list();
}

}  // namespace quorvel::py
