#include "core/base/number_format.hpp"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace quorvel {

std::string format_shortest(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  const std::string_view sign = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    return fmt::format("{}0.0", sign);
  }
  // The shortest round-trip digits as d.ddde±x; 32 octets hold any double.
  char buffer[32];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  const std::string_view scientific(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const std::size_t e = scientific.find('e');
  const std::string_view mantissa = scientific.substr(0, e);
  std::string_view exponent_text = scientific.substr(e + 1);
  // from_chars takes no leading '+'.
  if (exponent_text.front() == '+') {
    exponent_text.remove_prefix(1);
  }
  int exponent = 0;
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  if (magnitude >= 1e16 || magnitude < 1e-4) {
    return fmt::format("{}{}e{}", sign, mantissa, exponent);
  }
  std::string digits;
  for (const char c : mantissa) {
    if (c != '.') {
      digits.push_back(c);
    }
  }
  if (exponent < 0) {
    return fmt::format("{}0.{}{}", sign, std::string(static_cast<std::size_t>(-exponent - 1), '0'),
                       digits);
  }
  const auto integer_digits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integer_digits) {
    return fmt::format("{}{}{}.0", sign, digits, std::string(integer_digits - digits.size(), '0'));
  }
  return fmt::format("{}{}.{}", sign, std::string_view(digits).substr(0, integer_digits),
                     std::string_view(digits).substr(integer_digits));
}

}  // namespace quorvel
