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
#include "py/support/signals.hpp"
#include "py/support/without_gil.hpp"
#include "py/values/decoded_value_object.hpp"
#include "py/values/growing_array.hpp"
#include "py/values/slab_allocator.hpp"

// The objects are made without the GIL (see take_list), which a Python that
// links every object into a list of all objects does not allow.
#ifdef Py_TRACE_REFS
#error "DecodedValue objects cannot be made without the GIL under Py_TRACE_REFS"
#endif

namespace quorvel::py {
namespace {

// The table texts of a decode (names and meanings), each once: they are views
// into the TableSet, so their addresses identify them.
class TableTexts {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  std::uint32_t index(std::string_view text) {
    if (text.data() == last_key_ && !texts_.empty()) {
      return last_index_;
    }
    auto [slot, inserted] =
        indices_.try_emplace(text.data(), static_cast<std::uint32_t>(texts_.size()));
    if (inserted) {
      texts_.push_back(text);
    }
    last_key_ = text.data();
    last_index_ = slot->second;
    return last_index_;
  }

  std::span<const std::string_view> texts() const { return texts_; }

 private:
  std::unordered_map<const char*, std::uint32_t> indices_;
  std::vector<std::string_view> texts_;
  const char* last_key_ = nullptr;
  std::uint32_t last_index_ = 0;
};

// The (name, unit) pairs of a decode, each once, as indices into the
// decode's TableTexts: a value keeps one index for both.
class Labels {
 public:
  struct Label {
    std::uint32_t name;
    std::uint32_t unit;
  };

  std::uint32_t index(TableTexts& texts, std::string_view name, std::string_view unit) {
    if (name.data() == last_name_ && unit.data() == last_unit_ && !labels_.empty()) {
      return last_index_;
    }
    const Label label{texts.index(name), texts.index(unit)};
    const std::uint64_t key = (std::uint64_t{label.name} << 32) | label.unit;
    auto [slot, inserted] = indices_.try_emplace(key, static_cast<std::uint32_t>(labels_.size()));
    if (inserted) {
      labels_.push_back(label);
    }
    last_name_ = name.data();
    last_unit_ = unit.data();
    last_index_ = slot->second;
    return last_index_;
  }

  const Label& operator[](std::uint32_t index) const { return labels_[index]; }

 private:
  std::unordered_map<std::uint64_t, std::uint32_t> indices_;
  std::vector<Label> labels_;
  const char* last_name_ = nullptr;
  const char* last_unit_ = nullptr;
  std::uint32_t last_index_ = 0;
};

// New str objects for `texts`, in their order; empty with an exception set
// on failure.
template <class Text>
std::vector<PyRef> str_objects(std::span<const Text> texts) {
  std::vector<PyRef> objects;
  objects.reserve(texts.size());
  for (const Text& text : texts) {
    objects.push_back(PyRef::steal(to_python(std::string_view(text))));
    if (!objects.back()) {
      return {};
    }
  }
  return objects;
}

// Collects a decode in a compact form that holds no Python object, so that
// the decode runs without the GIL, then makes the DecodedValue objects and
// lays them out in decoding order in a new list, in memory in the order of
// the list, which is the order in which Python frees them and callers read
// them. Uncompressed values come in decoding order; compressed values come
// column by column and are made into objects subset by subset.
class RecordSink final : public ValueSink {
 public:
  explicit RecordSink(IdleMappings& idle) : slabs_(idle), entries_(idle) {}

  Status value(const DecodedValue& value, std::optional<std::string_view> text) override {
    Entry* entry = entries_.append_uninitialized(1);
    if (entry == nullptr) {
      return out_of_memory();
    }
    std::uint32_t text_index = TableTexts::kNone;
    if (text) {
      text_index = static_cast<std::uint32_t>(texts_.size());
      texts_.emplace_back(*text);
    }
    fill(*entry, value, text_index);
    entry->label = labels_.index(table_texts_, value.name, value.unit);
    entry->descriptor = value.descriptor;
    return {};
  }

  Status column(std::span<const DecodedValue> column, std::span<const std::string> texts) override {
    subsets_ = column.size();
    const auto first_text = static_cast<std::uint32_t>(texts_.size());
    texts_.insert(texts_.end(), texts.begin(), texts.end());
    columns_.push_back(Column{labels_.index(table_texts_, column.front().name, column.front().unit),
                              column.front().descriptor});
    Entry* entry = entries_.append_uninitialized(column.size());
    if (entry == nullptr) {
      return out_of_memory();
    }
    for (const DecodedValue& value : column) {
      fill(*entry++, value,
           value.text == DecodedValue::kNoText ? TableTexts::kNone : first_text + value.text);
    }
    return {};
  }

  Status begin_subset(std::uint32_t /*subset*/) override {
    subset_starts_.push_back(entries_.size());
    return {};
  }

  // Whether the decode failed because memory ran out.
  bool ran_out_of_memory() const { return out_of_memory_; }

  // With the GIL held: the objects in decoding order as a new list, or
  // nullptr with an exception set.
  //
  // The objects are made with the GIL released, so that threads decoding
  // different messages make theirs at once. That is sound because nothing
  // made here can be reached from elsewhere until the list is returned: the
  // list is kept out of the collector's sight meanwhile, the objects live in
  // slabs of this decode, and the references they hold to the type and to
  // the text objects are counted without the GIL and added with it after,
  // every one of those objects being kept alive by this sink meanwhile.
  PyObject* take_list(PyTypeObject* type) {
    table_objects_ = str_objects(table_texts_.texts());
    text_objects_ = str_objects(std::span<const std::string>(texts_));
    if (table_objects_.size() != table_texts_.texts().size() ||
        text_objects_.size() != texts_.size()) {
      return nullptr;
    }
    type_ = type;
    const std::size_t count = entries_.size();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) {
      return nullptr;
    }
    table_uses_.assign(table_objects_.size(), 0);
    text_uses_.assign(text_objects_.size(), 0);
    PyObject** items = PySequence_Fast_ITEMS(list.get());
    std::size_t made = 0;
    PyObject_GC_UnTrack(list.get());
    const bool complete = without_gil([&](Interrupt interrupt) {
      slabs_.reserve(count);
      return columns_.empty() ? make_in_order(items, made, interrupt)
                              : make_by_subset(items, made, interrupt);
    });
    for (std::size_t i = 0; i < table_objects_.size(); ++i) {
      add_references(table_objects_[i].get(), table_uses_[i]);
    }
    for (std::size_t i = 0; i < text_objects_.size(); ++i) {
      add_references(text_objects_[i].get(), text_uses_[i]);
    }
    add_references(reinterpret_cast<PyObject*>(type), made);
    PyObject_GC_Track(list.get());
    if (!complete) {
      // The list frees the objects made; the places after them are empty.
      if (out_of_memory_) {
        PyErr_NoMemory();
      } else if (PyErr_Occurred() == nullptr) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
      }
      return nullptr;
    }
    return list.release();
  }

  // Where each of the message's `subsets` begins among the `count` values
  // take_list gave, and `count` last. Uncompressed subsets begin where the
  // decode said; compressed ones hold one value per column each.
  std::vector<std::size_t> subset_bounds(std::size_t count, std::size_t subsets) const {
    std::vector<std::size_t> bounds(subsets + 1, count);
    for (std::size_t k = 0; k < subsets; ++k) {
      if (!columns_.empty()) {
        bounds[k] = std::min(k * columns_.size(), count);
      } else if (subset_starts_.size() == subsets) {
        bounds[k] = std::min(subset_starts_[k], count);
      } else {
        bounds[k] = k == 0 ? 0 : count;
      }
    }
    return bounds;
  }

 private:
  // One value without its objects. A value shows a text or a meaning or
  // neither, never both. `label` and `descriptor` are those of uncompressed
  // values; a compressed column keeps them once.
  struct Entry {
    std::uint64_t raw;
    double raw_value;
    std::uint32_t label;  // into labels_
    std::uint32_t shown;  // into texts_ or table_texts_, or kNone
    std::uint32_t descriptor;
    bool shown_is_text;
    bool has_raw;
    bool has_raw_value;
  };
  struct Column {
    std::uint32_t label;  // into labels_
    std::uint32_t descriptor;
  };

  // The decoder stops at the error; take_list reports it as MemoryError.
  Status out_of_memory() {
    out_of_memory_ = true;
    return BufrError::too_many_values(0);
  }

  void fill(Entry& entry, const DecodedValue& value, std::uint32_t text) {
    entry.shown = text;
    entry.shown_is_text = text != TableTexts::kNone;
    if (!entry.shown_is_text && value.has_meaning) {
      entry.shown = table_texts_.index(value.meaning);
    }
    entry.raw = value.raw;
    entry.raw_value = value.raw_value;
    entry.has_raw = value.has_raw;
    entry.has_raw_value = value.has_raw_value;
  }

  static void add_references(PyObject* object, std::size_t count) {
    Py_SET_REFCNT(object, Py_REFCNT(object) + static_cast<Py_ssize_t>(count));
  }

  // Without the GIL: a new object, or nullptr when memory ran out. Its
  // references are counted in the uses, for take_list to add.
  DecodedValueObject* make(const Entry& entry, std::uint32_t label, std::uint32_t descriptor) {
    DecodedValueObject* object = slabs_.allocate();
    if (object == nullptr) {
      out_of_memory_ = true;
      return nullptr;
    }
    auto* header = reinterpret_cast<PyObject*>(object);
    Py_SET_REFCNT(header, 1);
    Py_SET_TYPE(header, type_);
    const Labels::Label& names = labels_[label];
    object->name = table_objects_[names.name].get();
    object->unit = table_objects_[names.unit].get();
    ++table_uses_[names.name];
    ++table_uses_[names.unit];
    object->raw_text = nullptr;
    object->raw_meaning = nullptr;
    if (entry.shown != TableTexts::kNone) {
      if (entry.shown_is_text) {
        object->raw_text = text_objects_[entry.shown].get();
        ++text_uses_[entry.shown];
      } else {
        object->raw_meaning = table_objects_[entry.shown].get();
        ++table_uses_[entry.shown];
      }
    }
    object->raw = entry.raw;
    object->raw_value = entry.raw_value;
    object->descriptor = descriptor;
    object->has_raw = entry.has_raw;
    object->has_raw_value = entry.has_raw_value;
    return object;
  }

  // False when a signal handler raised; looks once per
  // kObjectsPerSignalCheck objects made.
  bool no_signal(std::size_t made, const Interrupt& interrupt) {
    if (made < next_signal_check_) {
      return true;
    }
    next_signal_check_ = made + kObjectsPerSignalCheck;
    return !interrupt.requested();
  }

  bool make_in_order(PyObject** items, std::size_t& made, const Interrupt& interrupt) {
    const Entry* entry = entries_.begin();
    const std::size_t count = entries_.size();
    for (std::size_t i = 0; i < count; ++i, ++entry) {
      DecodedValueObject* object = make(*entry, entry->label, entry->descriptor);
      if (object == nullptr) {
        return false;
      }
      items[i] = reinterpret_cast<PyObject*>(object);
      made = i + 1;
      if (!no_signal(made, interrupt)) {
        return false;
      }
    }
    return true;
  }

  // Column c holds entries c * subsets_ to (c + 1) * subsets_ - 1.
  bool make_by_subset(PyObject** items, std::size_t& made, const Interrupt& interrupt) {
    const Entry* entries = entries_.begin();
    // The entries of a subset lie a column apart; those of a few subsets on
    // are fetched ahead so that the walk across columns does not wait on them.
    constexpr std::size_t kAhead = 4;
    for (std::size_t k = 0; k < subsets_; ++k) {
      const Entry* entry = entries + k;
      const bool fetch = k + kAhead < subsets_;
      for (const Column& column : columns_) {
        if (fetch) {
          __builtin_prefetch(entry + kAhead);
        }
        DecodedValueObject* object = make(*entry, column.label, column.descriptor);
        if (object == nullptr) {
          return false;
        }
        items[made++] = reinterpret_cast<PyObject*>(object);
        entry += subsets_;
      }
      if (!no_signal(made, interrupt)) {
        return false;
      }
    }
    return true;
  }

  // Filled without the GIL.
  TableTexts table_texts_;
  Labels labels_;
  std::vector<std::size_t> subset_starts_;  // uncompressed: where each subset's entries begin
  std::vector<std::string> texts_;
  SlabAllocator slabs_;
  GrowingArray<Entry> entries_;
  std::vector<Column> columns_;
  std::size_t subsets_ = 0;
  bool out_of_memory_ = false;
  // Made with the GIL held, from the texts above.
  PyTypeObject* type_ = nullptr;
  std::vector<PyRef> table_objects_;
  std::vector<PyRef> text_objects_;
  // References the objects made hold to each of the above, not yet added.
  std::vector<std::size_t> table_uses_;
  std::vector<std::size_t> text_uses_;
  std::size_t next_signal_check_ = kObjectsPerSignalCheck;
};

}  // namespace

PyObject* decode_to_list(ModuleState& state, const BufrMessage& message,
                         std::span<const std::uint8_t> message_bytes, const TableSet& tables) {
  return decode_to_lists(
      state, message, message_bytes, tables, nullptr,
      [](const BufrError& error, const DecodeWhere&) { return raise_error(error); });
}

PyObject* decode_to_lists(ModuleState& state, const BufrMessage& message,
                          std::span<const std::uint8_t> message_bytes, const TableSet& tables,
                          std::vector<std::size_t>* subset_bounds, const DecodeFailure& fail) {
  RecordSink sink(state.idle_mappings);
  DecodeWhere where;
  const Status decoded = without_gil([&](Interrupt interrupt) {
    DecodeLimits limits;
    limits.interrupt = interrupt;
    limits.where = &where;
    return decode_message_values(message, message_bytes, tables, sink, limits);
  });
  if (!decoded) {
    return sink.ran_out_of_memory() ? PyErr_NoMemory() : fail(decoded.error(), where);
  }
  PyObject* values = sink.take_list(state.decoded_value_type);
  if (values != nullptr && subset_bounds != nullptr) {
    *subset_bounds = sink.subset_bounds(static_cast<std::size_t>(PyList_GET_SIZE(values)),
                                        message.number_of_subsets);
  }
  return values;
}

}  // namespace quorvel::py
