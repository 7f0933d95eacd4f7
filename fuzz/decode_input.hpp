// The input layout of the two decoder targets: the subset count (two
// octets, big-endian), a descriptor count (one octet), two octets per
// descriptor as in section 3, then the section-4 data area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.hpp"
#include "support/exact_buffer.hpp"

namespace quorvel::fuzz {

struct DecodeInput {
  std::uint32_t subsets = 0;
  std::vector<std::uint32_t> descriptors;
  Bytes data;
};

inline bool read_decode_input(Bytes input, DecodeInput& out) {
  if (input.size() < 3) {
    return false;
  }
  out.subsets = std::uint32_t{input[0]} << 8 | input[1];
  std::size_t count = input[2];
  input = input.subspan(3);
  out.descriptors.clear();
  for (; count != 0 && input.size() >= 2; --count) {
    out.descriptors.push_back(code_of_octets(input[0], input[1]));
    input = input.subspan(2);
  }
  out.data = input;
  return true;
}

// The body of the two decoder targets: `decode(descriptors, subsets, tables,
// data, limits)` over the input, with the data in an exact copy so that a
// read past its end is caught.
template <class Decode>
int run_decoder(Bytes input, Decode decode) {
  DecodeInput decode_input;
  if (!read_decode_input(input, decode_input)) {
    return 0;
  }
  const testing::ExactBuffer section4(decode_input.data);
  const auto decoded = decode(decode_input.descriptors, decode_input.subsets, fixed_tables(),
                              section4.span(), kFuzzDecodeLimits);
  if (decoded) {
    consume(*decoded);
  }
  return 0;
}

}  // namespace quorvel::fuzz
