// Descriptor codes: F-X-Y carried as one integer F*100000 + X*1000 + Y.
#pragma once

#include <cstdint>

namespace quorvel {

// Code of the associated-field values that expansion and decoding insert.
inline constexpr std::uint32_t kAssociatedFieldCode = 999999;

constexpr std::uint32_t descriptor_f(std::uint32_t code) { return code / 100000; }
constexpr std::uint32_t descriptor_x(std::uint32_t code) { return code % 100000 / 1000; }
constexpr std::uint32_t descriptor_y(std::uint32_t code) { return code % 1000; }

constexpr std::uint32_t make_descriptor_code(std::uint32_t f, std::uint32_t x, std::uint32_t y) {
  return f * 100000 + x * 1000 + y;
}

// The code of a descriptor in its 16-bit section-3 form, octets in message order.
constexpr std::uint32_t descriptor_code_from_octets(std::uint8_t b0, std::uint8_t b1) {
  return make_descriptor_code(std::uint32_t{b0} >> 6, std::uint32_t{b0} & 0x3Fu, b1);
}

}  // namespace quorvel
