// Scanning and parsing: any octets give messages or an error, never a read
// outside the buffer. Each scanned message is parsed from an exact copy, so
// a read past its declared end is caught even inside a larger input.
#include <cstddef>
#include <cstdint>

#include "core/message/scanner.hpp"
#include "core/message/section_parser.hpp"
#include "fuzz_support.hpp"
#include "support/exact_buffer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorvel::fuzz::Bytes input(data, size);
  (void)quorvel::parse_message(input);
  (void)quorvel::parse_all_messages(input);
  const auto slices = quorvel::scan_messages(input);
  if (!slices) {
    return 0;
  }
  for (const quorvel::MessageSlice& slice : *slices) {
    const quorvel::testing::ExactBuffer copy(quorvel::slice_bytes(input, slice));
    (void)quorvel::parse_message(copy.span());
  }
  return 0;
}
