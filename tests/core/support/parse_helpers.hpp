// Helpers shared by the parser and scanner tests: parsing over an exact heap
// copy, and the expected error texts built from numbers the test knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/message/section_parser.hpp"
#include "support/exact_buffer.hpp"

namespace quorvel::testing {

// Parses a copy of `bytes` that ends exactly where they end.
inline Expected<BufrMessage> parse_exact(std::span<const std::uint8_t> bytes) {
  const ExactBuffer copy(bytes);
  return parse_message(copy.span());
}

inline Expected<BufrMessage> parse_any_exact(std::span<const std::uint8_t> bytes) {
  const ExactBuffer copy(bytes);
  return parse_message_any_edition(copy.span());
}

// The error text of a failed parse, or a marker a text never equals.
template <class T>
std::string error_text(const Expected<T>& result) {
  return result.has_value() ? std::string("<no error>") : result.error().message();
}

inline std::string truncated_text(int section, std::size_t offset) {
  return "section " + std::to_string(section) + " at offset " + std::to_string(offset) +
         " is truncated";
}

inline std::string mismatch_text(std::size_t declared, std::size_t actual) {
  return "declared length " + std::to_string(declared) + " does not match buffer length " +
         std::to_string(actual);
}

inline const std::string kTooShortText = "message is too short to be BUFR";
inline const std::string kMissingMarkerText = "missing BUFR marker";
inline const std::string kBadTerminatorText = "section 5 terminator is not 7777";

}  // namespace quorvel::testing
