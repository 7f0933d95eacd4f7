// BitWriter: builds bit strings most significant bit first, the order in
// which BUFR packs section-4 values, for tests and benchmarks that lay out
// messages by hand. Owns its octets until take_bytes() hands them over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// The largest value `width` bits can hold: 0 for width 0, ~0 for width 64.
constexpr std::uint64_t max_value(unsigned width) {
  return width == 0 ? 0 : ~std::uint64_t{0} >> (64 - (width > 64 ? 64 : width));
}

class BitWriter {
 public:
  // Appends the low `width` bits of `value`, most significant first. `width`
  // is 0 to 64 and `value` must fit in it; either mistake aborts, since a
  // silently truncated value would hide a wrong test instead of failing it.
  void write(std::uint64_t value, unsigned width);

  // Appends each octet as eight bits; the writer need not be on an octet boundary.
  void write_bytes(std::span<const std::uint8_t> bytes);
  // The characters of `text` as octets, e.g. "BUFR" or "7777".
  void write_bytes(std::string_view text);

  // Fills the current octet with zero bits, if one is started.
  void pad_to_octet();

  std::uint64_t bit_count() const { return bit_count_; }
  // Whole octets written so far plus a started one.
  std::size_t byte_count() const { return bytes_.size(); }
  bool aligned() const { return bit_count_ % 8 == 0; }

  // Hands over the octets written, a started last octet padded with zero
  // bits, and leaves the writer empty.
  std::vector<std::uint8_t> take_bytes();

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t bit_count_ = 0;
};

}  // namespace quorvel::testing
