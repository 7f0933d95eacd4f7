// DecodedValue: one value of section 4 as the decoders produce it, and
// DecodedValues, the flat result of decoding one message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

inline constexpr std::string_view kAssociatedFieldName = "associatedField";
inline constexpr std::string_view kOperatorName = "operator";

struct DecodedValue {
  static constexpr std::uint32_t kNoText = UINT32_MAX;

  std::uint64_t raw = 0;     // meaningful when has_raw
  double raw_value = 0.0;    // meaningful when has_raw_value
  // Borrowed from the TableSet used for the decode (or one of the names
  // above): valid while that TableSet lives.
  std::string_view name;
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

// The values of one message in decoding order. Texts are kept once in
// `texts`; several values may share one (a compressed text column whose
// subsets all hold the same characters).
struct DecodedValues {
  std::vector<DecodedValue> values;
  std::vector<std::string> texts;

  std::optional<std::string_view> text_of(const DecodedValue& value) const {
    if (value.text == DecodedValue::kNoText) {
      return std::nullopt;
    }
    return std::string_view(texts[value.text]);
  }
};

}  // namespace quorvel
