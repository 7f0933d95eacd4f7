#include "support/bit_writer.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quorvel::testing {
namespace {

[[noreturn]] void fail(const char* what, std::uint64_t value, unsigned width) {
  std::fprintf(stderr, "BitWriter::write: %s (value %llu, width %u)\n", what,
               static_cast<unsigned long long>(value), width);
  std::abort();
}

}  // namespace

void BitWriter::write(std::uint64_t value, unsigned width) {
  if (width > 64) {
    fail("width above 64", value, width);
  }
  if (value > max_value(width)) {
    fail("value does not fit the width", value, width);
  }
  while (width > 0) {
    const auto used = static_cast<unsigned>(bit_count_ % 8);
    if (used == 0) {
      bytes_.push_back(0);
    }
    const unsigned room = 8 - used;
    const unsigned take = std::min(room, width);
    // width - take < 64 here, so the shift is defined even for width 64.
    const auto chunk = static_cast<unsigned>((value >> (width - take)) & max_value(take));
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | chunk << (room - take));
    width -= take;
    bit_count_ += take;
  }
}

void BitWriter::write_bytes(std::span<const std::uint8_t> bytes) {
  if (aligned()) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    bit_count_ += std::uint64_t{bytes.size()} * 8;
    return;
  }
  for (const std::uint8_t byte : bytes) {
    write(byte, 8);
  }
}

void BitWriter::write_bytes(std::string_view text) {
  for (const char c : text) {
    write(static_cast<std::uint8_t>(c), 8);
  }
}

void BitWriter::pad_to_octet() { bit_count_ = std::uint64_t{bytes_.size()} * 8; }

std::vector<std::uint8_t> BitWriter::take_bytes() {
  std::vector<std::uint8_t> out = std::move(bytes_);
  bytes_.clear();
  bit_count_ = 0;
  return out;
}

}  // namespace quorvel::testing
