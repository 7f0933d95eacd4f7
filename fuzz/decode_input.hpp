// The input layout of the two decoder targets: the subset count (two
// octets, big-endian), a descriptor count (one octet), two octets per
// descriptor as in section 3, then the section-4 data area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.hpp"

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

}  // namespace quorvel::fuzz
