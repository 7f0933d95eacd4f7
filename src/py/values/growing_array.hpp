// GrowingArray: a growing array of trivially copyable T, on the C heap while
// small, then in a mapping taken from and given back to an IdleMappings that
// must outlive it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/base/pod_array.hpp"
#include "py/values/idle_mappings.hpp"
#include "py/values/mapping.hpp"

namespace quorvel::py {

template <class T>
class GrowingArray {
 public:
  explicit GrowingArray(IdleMappings& idle) : idle_(idle) {}
  GrowingArray(const GrowingArray&) = delete;
  GrowingArray& operator=(const GrowingArray&) = delete;
  ~GrowingArray() {
    if (large_.base != nullptr) {
      idle_.give_back(large_);
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
      Mapping grown = idle_.take(bytes);
      if (grown.base == nullptr) {
        return nullptr;
      }
      std::memcpy(grown.base, begin(), used * sizeof(T));
      if (large_.base != nullptr) {
        idle_.give_back(large_);
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

  IdleMappings& idle_;
  PodArray<T> small_;
  Mapping large_;
  std::size_t large_size_ = 0;
};

}  // namespace quorvel::py
