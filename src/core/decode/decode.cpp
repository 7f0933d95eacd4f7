#include "core/decode/decode.hpp"

#include <algorithm>
#include <utility>

namespace quorvel {
namespace {

// Collects values into DecodedValues.
class CollectingSink final : public ValueSink {
 public:
  explicit CollectingSink(DecodedValues& out) : out_(out) {}

  Status value(const DecodedValue& value, std::optional<std::string_view> text) override {
    out_.values.push_back(value);
    if (text) {
      out_.values.back().text = static_cast<std::uint32_t>(out_.texts.size());
      out_.texts.emplace_back(*text);
    }
    return {};
  }

  Status column(std::span<const DecodedValue> column, std::span<const std::string> texts) override {
    const auto first_text = static_cast<std::uint32_t>(out_.texts.size());
    out_.texts.insert(out_.texts.end(), texts.begin(), texts.end());
    DecodedValue* stored = out_.values.append_uninitialized(column.size());
    for (std::size_t k = 0; k < column.size(); ++k) {
      stored[k] = column[k];
      if (stored[k].text != DecodedValue::kNoText) {
        stored[k].text += first_text;
      }
    }
    return {};
  }

 private:
  DecodedValues& out_;
};

}  // namespace

std::optional<std::string> decode_text(std::string_view octets) {
  const bool all_ones = std::all_of(octets.begin(), octets.end(), [](char octet) {
    return static_cast<unsigned char>(octet) == 0xFF;
  });
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

Status decode_message_values(const BufrMessage& message,
                             std::span<const std::uint8_t> message_bytes, const TableSet& tables,
                             ValueSink& sink, const DecodeLimits& limits) {
  const auto data =
      message_bytes.subspan(message.section4_data_offset, message.section4_data_length);
  if (message.compressed_data) {
    return decode_compressed(message.unexpanded_descriptors, message.number_of_subsets, tables,
                             data, sink, limits);
  }
  return decode_uncompressed(message.unexpanded_descriptors, message.number_of_subsets, tables,
                             data, sink, limits);
}

Expected<DecodedValues> decode_uncompressed(std::span<const std::uint32_t> descriptors,
                                            std::uint32_t subsets, const TableSet& tables,
                                            std::span<const std::uint8_t> data,
                                            const DecodeLimits& limits) {
  DecodedValues out;
  CollectingSink sink(out);
  QV_TRY(decode_uncompressed(descriptors, subsets, tables, data, sink, limits));
  return out;
}

Expected<DecodedValues> decode_compressed(std::span<const std::uint32_t> descriptors,
                                          std::uint32_t subsets, const TableSet& tables,
                                          std::span<const std::uint8_t> data,
                                          const DecodeLimits& limits) {
  DecodedValues out;
  out.by_column = true;
  out.subsets = subsets;
  CollectingSink sink(out);
  QV_TRY(decode_compressed(descriptors, subsets, tables, data, sink, limits));
  return out;
}

Expected<DecodedValues> decode_message_values(const BufrMessage& message,
                                              std::span<const std::uint8_t> message_bytes,
                                              const TableSet& tables, const DecodeLimits& limits) {
  DecodedValues out;
  out.by_column = message.compressed_data;
  out.subsets = message.number_of_subsets;
  CollectingSink sink(out);
  QV_TRY(decode_message_values(message, message_bytes, tables, sink, limits));
  return out;
}

}  // namespace quorvel
