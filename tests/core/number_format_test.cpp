#include "core/base/number_format.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvel {
namespace {

struct FormatCase {
  std::string_view name;
  double value;
  std::string_view expected;
};

class FormatShortestTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatShortestTest, WritesShortestRoundTripText) {
  EXPECT_EQ(format_shortest(GetParam().value), GetParam().expected);
}

// Every text reads back as the same double (any NaN as a NaN).
TEST_P(FormatShortestTest, ReadsBack) {
  const double value = GetParam().value;
  const std::string text = format_shortest(value);
  double parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  EXPECT_EQ(error, std::errc{}) << text;
  EXPECT_EQ(end, text.data() + text.size()) << text;
  if (std::isnan(value)) {
    EXPECT_TRUE(std::isnan(parsed)) << text;
    return;
  }
  EXPECT_EQ(std::signbit(parsed), std::signbit(value)) << text;
  EXPECT_EQ(parsed, value) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FormatShortestTest,
    testing::Values(
        FormatCase{"Zero", 0.0, "0.0"}, FormatCase{"NegativeZero", -0.0, "-0.0"},
        FormatCase{"Integral", 25.0, "25.0"}, FormatCase{"NegativeIntegral", -7.0, "-7.0"},
        FormatCase{"IntegralTrailingZeros", 27300.0, "27300.0"}, FormatCase{"Half", -0.5, "-0.5"},
        FormatCase{"Fraction", 273.15, "273.15"}, FormatCase{"NotExactlyRepresentable", 0.1, "0.1"},
        FormatCase{"SumOfTenths", 0.1 + 0.2, "0.30000000000000004"},
        FormatCase{"LargestPositional", 9999999999999998.0, "9999999999999998.0"},
        FormatCase{"PowerBelowSwitch", 1e15, "1000000000000000.0"},
        FormatCase{"SwitchUp", 1e16, "1e16"}, FormatCase{"NegativeSwitchUp", -1e16, "-1e16"},
        FormatCase{"ScientificWithFraction", 1.5e300, "1.5e300"},
        FormatCase{"Largest", std::numeric_limits<double>::max(), "1.7976931348623157e308"},
        FormatCase{"SmallestPositional", 1e-4, "0.0001"},
        FormatCase{"LeadingZerosInFraction", 0.00123, "0.00123"},
        FormatCase{"JustBelowSwitchDown", 9.999999999999999e-5, "9.999999999999999e-5"},
        FormatCase{"SwitchDown", 2.5e-5, "2.5e-5"},
        FormatCase{"SmallestNormal", std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
        FormatCase{"Subnormal", 1e-310, "1e-310"},
        FormatCase{"SmallestSubnormal", std::numeric_limits<double>::denorm_min(), "5e-324"},
        FormatCase{"NaN", std::numeric_limits<double>::quiet_NaN(), "NaN"},
        FormatCase{"Infinity", std::numeric_limits<double>::infinity(), "inf"},
        FormatCase{"NegativeInfinity", -std::numeric_limits<double>::infinity(), "-inf"}),
    [](const testing::TestParamInfo<FormatCase>& case_info) {
      return std::string(case_info.param.name);
    });

}  // namespace
}  // namespace quorvel
