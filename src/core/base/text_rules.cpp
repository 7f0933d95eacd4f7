#include "core/base/text_rules.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace quorvel {
namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;  // inclusive
};

#include "core/base/unicode_tables.inc"

template <std::size_t N>
bool in_ranges(const CodePointRange (&ranges)[N], char32_t code_point) {
  // The first range whose end is not below the code point is the only one
  // that can hold it.
  const auto* it = std::lower_bound(
      std::begin(ranges), std::end(ranges), code_point,
      [](const CodePointRange& range, char32_t value) { return range.last < value; });
  return it != std::end(ranges) && it->first <= code_point;
}

constexpr bool is_continuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// Lead byte lengths and the allowed range of the second byte, which is where
// overlong forms (E0, F0), surrogates (ED) and values past U+10FFFF (F4) are
// refused; later bytes only need to be continuation bytes.
struct LeadInfo {
  std::size_t length;
  unsigned char second_min;
  unsigned char second_max;
};

constexpr LeadInfo lead_info(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {2, 0x80, 0xBF};
  }
  if (lead == 0xE0) {
    return {3, 0xA0, 0xBF};
  }
  if (lead == 0xED) {
    return {3, 0x80, 0x9F};
  }
  if (lead >= 0xE1 && lead <= 0xEF) {
    return {3, 0x80, 0xBF};
  }
  if (lead == 0xF0) {
    return {4, 0x90, 0xBF};
  }
  if (lead >= 0xF1 && lead <= 0xF3) {
    return {4, 0x80, 0xBF};
  }
  if (lead == 0xF4) {
    return {4, 0x80, 0x8F};
  }
  return {0, 0, 0};  // 80..C1 and F5..FF never start a sequence
}

bool is_white_space_at_end(std::string_view text, std::size_t& length) {
  // Step back over at most three continuation bytes to the lead byte, then
  // decode forwards: the sequence must end exactly at the end of the text.
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 &&
         is_continuation(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  const Utf8Step step = decode_utf8(text, start);
  if (!step.valid || start + step.length != text.size() || !is_white_space(step.code_point)) {
    return false;
  }
  length = step.length;
  return true;
}

}  // namespace

Utf8Step decode_utf8(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    return {lead, 1, true};
  }
  const LeadInfo info = lead_info(lead);
  if (info.length == 0) {
    return {0, 1, false};
  }
  const std::size_t available = text.size() - pos;
  char32_t value = lead & (0xFFU >> (info.length + 1));
  for (std::size_t i = 1; i < info.length; ++i) {
    if (i == available) {
      return {0, i, false};
    }
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    const bool fits =
        i == 1 ? (byte >= info.second_min && byte <= info.second_max) : is_continuation(byte);
    if (!fits) {
      return {0, i, false};
    }
    value = (value << 6) | (byte & 0x3FU);
  }
  return {value, info.length, true};
}

std::size_t utf8_valid_up_to(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Most table text is ASCII: check eight bytes at a time for a high bit.
    while (text.size() - pos >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + pos, sizeof word);
      if ((word & 0x8080808080808080ULL) != 0) {
        break;
      }
      pos += 8;
    }
    if (pos == text.size()) {
      break;
    }
    const Utf8Step step = decode_utf8(text, pos);
    if (!step.valid) {
      return pos;
    }
    pos += step.length;
  }
  return pos;
}

bool is_white_space(char32_t code_point) {
  if (code_point < 0x80) {
    return is_ascii_white_space(code_point);
  }
  return in_ranges(kWhiteSpaceRanges, code_point);
}

bool is_printable(char32_t code_point) {
  // Printable ASCII is by far the most common case.
  if (code_point >= 0x20 && code_point < 0x7F) {
    return true;
  }
  return !in_ranges(kNotPrintableRanges, code_point);
}

std::string_view unicode_tables_version() { return kUnicodeVersion; }

std::string_view trim_white_space(std::string_view text) {
  // Table text is nearly all ASCII, and an ASCII byte at either end is a whole
  // character that needs no decoding.
  while (!text.empty()) {
    const auto first = static_cast<unsigned char>(text.front());
    std::size_t length = 1;
    if (first < 0x80) {
      if (!is_ascii_white_space(first)) {
        break;
      }
    } else {
      const Utf8Step step = decode_utf8(text, 0);
      if (!step.valid || !is_white_space(step.code_point)) {
        break;
      }
      length = step.length;
    }
    text.remove_prefix(length);
  }
  while (!text.empty()) {
    const auto last = static_cast<unsigned char>(text.back());
    std::size_t length = 1;
    if (last < 0x80) {
      if (!is_ascii_white_space(last)) {
        break;
      }
    } else if (!is_white_space_at_end(text, length)) {
      break;
    }
    text.remove_suffix(length);
  }
  return text;
}

std::string_view strip_quotes(std::string_view text) {
  while (!text.empty() && text.front() == '"') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == '"') {
    text.remove_suffix(1);
  }
  return text;
}

Expected<std::uint32_t> parse_descriptor_code(std::string_view text) {
  // Nearly every code is written as six digits, which need no trimming and
  // cannot overflow: up to nine digits fit in 32 bits.
  if (!text.empty() && text.size() <= 9 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    std::uint32_t value = 0;
    for (const char c : text) {
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
  }
  const std::string_view code = strip_quotes(trim_white_space(text));
  const auto value = parse_integer<std::uint32_t>(code);
  if (!value) {
    return BufrError::bad_descriptor_code(text, value.error());
  }
  return *value;
}

Expected<std::int32_t> parse_i32_field(std::string_view text) {
  const auto value = parse_integer<std::int32_t>(text);
  if (!value) {
    return BufrError::bad_i32(text, value.error());
  }
  return *value;
}

Expected<std::int64_t> parse_i64_field(std::string_view text) {
  const auto value = parse_integer<std::int64_t>(text);
  if (!value) {
    return BufrError::bad_i64(text, value.error());
  }
  return *value;
}

Expected<std::uint16_t> parse_u16_field(std::string_view text) {
  const auto value = parse_integer<std::uint16_t>(text);
  if (!value) {
    return BufrError::bad_u16(text, value.error());
  }
  return *value;
}

Expected<std::uint64_t> parse_code_table_key(std::string_view text) {
  const auto value = parse_integer<std::uint64_t>(text);
  if (!value) {
    return BufrError::bad_code_table_key(text, value.error());
  }
  return *value;
}

}  // namespace quorvel
