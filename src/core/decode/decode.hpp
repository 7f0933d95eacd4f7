// Decoding of a message's section-4 data area: the uncompressed layout subset
// by subset, the compressed layout column by column. The decoders hand their
// values to a ValueSink as they read them; the functions returning
// DecodedValues collect them with one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/base/bufr_error.hpp"
#include "core/decode/decode_walk.hpp"
#include "core/decode/decoded_value.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Receives the values of one decode. Names and meanings are views into the
// TableSet of the decode; texts are views valid only during the call. A sink
// error ends the decode with that error.
class ValueSink {
 public:
  virtual ~ValueSink() = default;

  // Uncompressed data: the next value in decoding order; `text` holds its
  // characters when it has any (value.text is then 0, else kNoText).
  virtual Status value(const DecodedValue& value, std::optional<std::string_view> text) = 0;

  // Compressed data: the next column, entry k for subset k; an entry's text
  // is texts[entry.text]. Columns come in reading order; the decoding order
  // is subset by subset across them. No column comes without subsets.
  virtual Status column(std::span<const DecodedValue> column,
                        std::span<const std::string> texts) = 0;

  // Uncompressed data: subset `subset` (from 0) begins; its values follow.
  virtual Status begin_subset(std::uint32_t /*subset*/) { return {}; }
};

Status decode_uncompressed(std::span<const std::uint32_t> descriptors, std::uint32_t subsets,
                           const TableSet& tables, std::span<const std::uint8_t> data,
                           ValueSink& sink, const DecodeLimits& limits = {});

Status decode_compressed(std::span<const std::uint32_t> descriptors, std::uint32_t subsets,
                         const TableSet& tables, std::span<const std::uint8_t> data,
                         ValueSink& sink, const DecodeLimits& limits = {});

// The section-4 data area of `message_bytes` (the whole message `message`
// was parsed from), decoded by the layout its compression flag names.
Status decode_message_values(const BufrMessage& message,
                             std::span<const std::uint8_t> message_bytes, const TableSet& tables,
                             ValueSink& sink, const DecodeLimits& limits = {});

// The same, collected into DecodedValues.
Expected<DecodedValues> decode_uncompressed(std::span<const std::uint32_t> descriptors,
                                            std::uint32_t subsets, const TableSet& tables,
                                            std::span<const std::uint8_t> data,
                                            const DecodeLimits& limits = {});

Expected<DecodedValues> decode_compressed(std::span<const std::uint32_t> descriptors,
                                          std::uint32_t subsets, const TableSet& tables,
                                          std::span<const std::uint8_t> data,
                                          const DecodeLimits& limits = {});

Expected<DecodedValues> decode_message_values(const BufrMessage& message,
                                              std::span<const std::uint8_t> message_bytes,
                                              const TableSet& tables,
                                              const DecodeLimits& limits = {});

}  // namespace quorvel
