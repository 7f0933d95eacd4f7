// The first message in the input (editions 2 to 4), decoded by the layout its
// compression flag names, with where a failure lies asked for: against the fixed tables, then
// against the real version 37 tables when installed. Only one message is decoded, as each decode
// may run up to the fuzzing limits and the time limit covers the whole input; finding the message
// by its marker and declared length, not by scanning the whole input, keeps inputs whose later
// messages were cut off (long files are cut to the maximum input length) useful. Scanning is the
// parse target's work.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/decode/decode.hpp"
#include "core/message/section_parser.hpp"
#include "fuzz_support.hpp"
#include "support/exact_buffer.hpp"

namespace {

// The octets from the first "BUFR" to the length it declares, or to the end
// of the input when that length does not fit.
quorvel::fuzz::Bytes first_message(quorvel::fuzz::Bytes input) {
  constexpr std::string_view kMarker = "BUFR";
  const auto found = std::search(input.begin(), input.end(), kMarker.begin(), kMarker.end());
  const auto start = static_cast<std::size_t>(found - input.begin());
  const quorvel::fuzz::Bytes rest = input.subspan(start);
  if (rest.size() < 8) {
    return rest;
  }
  const std::size_t declared = std::size_t{rest[4]} << 16 | std::size_t{rest[5]} << 8 | rest[6];
  return declared != 0 && declared <= rest.size() ? rest.first(declared) : rest;
}

void decode_with(const quorvel::BufrMessage& message, quorvel::fuzz::Bytes bytes,
                 const quorvel::TableSet& tables) {
  quorvel::DecodeWhere where;
  quorvel::DecodeLimits limits = quorvel::fuzz::kFuzzDecodeLimits;
  limits.where = &where;
  const auto decoded = quorvel::decode_message_values(message, bytes, tables, limits);
  if (decoded) {
    // A decode that succeeds has no failure to place.
    if (where.known) {
      std::abort();
    }
    quorvel::fuzz::consume(*decoded);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorvel::testing::ExactBuffer copy(first_message(quorvel::fuzz::Bytes(data, size)));
  const auto message = quorvel::parse_message_any_edition(copy.span());
  if (!message) {
    return 0;
  }
  decode_with(*message, copy.span(), quorvel::fuzz::fixed_tables());
  if (const quorvel::TableSet* real = quorvel::fuzz::real_tables()) {
    decode_with(*message, copy.span(), *real);
  }
  return 0;
}
