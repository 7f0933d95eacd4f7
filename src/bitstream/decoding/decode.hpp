// Decoding of a message's section-4 data area into DecodedValues: the
// uncompressed layout subset by subset, the compressed layout column by
// column, both returned subset by subset in descriptor order.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/decoding/decode_walk.hpp"
#include "bitstream/decoding/decoded_value.hpp"
#include "lib/bufr_error.hpp"
#include "message/section_parser.hpp"
#include "tables/table_set.hpp"

namespace quorvel {

Expected<DecodedValues> decode_uncompressed(std::span<const std::uint32_t> descriptors,
                                            std::uint32_t subsets, const TableSet& tables,
                                            std::span<const std::uint8_t> data,
                                            const DecodeLimits& limits = {});

Expected<DecodedValues> decode_compressed(std::span<const std::uint32_t> descriptors,
                                          std::uint32_t subsets, const TableSet& tables,
                                          std::span<const std::uint8_t> data,
                                          const DecodeLimits& limits = {});

// The section-4 data area of `message_bytes` (the whole message `message`
// was parsed from), decoded by the layout its compression flag names.
Expected<DecodedValues> decode_message_values(const BufrMessage& message,
                                              std::span<const std::uint8_t> message_bytes,
                                              const TableSet& tables,
                                              const DecodeLimits& limits = {});

}  // namespace quorvel
