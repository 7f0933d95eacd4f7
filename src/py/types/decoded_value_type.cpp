#include <fmt/format.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/base/pod_array.hpp"
#include "core/decode/decode.hpp"
#include "py/support/boxed.hpp"
#include "py/support/raise.hpp"
#include "py/types/types.hpp"

namespace quorvel::py {
namespace {

// The Python object: numbers inline, texts as shared immutable str objects.
struct DecodedValueObject {
  PyObject_HEAD PyObject* name;
  PyObject* raw_text;     // nullptr when absent
  PyObject* raw_meaning;  // nullptr when absent
  std::uint64_t raw;
  double raw_value;
  std::uint32_t descriptor;
  bool has_raw;
  bool has_raw_value;
};

DecodedValueObject* as_value(PyObject* self) { return reinterpret_cast<DecodedValueObject*>(self); }

// Anonymous memory in whole huge pages, hinted for transparent huge pages:
// first touches of fresh memory then fault once per 2 MB rather than once per
// 4 KB page, which on virtual machines costs more than what is stored there.
struct Mapping {
  static constexpr std::size_t kHugePage = 2 * 1024 * 1024;

  char* base = nullptr;
  std::size_t bytes = 0;

  // At least `bytes`, aligned to a huge page; base is nullptr on failure.
  static Mapping map(std::size_t bytes) {
    bytes = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    // Over-map by a huge page to align the start, then give back the ends.
    const std::size_t mapped = bytes + kHugePage;
    void* memory =
        mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
      return {};
    }
    auto* start = static_cast<char*>(memory);
    auto* base = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) &
                                         ~(kHugePage - 1));
    if (base != start) {
      munmap(start, static_cast<std::size_t>(base - start));
    }
    const std::size_t tail = mapped - static_cast<std::size_t>(base - start) - bytes;
    if (tail != 0) {
      munmap(base + bytes, tail);
    }
#ifdef MADV_HUGEPAGE
    madvise(base, bytes, MADV_HUGEPAGE);
#endif
    return {base, bytes};
  }

  void unmap() {
    if (base != nullptr) {
      munmap(base, bytes);
    }
    *this = {};
  }
};

// Mappings no longer in use, kept for the next large decode: decoding the
// messages of a file one after another would otherwise have the kernel
// clear the same amount of fresh memory for every message. Idle mappings are
// marked free to the kernel, which takes their pages back whenever it needs
// them; until it does, using them again costs nothing. At most kMaxIdleBytes
// stay mapped this way, so that a process that decodes a large message once
// holds little once it lets go of the values.
class IdleMappings {
 public:
  static constexpr std::size_t kMaxIdleBytes = 64 * 1024 * 1024;

  // A mapping of at least `bytes`: the smallest idle one large enough and
  // at most `largest`, else a new one (the idle ones are unmapped first).
  static Mapping take(std::size_t bytes, std::size_t largest = SIZE_MAX) {
    Mapping* best = nullptr;
    for (Mapping& idle : idle_) {
      if (idle.base != nullptr && idle.bytes >= bytes && idle.bytes <= largest &&
          (best == nullptr || idle.bytes < best->bytes)) {
        best = &idle;
      }
    }
    if (best != nullptr) {
      idle_bytes_ -= best->bytes;
      return std::exchange(*best, Mapping{});
    }
    for (Mapping& idle : idle_) {
      idle.unmap();
    }
    idle_bytes_ = 0;
    return Mapping::map(bytes);
  }

  // Keeps `mapping` idle when it fits, in place of smaller idle ones if it
  // must; otherwise unmaps it.
  static void give_back(Mapping mapping) {
    if (mapping.bytes > kMaxIdleBytes) {
      mapping.unmap();
      return;
    }
#ifdef MADV_FREE
    madvise(mapping.base, mapping.bytes, MADV_FREE);
#else
    mapping.unmap();
    return;
#endif
    for (Mapping& idle : idle_) {
      if (idle.base == nullptr) {
        continue;
      }
      if (idle_bytes_ + mapping.bytes <= kMaxIdleBytes) {
        break;
      }
      if (idle.bytes <= mapping.bytes) {
        idle_bytes_ -= idle.bytes;
        idle.unmap();
      }
    }
    for (Mapping& idle : idle_) {
      if (idle.base == nullptr && idle_bytes_ + mapping.bytes <= kMaxIdleBytes) {
        idle = mapping;
        idle_bytes_ += mapping.bytes;
        return;
      }
    }
    mapping.unmap();
  }

 private:
  // Python holds the GIL around every use.
  static inline std::array<Mapping, 4> idle_{};
  static inline std::size_t idle_bytes_ = 0;
};

// A growing array of trivially copyable T: on the C heap while small, then
// in a mapping (taken from and given back to IdleMappings).
template <class T>
class GrowingArray {
 public:
  GrowingArray() = default;
  GrowingArray(const GrowingArray&) = delete;
  GrowingArray& operator=(const GrowingArray&) = delete;
  ~GrowingArray() {
    if (large_.base != nullptr) {
      IdleMappings::give_back(large_);
    }
  }

  // Room for `count` more elements, which the caller must all assign; nullptr
  // when memory runs out.
  T* append_uninitialized(std::size_t count) {
    const std::size_t used = size();
    const std::size_t needed = used + count;
    if (large_.base == nullptr && needed * sizeof(T) <= Mapping::kHugePage) {
      return small_.append_uninitialized(count);
    }
    if (needed > capacity()) {
      const std::size_t bytes = std::max(needed, used + used / 2) * sizeof(T);
      Mapping grown = IdleMappings::take(bytes);
      if (grown.base == nullptr) {
        return nullptr;
      }
      std::memcpy(grown.base, begin(), used * sizeof(T));
      if (large_.base != nullptr) {
        IdleMappings::give_back(large_);
      }
      large_ = grown;
      small_ = PodArray<T>();
    }
    T* first = begin() + used;
    large_size_ = needed;
    return first;
  }

  T* begin() { return large_.base != nullptr ? reinterpret_cast<T*>(large_.base) : small_.begin(); }
  std::size_t size() const { return large_.base != nullptr ? large_size_ : small_.size(); }

 private:
  std::size_t capacity() const { return large_.bytes / sizeof(T); }

  PodArray<T> small_;
  Mapping large_;
  std::size_t large_size_ = 0;
};

// DecodedValue objects come in slabs: a decode makes hundreds of thousands at
// once and Python frees them together, so one allocation per slab replaces
// one per value. A slab is aligned to its size, which finds it from any of its
// objects, and goes back to the system when its last object dies.
//
// A decode that knows it will make many objects takes one mapping for all
// its slabs instead, a region, which is given back when the last object of
// its last slab dies.
struct Region;

struct Slab {
  static constexpr std::size_t kBytes = 64 * 1024;
  static constexpr std::size_t kHeader = 64;
  static constexpr std::size_t kCapacity = (kBytes - kHeader) / sizeof(DecodedValueObject);

  std::size_t live = 0;  // objects alive, plus one while an allocator fills it
  std::size_t used = 0;
  Region* region = nullptr;  // nullptr: allocated alone

  static Slab* of(void* object) {
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(object) & ~(kBytes - 1));
  }
  DecodedValueObject* slot(std::size_t i) {
    return reinterpret_cast<DecodedValueObject*>(reinterpret_cast<char*>(this) + kHeader +
                                                 i * sizeof(DecodedValueObject));
  }
  void release();
};
static_assert(sizeof(Slab) <= Slab::kHeader);
static_assert(Mapping::kHugePage % Slab::kBytes == 0);

struct Region {
  Mapping mapping;
  std::size_t slabs_live = 0;  // slabs not yet released, handed out or not

  // A region of at least `slabs` slabs, or nullptr when memory runs out.
  // Its objects may outlive the decode by far, so an idle mapping much
  // larger than needed is not used: it would stay mapped with them.
  static Region* take(std::size_t slabs) {
    const std::size_t bytes = slabs * Slab::kBytes;
    Mapping mapping = IdleMappings::take(bytes, 2 * bytes + Mapping::kHugePage);
    if (mapping.base == nullptr) {
      return nullptr;
    }
    auto* region = new (std::nothrow) Region{mapping, slabs};
    if (region == nullptr) {
      IdleMappings::give_back(mapping);
    }
    return region;
  }

  Slab* slab(std::size_t i) const {
    return reinterpret_cast<Slab*>(mapping.base + i * Slab::kBytes);
  }

  void release_slabs(std::size_t count) {
    slabs_live -= count;
    if (slabs_live == 0) {
      IdleMappings::give_back(mapping);
      delete this;
    }
  }
};

void Slab::release() {
  if (--live == 0) {
    if (region != nullptr) {
      region->release_slabs(1);
    } else {
      std::free(this);
    }
  }
}

void slab_free(void* object) { Slab::of(object)->release(); }

class SlabAllocator {
 public:
  SlabAllocator() = default;
  SlabAllocator(const SlabAllocator&) = delete;
  SlabAllocator& operator=(const SlabAllocator&) = delete;
  ~SlabAllocator() {
    if (current_ != nullptr) {
      current_->release();
    }
    // Slabs of the region never handed out; when there are none, the
    // region may already be gone with the last object of `current_`.
    if (region_ != nullptr && region_next_ < region_slabs_) {
      region_->release_slabs(region_slabs_ - region_next_);
    }
  }

  // Prepares room for `count` more objects in one region when they fill
  // at least a huge page; otherwise slabs come one at a time.
  void reserve(std::size_t count) {
    const std::size_t slabs = (count + Slab::kCapacity - 1) / Slab::kCapacity;
    if (region_ != nullptr || slabs * Slab::kBytes < Mapping::kHugePage) {
      return;
    }
    region_ = Region::take(slabs);
    region_slabs_ = region_ == nullptr ? 0 : slabs;
  }

  // Uninitialised room for one object, or nullptr when memory runs out.
  DecodedValueObject* allocate() {
    if (current_ == nullptr || current_->used == Slab::kCapacity) {
      Slab* slab = next_slab();
      if (slab == nullptr) {
        return nullptr;
      }
      if (current_ != nullptr) {
        current_->release();
      }
      current_ = slab;
    }
    ++current_->live;
    return current_->slot(current_->used++);
  }

 private:
  Slab* next_slab() {
    if (region_ != nullptr && region_next_ < region_slabs_) {
      auto* slab = new (region_->slab(region_next_++)) Slab;
      slab->live = 1;
      slab->region = region_;
      return slab;
    }
    void* memory = std::aligned_alloc(Slab::kBytes, Slab::kBytes);
    if (memory == nullptr) {
      return nullptr;
    }
    auto* slab = new (memory) Slab;
    slab->live = 1;
    return slab;
  }

  Slab* current_ = nullptr;
  Region* region_ = nullptr;
  std::size_t region_slabs_ = 0;
  std::size_t region_next_ = 0;
};

void decoded_value_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DecodedValueObject* value = as_value(self);
  Py_XDECREF(value->name);
  Py_XDECREF(value->raw_text);
  Py_XDECREF(value->raw_meaning);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* new_reference_or_none(PyObject* object) {
  if (object == nullptr) {
    Py_RETURN_NONE;
  }
  Py_INCREF(object);
  return object;
}

PyObject* get_descriptor(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(as_value(self)->descriptor);
}
PyObject* get_name(PyObject* self, void*) { return new_reference_or_none(as_value(self)->name); }
PyObject* get_raw(PyObject* self, void*) {
  const DecodedValueObject* value = as_value(self);
  if (!value->has_raw) {
    Py_RETURN_NONE;
  }
  return PyLong_FromUnsignedLongLong(value->raw);
}
PyObject* get_raw_value(PyObject* self, void*) {
  const DecodedValueObject* value = as_value(self);
  if (!value->has_raw_value) {
    Py_RETURN_NONE;
  }
  return PyFloat_FromDouble(value->raw_value);
}
PyObject* get_raw_text(PyObject* self, void*) {
  return new_reference_or_none(as_value(self)->raw_text);
}
PyObject* get_raw_meaning(PyObject* self, void*) {
  return new_reference_or_none(as_value(self)->raw_meaning);
}
// The most telling form of the value: its text, else its meaning, else its number.
PyObject* get_data(PyObject* self, void* closure) {
  const DecodedValueObject* value = as_value(self);
  if (value->raw_text != nullptr) {
    return get_raw_text(self, closure);
  }
  if (value->raw_meaning != nullptr) {
    return get_raw_meaning(self, closure);
  }
  return get_raw_value(self, closure);
}

PyObject* decoded_value_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const DecodedValueObject* value = as_value(self);
    PyObject* shown = value->raw_text != nullptr ? value->raw_text : value->raw_meaning;
    if (shown != nullptr) {
      return PyUnicode_FromFormat("DecodedValue(%s, %U)",
                                  fmt::format("{:06}", value->descriptor).c_str(), shown);
    }
    const std::string number = value->has_raw_value
                                   ? fmt::format("Some({})", format_shortest(value->raw_value))
                                   : std::string("None");
    return to_python(fmt::format("DecodedValue({:06}, {})", value->descriptor, number));
  });
}

PyGetSetDef decoded_value_getset[] = {
    {"descriptor", get_descriptor, nullptr, nullptr, nullptr},
    {"name", get_name, nullptr, nullptr, nullptr},
    {"raw", get_raw, nullptr, nullptr, nullptr},
    {"raw_value", get_raw_value, nullptr, nullptr, nullptr},
    {"raw_text", get_raw_text, nullptr, nullptr, nullptr},
    {"raw_meaning", get_raw_meaning, nullptr, nullptr, nullptr},
    {"data", get_data, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot decoded_value_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(decoded_value_dealloc)},
    {Py_tp_free, reinterpret_cast<void*>(slab_free)},
    {Py_tp_repr, reinterpret_cast<void*>(decoded_value_repr)},
    {Py_tp_getset, decoded_value_getset},
    {Py_tp_doc, const_cast<char*>("One value decoded from section 4.")},
    {0, nullptr},
};

PyType_Spec decoded_value_spec = {
    "_quorvel.DecodedValue",
    sizeof(DecodedValueObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    decoded_value_slots,
};

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

}  // namespace

std::string format_shortest(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  const std::string sign = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    return sign + "0.0";
  }
  // Shortest round-trip digits d.ddd and decimal exponent.
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  const std::string scientific(buffer, result.ptr);
  const std::size_t e = scientific.find('e');
  std::string digits = scientific.substr(0, e);
  const int exponent = std::atoi(scientific.c_str() + e + 1);
  if (magnitude >= 1e16 || magnitude < 1e-4) {
    return fmt::format("{}{}e{}", sign, digits, exponent);
  }
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  std::string whole;
  std::string fraction;
  if (exponent >= 0) {
    const auto integer_digits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integer_digits) {
      whole = digits + std::string(integer_digits - digits.size(), '0');
    } else {
      whole = digits.substr(0, integer_digits);
      fraction = digits.substr(integer_digits);
    }
  } else {
    whole = "0";
    fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  return fmt::format("{}{}.{}", sign, whole, fraction.empty() ? "0" : fraction);
}

PyTypeObject* make_decoded_value_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &decoded_value_spec, nullptr));
}

namespace {

// Makes the DecodedValue objects of a decode and lays them out in decoding
// order in a new list. Uncompressed values come in that order, and each
// becomes an object at once. Compressed values come column by column: they are
// kept in a compact form (the objects' fields with borrowed references) and
// made into objects subset by subset at the end, so that the objects lie in
// memory in the order of the list, which is the order in which Python frees
// them and callers read them.
class ObjectSink final : public ValueSink {
 public:
  explicit ObjectSink(PyTypeObject* type) : type_(type) {}
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

PyObject* decode_to_list(const ModuleState& state, const BufrMessage& message,
                         std::span<const std::uint8_t> message_bytes, const TableSet& tables) {
  ObjectSink sink(state.decoded_value_type);
  const Status decoded = decode_message_values(message, message_bytes, tables, sink);
  if (!decoded) {
    return sink.python_error() ? nullptr : raise_error(decoded.error());
  }
  return sink.take_list();
}

}  // namespace quorvel::py
