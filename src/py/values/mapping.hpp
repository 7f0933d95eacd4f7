// Mapping: anonymous memory in whole huge pages, owned by whoever holds the
// value; unmap() gives it back.
#pragma once

#include <cstddef>

namespace quorvel::py {

// Hinted for transparent huge pages: first touches of fresh memory then
// fault once per 2 MB rather than once per 4 KB page, which on virtual
// machines costs more than what is stored there.
struct Mapping {
  static constexpr std::size_t kHugePage = 2 * 1024 * 1024;

  char* base = nullptr;
  std::size_t bytes = 0;

  // At least `bytes`, aligned to a huge page; base is nullptr on failure.
  static Mapping map(std::size_t bytes);

  void unmap();
};

}  // namespace quorvel::py
