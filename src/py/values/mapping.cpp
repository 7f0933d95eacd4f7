#include "py/values/mapping.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace quorvel::py {

Mapping Mapping::map(std::size_t bytes) {
  bytes = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  // Over-map by a huge page to align the start, then give back the ends.
  const std::size_t mapped = bytes + kHugePage;
  void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
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

void Mapping::unmap() {
  if (base != nullptr) {
    munmap(base, bytes);
  }
  *this = {};
}

}  // namespace quorvel::py
