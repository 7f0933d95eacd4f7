// ExactBuffer: a heap copy of exactly the given octets, so that
// AddressSanitizer reports a read one past the last octet; the spare capacity
// of a std::vector would hide it. Owns its copy; span() borrows from it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace quorvel::testing {

class ExactBuffer {
 public:
  explicit ExactBuffer(std::span<const std::uint8_t> bytes)
      : data_(new std::uint8_t[bytes.size()]), size_(bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), data_.get());
  }

  std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_;
};

}  // namespace quorvel::testing
