// BitReader: reads the section-4 data area most significant bit first, at any
// bit position. Reads load whole 64-bit words where the data allows; the
// results, positions and failure texts are those of a reader that takes one
// bit at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "core/base/bufr_error.hpp"

namespace quorvel {

class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}

  std::uint64_t position() const { return position_; }
  std::uint64_t bits_available() const { return std::uint64_t{data_.size()} * 8; }

  std::uint64_t bits_left() const { return bits_available() - position_; }

  // The next `width` (1..64) bits, which the caller has made sure are there
  // (bits_left() >= width).
  std::uint64_t read_present_bits(std::uint32_t width) {
    const std::uint64_t value = peek(width);
    position_ += width;
    return value;
  }

  // The next `width` bits as an unsigned number. Width 0 reads nothing and
  // always succeeds; on failure the position does not move.
  Expected<std::uint64_t> read_bits(std::uint32_t width) {
    if (width == 0) {
      return std::uint64_t{0};
    }
    if (width > 64) {
      return BufrError::read_too_wide(width);
    }
    if (position_ + width > bits_available()) {
      return BufrError::not_enough_bits(position_, width, bits_available());
    }
    const std::uint64_t value = peek(width);
    position_ += width;
    return value;
  }

  // Moves past `width` bits, any number of them; on failure the position
  // does not move.
  Status skip_bits(std::uint64_t width) {
    if (width > bits_left()) {
      return BufrError::not_enough_bits(position_, width, bits_available());
    }
    position_ += width;
    return {};
  }

  // ceil(bit_count / 8) octets: whole octets first, then the remaining bits
  // left-aligned in a last octet. A failure names the octet (or the final
  // partial read) that crosses the end; octets before it stay consumed.
  Status read_bytes(std::uint32_t bit_count, std::string& out);

 private:
  // The `width` (1..64) bits at the position, which the caller has checked.
  std::uint64_t peek(std::uint32_t width) const {
    const std::size_t first = static_cast<std::size_t>(position_ >> 3);
    const unsigned shift = static_cast<unsigned>(position_ & 7);
    if (first + 8 <= data_.size()) {
      std::uint64_t word;
      std::memcpy(&word, data_.data() + first, sizeof word);
      word = __builtin_bswap64(word) << shift;
      if (shift + width > 64) {
        word |= static_cast<std::uint64_t>(data_[first + 8] >> (8 - shift));
      }
      return word >> (64 - width);
    }
    // Near the end: gather the few octets that remain.
    const std::size_t octets = (shift + width + 7) / 8;
    unsigned __int128 gathered = 0;
    for (std::size_t i = 0; i < octets; ++i) {
      gathered = (gathered << 8) | data_[first + i];
    }
    const unsigned drop = static_cast<unsigned>(octets * 8 - shift - width);
    const unsigned __int128 mask = (static_cast<unsigned __int128>(1) << width) - 1;
    return static_cast<std::uint64_t>((gathered >> drop) & mask);
  }

  std::span<const std::uint8_t> data_;
  std::uint64_t position_ = 0;
};

inline Status BitReader::read_bytes(std::uint32_t bit_count, std::string& out) {
  const std::uint32_t whole = bit_count / 8;
  const std::uint32_t rest = bit_count % 8;
  out.clear();
  out.reserve(whole + (rest != 0 ? 1 : 0));
  for (std::uint32_t i = 0; i < whole; ++i) {
    QV_ASSIGN_OR_RETURN(const std::uint64_t octet, read_bits(8));
    out.push_back(static_cast<char>(octet));
  }
  if (rest != 0) {
    QV_ASSIGN_OR_RETURN(const std::uint64_t bits, read_bits(rest));
    out.push_back(static_cast<char>(bits << (8 - rest)));
  }
  return {};
}

}  // namespace quorvel
