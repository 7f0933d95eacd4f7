// DecodedValue: one value of section 4 as the decoders produce it, and
// DecodedValues, the flat result of decoding one message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/pod_array.hpp"

namespace quorvel {

inline constexpr std::string_view kAssociatedFieldName = "associatedField";
inline constexpr std::string_view kOperatorName = "operator";
// Characters inserted by 2-05-YYY, as ecCodes names them.
inline constexpr std::string_view kInsertedTextName = "text";
// An element the tables lack, read with the width 2-06-YYY gave it.
inline constexpr std::string_view kUnknownElementName = "unknown";

struct DecodedValue {
  static constexpr std::uint32_t kNoText = UINT32_MAX;

  std::uint64_t raw = 0;   // meaningful when has_raw
  double raw_value = 0.0;  // meaningful when has_raw_value
  // Borrowed from the TableSet used for the decode (or one of the names
  // above): valid while that TableSet lives.
  std::string_view name;
  std::string_view unit;     // the Table B unit; empty for the names above
  std::string_view meaning;  // meaningful when has_meaning
  std::uint32_t descriptor = 0;
  std::uint32_t text = kNoText;  // index into DecodedValues::texts
  bool has_raw = false;
  bool has_raw_value = false;
  bool has_meaning = false;

  std::optional<std::uint64_t> raw_or_none() const {
    return has_raw ? std::optional(raw) : std::nullopt;
  }
  std::optional<double> raw_value_or_none() const {
    return has_raw_value ? std::optional(raw_value) : std::nullopt;
  }
  std::optional<std::string_view> meaning_or_none() const {
    return has_meaning ? std::optional(meaning) : std::nullopt;
  }
};

// The values of one message. Uncompressed data is stored in decoding order.
// Compressed data is stored by column: one column per element, holding the
// element's value for each subset in turn, columns in the order read; the
// decoding order is subset by subset across the columns. Texts are kept once
// in `texts`; several values may share one (a compressed text column whose
// subsets all hold the same characters).
struct DecodedValues {
  PodArray<DecodedValue> values;
  bool by_column = false;
  std::size_t subsets = 0;
  std::vector<std::string> texts;

  std::size_t size() const { return values.size(); }
  std::size_t column_count() const {
    return by_column && subsets != 0 ? values.size() / subsets : 0;
  }
  // Value `k` of column `c`; only for values stored by column.
  const DecodedValue& in_column(std::size_t c, std::size_t k) const {
    return values[c * subsets + k];
  }

  // Calls visit(value) for every value in decoding order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    if (!by_column) {
      for (const DecodedValue& value : values) {
        visit(value);
      }
      return;
    }
    const std::size_t columns = column_count();
    for (std::size_t k = 0; k < subsets; ++k) {
      for (std::size_t c = 0; c < columns; ++c) {
        visit(in_column(c, k));
      }
    }
  }

  // The values in decoding order, copied into one list.
  std::vector<DecodedValue> flattened() const {
    std::vector<DecodedValue> all;
    all.reserve(size());
    for_each([&](const DecodedValue& value) { all.push_back(value); });
    return all;
  }

  std::optional<std::string_view> text_of(const DecodedValue& value) const {
    if (value.text == DecodedValue::kNoText) {
      return std::nullopt;
    }
    return std::string_view(texts[value.text]);
  }
};

}  // namespace quorvel
