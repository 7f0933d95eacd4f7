#include "bitstream/decoding/decode.hpp"

#include <algorithm>

namespace quorvel {

std::optional<std::string> decode_text(std::string_view octets) {
  const bool all_ones = std::all_of(octets.begin(), octets.end(),
                                    [](char octet) { return static_cast<unsigned char>(octet) == 0xFF; });
  if (all_ones) {
    return std::nullopt;
  }
  std::string text(octets);
  for (char& character : text) {
    if (static_cast<unsigned char>(character) >= 0x80) {
      character = '?';
    }
  }
  const auto last = text.find_last_not_of(" \t\n\v\f\r");
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

Expected<DecodedValues> decode_message_values(const BufrMessage& message,
                                              std::span<const std::uint8_t> message_bytes,
                                              const TableSet& tables,
                                              const DecodeLimits& limits) {
  const auto data =
      message_bytes.subspan(message.section4_data_offset, message.section4_data_length);
  if (message.compressed_data) {
    return decode_compressed(message.unexpanded_descriptors, message.number_of_subsets, tables,
                             data, limits);
  }
  return decode_uncompressed(message.unexpanded_descriptors, message.number_of_subsets, tables,
                             data, limits);
}

}  // namespace quorvel
