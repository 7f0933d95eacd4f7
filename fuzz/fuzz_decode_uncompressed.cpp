// The uncompressed decoder over descriptors and data from the input (see
// decode_input.hpp), against the fixed tables, with the data in an exact
// copy so that a read past its end is caught.
#include <cstddef>
#include <cstdint>

#include "bitstream/decoding/decode.hpp"
#include "decode_input.hpp"
#include "fuzz_support.hpp"
#include "support/exact_buffer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzz::DecodeInput input;
  if (!quorvel::fuzz::read_decode_input(quorvel::fuzz::Bytes(data, size), input)) {
    return 0;
  }
  const quorvel::testing::ExactBuffer section4(input.data);
  const auto decoded =
      quorvel::decode_uncompressed(input.descriptors, input.subsets, quorvel::fuzz::fixed_tables(),
                                   section4.span(), quorvel::fuzz::kFuzzDecodeLimits);
  if (decoded) {
    quorvel::fuzz::consume(*decoded);
  }
  return 0;
}
