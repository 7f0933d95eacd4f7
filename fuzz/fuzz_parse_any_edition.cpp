// Parsing editions 2 to 4: any octets give a header or an error, never a
// read outside the buffer, and an edition-4 message reads exactly as the
// edition-4 parser reads it. Scanned messages are parsed from exact copies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/message/scanner.hpp"
#include "core/message/section_parser.hpp"
#include "fuzz_support.hpp"
#include "support/exact_buffer.hpp"

namespace {

void parse_both(std::span<const std::uint8_t> bytes) {
  const auto any = quorvel::parse_message_any_edition(bytes);
  if (bytes.size() <= 7 || bytes[7] != 4) {
    return;
  }
  const auto four = quorvel::parse_message(bytes);
  const bool agree =
      any.has_value() ? four.has_value() && any->section4_data_offset == four->section4_data_offset
                      : !four.has_value() && any.error().message() == four.error().message();
  if (!agree) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorvel::fuzz::Bytes input(data, size);
  parse_both(input);
  const auto slices = quorvel::scan_messages(input);
  if (!slices) {
    return 0;
  }
  for (const quorvel::MessageSlice& slice : *slices) {
    const quorvel::testing::ExactBuffer copy(quorvel::slice_bytes(input, slice));
    parse_both(copy.span());
  }
  return 0;
}
