#include "py/values/idle_mappings.hpp"

#include <sys/mman.h>

#include <utility>

namespace quorvel::py {

Mapping IdleMappings::take(std::size_t bytes, std::size_t largest) {
  const std::lock_guard lock(mutex_);
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
  unmap_all();
  return Mapping::map(bytes);
}

void IdleMappings::give_back(Mapping mapping) {
  const std::lock_guard lock(mutex_);
  if (closed_ || mapping.bytes > kMaxIdleBytes) {
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

void IdleMappings::close() {
  const std::lock_guard lock(mutex_);
  unmap_all();
  closed_ = true;
}

void IdleMappings::unmap_all() {
  for (Mapping& idle : idle_) {
    idle.unmap();
  }
  idle_bytes_ = 0;
}

}  // namespace quorvel::py
