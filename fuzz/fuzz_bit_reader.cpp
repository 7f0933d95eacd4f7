// The word-at-a-time BitReader against the one-bit-at-a-time reference: both
// must give the same values, positions, octets and failure texts for any
// data and any sequence of reads. A disagreement aborts.
//
// Input: the data length (two octets, big-endian, reduced to what follows),
// the data, then reads of two octets each: a first octet with its top bit
// clear reads `second % 80` bits (0..79, past the 64-bit limit); with it set,
// read_bytes takes the 15 bits that remain as its bit count.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "core/decode/bit_reader.hpp"
#include "fuzz_support.hpp"
#include "support/exact_buffer.hpp"
#include "support/reference_bit_reader.hpp"

namespace {

// The reference gives the bare text; the reader's errors carry the prefix
// of every formatted message.
std::string as_error_text(const std::string& text) { return "csv/table parse error: " + text; }

[[noreturn]] void disagree(const char* what, std::uint32_t width) {
  std::fprintf(stderr, "BitReader and the reference disagree on %s (width %u)\n", what, width);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzz::Bytes input(data, size);
  if (input.size() < 2) {
    return 0;
  }
  const std::size_t length = (std::size_t{input[0]} << 8 | input[1]) % (input.size() - 1);
  input = input.subspan(2);
  const quorvel::testing::ExactBuffer buffer(input.first(length));
  input = input.subspan(length);

  quorvel::BitReader reader(buffer.span());
  quorvel::testing::ReferenceBitReader reference(buffer.span());
  std::string octets;
  for (; input.size() >= 2; input = input.subspan(2)) {
    if ((input[0] & 0x80) == 0) {
      const std::uint32_t width = input[1] % 80u;
      const auto got = reader.read_bits(width);
      const auto expected = reference.read_bits(width);
      if (got.has_value() != std::holds_alternative<std::uint64_t>(expected)) {
        disagree("success of read_bits", width);
      }
      if (got ? *got != std::get<std::uint64_t>(expected)
              : got.error().message() != as_error_text(std::get<std::string>(expected))) {
        disagree("the result of read_bits", width);
      }
    } else {
      const std::uint32_t bit_count = std::uint32_t{input[0] & 0x7Fu} << 8 | input[1];
      const auto got = reader.read_bytes(bit_count, octets);
      const auto expected = reference.read_bytes(bit_count);
      if (got.has_value() != (expected.index() == 0)) {
        disagree("success of read_bytes", bit_count);
      }
      if (got ? octets != std::get<0>(expected)
              : got.error().message() != as_error_text(std::get<1>(expected))) {
        disagree("the result of read_bytes", bit_count);
      }
    }
    if (reader.position() != reference.position()) {
      disagree("the position", 0);
    }
  }
  return 0;
}
