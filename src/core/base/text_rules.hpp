// Text rules shared by every table reader: UTF-8 decoding, the Unicode
// White_Space and printable properties, trimming, the integer rule for table
// fields and descriptor codes. Results that are views borrow from the input.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <tl/expected.hpp>
#include <type_traits>

#include "core/base/bufr_error.hpp"

namespace quorvel {

// One step of UTF-8 decoding. A valid sequence gives its code point and byte
// count. An invalid one gives valid = false and the length of its maximal
// subpart (at least 1): the bytes that began a well-formed sequence before it
// broke off, which is the span to replace or skip before decoding again.
struct Utf8Step {
  char32_t code_point = 0;
  std::size_t length = 0;
  bool valid = false;
};

// Decodes the sequence that starts at text[pos]; `pos` must be < text.size().
// Overlong forms, surrogates and values above U+10FFFF are invalid.
Utf8Step decode_utf8(std::string_view text, std::size_t pos);

// The length of the longest prefix of `text` that is valid UTF-8; equal to
// text.size() when the whole text is valid.
std::size_t utf8_valid_up_to(std::string_view text);

// White_Space within ASCII: TAB..CR and the space. Table text is nearly all
// ASCII, so callers test a byte below 0x80 with this before decoding.
constexpr bool is_ascii_white_space(char32_t code_point) {
  return code_point == ' ' || (code_point >= '\t' && code_point <= '\r');
}

// Unicode White_Space (U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000). U+FEFF is not.
bool is_white_space(char32_t code_point);

// False for the general categories Cc, Cf, Cs, Co, Cn, Zl, Zp, Zs (the space
// U+0020 excepted) and for Grapheme_Extend; true for everything else.
bool is_printable(char32_t code_point);

// The Unicode version the property tables were generated from, e.g. "15.0.0".
std::string_view unicode_tables_version();

// `text` without White_Space code points at either end. Trimming stops at the
// first byte that does not start a valid UTF-8 sequence.
std::string_view trim_white_space(std::string_view text);

// `text` without every '"' at both ends.
std::string_view strip_quotes(std::string_view text);

// The integer rule for table fields: the whole text, untrimmed, is an optional
// '+' (or, for signed T, '-') followed by one or more ASCII decimal digits.
// Characters are taken left to right and the first problem met decides: an
// empty text is Empty; a sign alone or any non-digit is InvalidDigit; a value
// that passes T's maximum or minimum as the digits accumulate is TooLarge or
// TooSmall. So "99999999999999999999x" as u64 is TooLarge (the overflow comes
// before the 'x') and "9x9999999999999999999" is InvalidDigit.
template <std::integral T>
[[nodiscard]] constexpr tl::expected<T, IntegerFault> parse_integer(std::string_view text) {
  static_assert(!std::is_same_v<T, bool>, "bool is not a table integer");
  if (text.empty()) {
    return tl::unexpected(IntegerFault::Empty);
  }
  bool negative = false;
  std::size_t pos = 0;
  if (text[0] == '+') {
    pos = 1;
  } else if (std::is_signed_v<T> && text[0] == '-') {
    negative = true;
    pos = 1;
  }
  if (pos == text.size()) {
    return tl::unexpected(IntegerFault::InvalidDigit);
  }
  // Negative values accumulate downwards so that the minimum, whose magnitude
  // exceeds the maximum, is reachable. Each step is checked before it is
  // taken, against the bound split into its leading digits and its last one:
  // value * 10 + d <= max  <=>  value < max / 10, or value == max / 10 and
  // d <= max % 10; the same for the minimum, whose / and % round towards zero.
  constexpr T kMaxLead = std::numeric_limits<T>::max() / 10;
  constexpr T kMaxLast = std::numeric_limits<T>::max() % 10;
  T value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') {
      return tl::unexpected(IntegerFault::InvalidDigit);
    }
    const auto digit = static_cast<T>(c - '0');
    if constexpr (std::is_signed_v<T>) {
      if (negative) {
        constexpr T kMinLead = std::numeric_limits<T>::min() / 10;
        constexpr T kMinLast = -(std::numeric_limits<T>::min() % 10);
        if (value < kMinLead || (value == kMinLead && digit > kMinLast)) {
          return tl::unexpected(IntegerFault::TooSmall);
        }
        value = static_cast<T>(value * 10 - digit);
        continue;
      }
    }
    if (value > kMaxLead || (value == kMaxLead && digit > kMaxLast)) {
      return tl::unexpected(IntegerFault::TooLarge);
    }
    value = static_cast<T>(value * 10 + digit);
  }
  return value;
}

// A descriptor code FXXYYY from a table text: White_Space trimmed at both
// ends, then every '"' at the start and at the end removed, then the integer
// rule for unsigned 32 bits. F, X and Y are not range-checked. Fails with
// bad_descriptor_code showing `text` as given.
Expected<std::uint32_t> parse_descriptor_code(std::string_view text);

// Table fields by the integer rule, untrimmed; each fails with its own
// message (bad_i32, bad_i64, bad_u16, bad_code_table_key) showing `text`.
Expected<std::int32_t> parse_i32_field(std::string_view text);
Expected<std::int64_t> parse_i64_field(std::string_view text);
Expected<std::uint16_t> parse_u16_field(std::string_view text);
Expected<std::uint64_t> parse_code_table_key(std::string_view text);

}  // namespace quorvel
