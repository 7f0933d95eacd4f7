// The plainest possible section-4 reader: one bit at a time. The word-at-a-time
// BitReader must agree with it on every value, position and failure text.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace quorvel::testing {

class ReferenceBitReader {
 public:
  explicit ReferenceBitReader(std::span<const std::uint8_t> data) : data_(data) {}

  std::uint64_t position() const { return position_; }

  // The value read, or the failure text.
  std::variant<std::uint64_t, std::string> read_bits(std::uint32_t width) {
    if (width == 0) {
      return std::uint64_t{0};
    }
    if (width > 64) {
      return fmt::format("cannot read {} bits into u64", width);
    }
    const std::uint64_t available = std::uint64_t{data_.size()} * 8;
    if (position_ + width > available) {
      return fmt::format(
          "not enough bits while reading section 4 at bit {} for width {} ({} bits available)",
          position_, width, available);
    }
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < width; ++i) {
      const std::uint8_t octet = data_[position_ / 8];
      const unsigned bit = (octet >> (7 - position_ % 8)) & 1u;
      value = value * 2 + bit;
      ++position_;
    }
    return value;
  }

  // The octets read, or the failure text.
  std::variant<std::string, std::string> read_bytes(std::uint32_t bit_count) {
    std::string out;
    for (std::uint32_t i = 0; i < bit_count / 8; ++i) {
      auto octet = read_bits(8);
      if (auto* failure = std::get_if<std::string>(&octet)) {
        return std::variant<std::string, std::string>(std::in_place_index<1>, *failure);
      }
      out.push_back(static_cast<char>(std::get<std::uint64_t>(octet)));
    }
    if (const std::uint32_t rest = bit_count % 8; rest != 0) {
      auto bits = read_bits(rest);
      if (auto* failure = std::get_if<std::string>(&bits)) {
        return std::variant<std::string, std::string>(std::in_place_index<1>, *failure);
      }
      out.push_back(static_cast<char>(std::get<std::uint64_t>(bits) << (8 - rest)));
    }
    return std::variant<std::string, std::string>(std::in_place_index<0>, out);
  }

 private:
  std::span<const std::uint8_t> data_;
  std::uint64_t position_ = 0;
};

}  // namespace quorvel::testing
