// The compressed decoder over descriptors and data from the input (see
// decode_input.hpp), against the fixed tables, with the data in an exact
// copy so that a read past its end is caught.
#include <cstddef>
#include <cstdint>

#include "core/decode/decode.hpp"
#include "decode_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz::run_decoder(quorvel::fuzz::Bytes(data, size), [](const auto&... args) {
    return quorvel::decode_compressed(args...);
  });
}
