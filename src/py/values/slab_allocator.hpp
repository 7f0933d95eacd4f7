// SlabAllocator: room for DecodedValue objects, many to a slab. The slabs
// outlive the allocator: each goes back when its last object is freed, through
// slab_free, the class's tp_free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "py/values/decoded_value_object.hpp"
#include "py/values/idle_mappings.hpp"
#include "py/values/mapping.hpp"

namespace quorvel::py {

// A decode makes hundreds of thousands of objects at once and Python frees
// them together, so one allocation per slab replaces one per value. A slab is
// aligned to its size, which finds it from any of its objects, and goes back
// to the system when its last object dies.
//
// A decode that knows it will make many objects takes one mapping for all its
// slabs instead, a region, which is given back when the last object of its
// last slab dies.
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

// The tp_free of DecodedValue: frees the object's place in its slab.
void slab_free(void* object);

class SlabAllocator {
 public:
  // `idle` lends and takes back regions; it must stay valid as long as any
  // object made here lives, as the state of the module whose class the
  // objects belong to does.
  explicit SlabAllocator(IdleMappings& idle) : idle_(idle) {}
  SlabAllocator(const SlabAllocator&) = delete;
  SlabAllocator& operator=(const SlabAllocator&) = delete;
  ~SlabAllocator();

  // Prepares room for `count` more objects in one region when they fill
  // at least a huge page; otherwise slabs come one at a time.
  void reserve(std::size_t count);

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
  Slab* next_slab();

  IdleMappings& idle_;
  Slab* current_ = nullptr;
  Region* region_ = nullptr;
  std::size_t region_slabs_ = 0;
  std::size_t region_next_ = 0;
};

}  // namespace quorvel::py
