#include "py/values/slab_allocator.hpp"

#include <cstdlib>
#include <new>

namespace quorvel::py {

struct Region {
  Mapping mapping;
  IdleMappings* idle;
  std::size_t slabs_live = 0;  // slabs not yet released, handed out or not

  // A region of at least `slabs` slabs, or nullptr when memory runs out.
  // Its objects may outlive the decode by far, so an idle mapping much
  // larger than needed is not used: it would stay mapped with them.
  static Region* take(IdleMappings& idle, std::size_t slabs) {
    const std::size_t bytes = slabs * Slab::kBytes;
    Mapping mapping = idle.take(bytes, 2 * bytes + Mapping::kHugePage);
    if (mapping.base == nullptr) {
      return nullptr;
    }
    auto* region = new (std::nothrow) Region{mapping, &idle, slabs};
    if (region == nullptr) {
      idle.give_back(mapping);
    }
    return region;
  }

  Slab* slab(std::size_t i) const {
    return reinterpret_cast<Slab*>(mapping.base + i * Slab::kBytes);
  }

  void release_slabs(std::size_t count) {
    slabs_live -= count;
    if (slabs_live == 0) {
      idle->give_back(mapping);
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

SlabAllocator::~SlabAllocator() {
  if (current_ != nullptr) {
    current_->release();
  }
  // Slabs of the region never handed out; when there are none, the region
  // may already be gone with the last object of `current_`.
  if (region_ != nullptr && region_next_ < region_slabs_) {
    region_->release_slabs(region_slabs_ - region_next_);
  }
}

void SlabAllocator::reserve(std::size_t count) {
  const std::size_t slabs = (count + Slab::kCapacity - 1) / Slab::kCapacity;
  if (region_ != nullptr || slabs * Slab::kBytes < Mapping::kHugePage) {
    return;
  }
  region_ = Region::take(idle_, slabs);
  region_slabs_ = region_ == nullptr ? 0 : slabs;
}

Slab* SlabAllocator::next_slab() {
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

}  // namespace quorvel::py
