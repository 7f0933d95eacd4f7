#include "core/base/text_rules.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "core/base/bufr_error.hpp"

namespace quorvel {
namespace {

// Names each instantiated case after its `name` field.
template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param_info) {
  return std::string(param_info.param.name);
}

// ---- The integer rule ------------------------------------------------------

constexpr IntegerFault kEmpty = IntegerFault::Empty;
constexpr IntegerFault kInvalid = IntegerFault::InvalidDigit;
constexpr IntegerFault kLarge = IntegerFault::TooLarge;
constexpr IntegerFault kSmall = IntegerFault::TooSmall;

// One text and what the rule must make of it: a value or a fault.
template <class T>
struct IntegerCase {
  std::string_view text;
  std::optional<T> value;
  IntegerFault fault = kInvalid;  // meaningful when value is empty

  IntegerCase(std::string_view t, T v) : text(t), value(v) {}
  IntegerCase(std::string_view t, IntegerFault f) : text(t), fault(f) {}

  friend void PrintTo(const IntegerCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

template <class T>
void expect_integer_rule(const IntegerCase<T>& c) {
  const auto result = parse_integer<T>(c.text);
  if (c.value) {
    ASSERT_TRUE(result.has_value()) << "fault " << static_cast<int>(result.error());
    EXPECT_EQ(*result, *c.value);
  } else {
    ASSERT_FALSE(result.has_value()) << "value " << +*result;
    EXPECT_EQ(result.error(), c.fault);
  }
}

class U16RuleTest : public testing::TestWithParam<IntegerCase<std::uint16_t>> {};
TEST_P(U16RuleTest, ParsesOrNamesFirstProblem) { expect_integer_rule(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    IntegerRule, U16RuleTest,
    testing::Values(
        IntegerCase<std::uint16_t>{"0", 0}, IntegerCase<std::uint16_t>{"7", 7},
        IntegerCase<std::uint16_t>{"65535", 65535}, IntegerCase<std::uint16_t>{"0065535", 65535},
        IntegerCase<std::uint16_t>{"65536", kLarge}, IntegerCase<std::uint16_t>{"655350", kLarge},
        IntegerCase<std::uint16_t>{"+12", 12}, IntegerCase<std::uint16_t>{"+0", 0},
        IntegerCase<std::uint16_t>{"-0", kInvalid}, IntegerCase<std::uint16_t>{"-3", kInvalid},
        IntegerCase<std::uint16_t>{" 16", kInvalid}, IntegerCase<std::uint16_t>{"16 ", kInvalid},
        IntegerCase<std::uint16_t>{"", kEmpty}, IntegerCase<std::uint16_t>{"+", kInvalid},
        IntegerCase<std::uint16_t>{"-", kInvalid}, IntegerCase<std::uint16_t>{"++1", kInvalid},
        IntegerCase<std::uint16_t>{"1x", kInvalid}, IntegerCase<std::uint16_t>{"1.5", kInvalid},
        IntegerCase<std::uint16_t>{"\xD9\xA1", kInvalid},  // ARABIC-INDIC ONE
        // Left to right: the overflow at the sixth digit comes first.
        IntegerCase<std::uint16_t>{"999999x", kLarge}, IntegerCase<std::uint16_t>{"99999x", kLarge},
        IntegerCase<std::uint16_t>{"9999x9", kInvalid}));

class U32RuleTest : public testing::TestWithParam<IntegerCase<std::uint32_t>> {};
TEST_P(U32RuleTest, ParsesOrNamesFirstProblem) { expect_integer_rule(GetParam()); }
INSTANTIATE_TEST_SUITE_P(IntegerRule, U32RuleTest,
                         testing::Values(IntegerCase<std::uint32_t>{"001001", 1001},
                                         IntegerCase<std::uint32_t>{"4294967295", 4294967295U},
                                         IntegerCase<std::uint32_t>{"4294967296", kLarge},
                                         IntegerCase<std::uint32_t>{"42949672950", kLarge},
                                         IntegerCase<std::uint32_t>{"-1", kInvalid},
                                         IntegerCase<std::uint32_t>{"", kEmpty}));

class U64RuleTest : public testing::TestWithParam<IntegerCase<std::uint64_t>> {};
TEST_P(U64RuleTest, ParsesOrNamesFirstProblem) { expect_integer_rule(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    IntegerRule, U64RuleTest,
    testing::Values(IntegerCase<std::uint64_t>{"0", 0},
                    IntegerCase<std::uint64_t>{"18446744073709551615", 18446744073709551615ULL},
                    IntegerCase<std::uint64_t>{"+18446744073709551615", 18446744073709551615ULL},
                    IntegerCase<std::uint64_t>{"18446744073709551616", kLarge},
                    IntegerCase<std::uint64_t>{"18446744073709551620", kLarge},
                    IntegerCase<std::uint64_t>{"99999999999999999999", kLarge},
                    IntegerCase<std::uint64_t>{"99999999999999999999x", kLarge},
                    IntegerCase<std::uint64_t>{"1x99999999999999999999", kInvalid},
                    IntegerCase<std::uint64_t>{"-0", kInvalid},
                    IntegerCase<std::uint64_t>{"", kEmpty}));

class I32RuleTest : public testing::TestWithParam<IntegerCase<std::int32_t>> {};
TEST_P(I32RuleTest, ParsesOrNamesFirstProblem) { expect_integer_rule(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    IntegerRule, I32RuleTest,
    testing::Values(
        IntegerCase<std::int32_t>{"2147483647", 2147483647},
        IntegerCase<std::int32_t>{"2147483648", kLarge},
        IntegerCase<std::int32_t>{"+2147483648", kLarge},
        IntegerCase<std::int32_t>{"-2147483648", -2147483647 - 1},
        IntegerCase<std::int32_t>{"-2147483649", kSmall},
        IntegerCase<std::int32_t>{"-21474836480", kSmall}, IntegerCase<std::int32_t>{"-3", -3},
        IntegerCase<std::int32_t>{"+12", 12}, IntegerCase<std::int32_t>{"-0", 0},
        IntegerCase<std::int32_t>{"-", kInvalid}, IntegerCase<std::int32_t>{"+", kInvalid},
        IntegerCase<std::int32_t>{"+-3", kInvalid}, IntegerCase<std::int32_t>{"-+3", kInvalid},
        IntegerCase<std::int32_t>{"--1", kInvalid}, IntegerCase<std::int32_t>{"-3 ", kInvalid},
        IntegerCase<std::int32_t>{"", kEmpty}, IntegerCase<std::int32_t>{"-99999999999x", kSmall},
        IntegerCase<std::int32_t>{"-9x9999999999", kInvalid}));

class I64RuleTest : public testing::TestWithParam<IntegerCase<std::int64_t>> {};
TEST_P(I64RuleTest, ParsesOrNamesFirstProblem) { expect_integer_rule(GetParam()); }
INSTANTIATE_TEST_SUITE_P(
    IntegerRule, I64RuleTest,
    testing::Values(IntegerCase<std::int64_t>{"9223372036854775807", 9223372036854775807LL},
                    IntegerCase<std::int64_t>{"9223372036854775808", kLarge},
                    IntegerCase<std::int64_t>{"-9223372036854775808", -9223372036854775807LL - 1},
                    IntegerCase<std::int64_t>{"-9223372036854775809", kSmall},
                    IntegerCase<std::int64_t>{"-00000000000000000000009223372036854775808",
                                              -9223372036854775807LL - 1},
                    IntegerCase<std::int64_t>{"+0", 0}, IntegerCase<std::int64_t>{"-1", -1},
                    IntegerCase<std::int64_t>{"", kEmpty},
                    IntegerCase<std::int64_t>{"1e3", kInvalid}));

// Every one-digit-longer neighbour of each bound overflows, whatever the last
// digit; every value just inside a bound with any last digit parses.
// `prefix` followed by each digit d parses to base + sign * d up to
// `last_good`, and fails with `fault` beyond it.
template <class T>
void sweep_last_digit(const std::string& prefix, std::int64_t base, int sign, int last_good,
                      IntegerFault fault) {
  for (int d = 0; d <= 9; ++d) {
    const std::string text = prefix + std::to_string(d);
    const auto result = parse_integer<T>(text);
    if (d <= last_good) {
      ASSERT_TRUE(result.has_value()) << text;
      EXPECT_EQ(static_cast<std::int64_t>(*result), base + sign * d) << text;
    } else {
      ASSERT_FALSE(result.has_value()) << text;
      EXPECT_EQ(result.error(), fault) << text;
    }
  }
}

TEST(IntegerRuleBoundsTest, LastDigitSweeps) {
  sweep_last_digit<std::uint16_t>("6553", 65530, 1, 5, kLarge);
  sweep_last_digit<std::int32_t>("-214748364", -2147483640LL, -1, 8, kSmall);
}

// ---- Field helpers and their messages -------------------------------------

struct FieldCase {
  std::string_view name;
  std::function<Expected<std::int64_t>(std::string_view)> parse;
  std::string_view text;
  std::optional<std::int64_t> value;
  std::string_view message;  // when value is empty
};

template <class F>
std::function<Expected<std::int64_t>(std::string_view)> widen(F f) {
  return [f](std::string_view text) -> Expected<std::int64_t> {
    auto result = f(text);
    if (!result) {
      return std::move(result).error();
    }
    return static_cast<std::int64_t>(*result);
  };
}

class FieldHelperTest : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldHelperTest, ParsesOrReportsWithQuotedText) {
  const FieldCase& c = GetParam();
  const auto result = c.parse(c.text);
  if (c.value) {
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(*result, *c.value);
    return;
  }
  ASSERT_FALSE(result.has_value()) << *result;
  EXPECT_EQ(result.error().message(), c.message);
}

const auto kI32 = widen(parse_i32_field);
const auto kI64 = widen(parse_i64_field);
const auto kU16 = widen(parse_u16_field);
const auto kKey = [](std::string_view text) -> Expected<std::int64_t> {
  auto result = parse_code_table_key(text);
  if (!result) {
    return std::move(result).error();
  }
  // Keys above INT64_MAX would not fit the shared value type; the cases avoid them.
  return static_cast<std::int64_t>(*result);
};

INSTANTIATE_TEST_SUITE_P(
    Messages, FieldHelperTest,
    testing::Values(
        FieldCase{"I32Negative", kI32, "-3", -3, ""},
        FieldCase{"I32TooLarge", kI32, "2147483648", std::nullopt,
                  "csv/table parse error: bad i32 \"2147483648\": number too large to fit in "
                  "target type"},
        FieldCase{"I32TooSmall", kI32, "-2147483649", std::nullopt,
                  "csv/table parse error: bad i32 \"-2147483649\": number too small to fit in "
                  "target type"},
        FieldCase{"I64Empty", kI64, "", std::nullopt,
                  "csv/table parse error: bad i64 \"\": cannot parse integer from empty string"},
        FieldCase{"I64TabShownEscaped", kI64, "1\t", std::nullopt,
                  "csv/table parse error: bad i64 \"1\\t\": invalid digit found in string"},
        FieldCase{"I64Minimum", kI64, "-9223372036854775808", -9223372036854775807LL - 1, ""},
        FieldCase{"U16Plus", kU16, "+12", 12, ""},
        FieldCase{"U16LeadingSpace", kU16, " 16", std::nullopt,
                  "csv/table parse error: bad u16 \" 16\": invalid digit found in string"},
        FieldCase{"U16MinusZero", kU16, "-0", std::nullopt,
                  "csv/table parse error: bad u16 \"-0\": invalid digit found in string"},
        FieldCase{"U16TooLarge", kU16, "65536", std::nullopt,
                  "csv/table parse error: bad u16 \"65536\": number too large to fit in target "
                  "type"},
        FieldCase{"U16Tab", kU16, "\t1", std::nullopt,
                  "csv/table parse error: bad u16 \"\\t1\": invalid digit found in string"},
        FieldCase{"U16Negative", kU16, "-1", std::nullopt,
                  "csv/table parse error: bad u16 \"-1\": invalid digit found in string"},
        FieldCase{"U16SignOnly", kU16, "+", std::nullopt,
                  "csv/table parse error: bad u16 \"+\": invalid digit found in string"},
        FieldCase{"U16Empty", kU16, "", std::nullopt,
                  "csv/table parse error: bad u16 \"\": cannot parse integer from empty string"},
        FieldCase{"I32Fraction", kI32, "1.5", std::nullopt,
                  "csv/table parse error: bad i32 \"1.5\": invalid digit found in string"},
        FieldCase{"I32SignOnly", kI32, "-", std::nullopt,
                  "csv/table parse error: bad i32 \"-\": invalid digit found in string"},
        FieldCase{"I32TwoSigns", kI32, "+-1", std::nullopt,
                  "csv/table parse error: bad i32 \"+-1\": invalid digit found in string"},
        FieldCase{"I64TooLarge", kI64, "9223372036854775808", std::nullopt,
                  "csv/table parse error: bad i64 \"9223372036854775808\": number too large to "
                  "fit in target type"},
        FieldCase{"I64TooSmall", kI64, "-9223372036854775809", std::nullopt,
                  "csv/table parse error: bad i64 \"-9223372036854775809\": number too small to "
                  "fit in target type"},
        FieldCase{"I64Hexadecimal", kI64, "0x10", std::nullopt,
                  "csv/table parse error: bad i64 \"0x10\": invalid digit found in string"},
        FieldCase{"I64TrailingSpace", kI64, "1 ", std::nullopt,
                  "csv/table parse error: bad i64 \"1 \": invalid digit found in string"},
        FieldCase{"KeyValue", kKey, "2", 2, ""},
        FieldCase{"KeyWord", kKey, "x", std::nullopt,
                  "csv/table parse error: bad code table key \"x\": invalid digit found in "
                  "string"},
        FieldCase{"KeyNoBreakSpaceEscaped", kKey, "1\u00A0", std::nullopt,
                  "csv/table parse error: bad code table key \"1\\u{a0}\": invalid digit found "
                  "in string"}),
    case_name<FieldCase>);

TEST(CodeTableKeyTest, TakesWholeU64Range) {
  const auto max = parse_code_table_key("18446744073709551615");
  ASSERT_TRUE(max.has_value());
  EXPECT_EQ(*max, 18446744073709551615ULL);
  const auto over = parse_code_table_key("18446744073709551616");
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().message(),
            "csv/table parse error: bad code table key \"18446744073709551616\": number too large "
            "to fit in target type");
}

// ---- parse_descriptor_code -------------------------------------------------

struct CodeCase {
  std::string_view name;
  std::string_view text;
  std::optional<std::uint32_t> code;
  std::string_view message;  // when code is empty
};

class DescriptorCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(DescriptorCodeTest, TrimsStripsQuotesAndParses) {
  const CodeCase& c = GetParam();
  const auto result = parse_descriptor_code(c.text);
  if (c.code) {
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(*result, *c.code);
    return;
  }
  ASSERT_FALSE(result.has_value()) << *result;
  EXPECT_EQ(result.error().message(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DescriptorCodeTest,
    testing::Values(
        CodeCase{"Plain", "001001", 1001, ""}, CodeCase{"SixDigits", "300002", 300002, ""},
        CodeCase{"LeadingSpace", " 012101", 12101, ""},
        CodeCase{"AsciiWhiteSpaceBothEnds", "\t 001001 \r\n", 1001, ""},
        CodeCase{"Quoted", "\"300002\"", 300002, ""},
        CodeCase{"QuotesRepeated", "\"\"001001\"\"\"", 1001, ""},
        CodeCase{"QuotesInsideWhiteSpace", " \"001001\" ", 1001, ""},
        CodeCase{"UnicodeWhiteSpace", "\u00A0\u3000001001\u2028\u0085", 1001, ""},
        CodeCase{"NoRangeCheckOnFxy", "999999", 999999, ""},
        CodeCase{"U32Maximum", "4294967295", 4294967295U, ""},
        CodeCase{"WhiteSpaceInsideQuotesStays", "\" 1\"", std::nullopt,
                 "csv/table parse error: bad descriptor code \"\\\" 1\\\"\": invalid digit found "
                 "in string"},
        CodeCase{"ByteOrderMarkIsNotWhiteSpace", "\uFEFF001001", std::nullopt,
                 "csv/table parse error: bad descriptor code \"\\u{feff}001001\": invalid digit "
                 "found in string"},
        CodeCase{"ZeroWidthSpaceIsNotWhiteSpace", "001001\u200B", std::nullopt,
                 "csv/table parse error: bad descriptor code \"001001\\u{200b}\": invalid digit "
                 "found in string"},
        CodeCase{"LetterInCode", "30000x", std::nullopt,
                 "csv/table parse error: bad descriptor code \"30000x\": invalid digit found in "
                 "string"},
        CodeCase{"InnerSpace", "1 2", std::nullopt,
                 "csv/table parse error: bad descriptor code \"1 2\": invalid digit found in "
                 "string"},
        CodeCase{"Negative", "-1", std::nullopt,
                 "csv/table parse error: bad descriptor code \"-1\": invalid digit found in "
                 "string"},
        CodeCase{"Empty", "", std::nullopt,
                 "csv/table parse error: bad descriptor code \"\": cannot parse integer from "
                 "empty string"},
        CodeCase{"OnlyAsciiWhiteSpace", " \t", std::nullopt,
                 "csv/table parse error: bad descriptor code \" \\t\": cannot parse integer "
                 "from empty string"},
        CodeCase{"NoBreakSpacesAroundLetter", "\u00A0x\u00A0", std::nullopt,
                 "csv/table parse error: bad descriptor code \"\\u{a0}x\\u{a0}\": invalid "
                 "digit found in string"},
        CodeCase{"SpaceInsideDigits", "0 01001", std::nullopt,
                 "csv/table parse error: bad descriptor code \"0 01001\": invalid digit found in "
                 "string"},
        CodeCase{"OnlyQuotes", "\"\"", std::nullopt,
                 "csv/table parse error: bad descriptor code \"\\\"\\\"\": cannot parse integer "
                 "from empty string"},
        CodeCase{"OnlyWhiteSpaceShownUntrimmed", " \u00A0", std::nullopt,
                 "csv/table parse error: bad descriptor code \" \\u{a0}\": cannot parse integer "
                 "from empty string"},
        CodeCase{"TooLarge", " 4294967296", std::nullopt,
                 "csv/table parse error: bad descriptor code \" 4294967296\": number too large to "
                 "fit in target type"}),
    case_name<CodeCase>);

// ---- White space -----------------------------------------------------------

struct TrimCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

class TrimWhiteSpaceTest : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimWhiteSpaceTest, RemovesWhiteSpaceAtBothEnds) {
  const std::string_view input = GetParam().input;
  const std::string_view trimmed = trim_white_space(input);
  EXPECT_EQ(trimmed, GetParam().expected);
  // The result is a view into the input, not a copy.
  if (!trimmed.empty()) {
    EXPECT_GE(trimmed.data(), input.data());
    EXPECT_LE(trimmed.data() + trimmed.size(), input.data() + input.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Trim, TrimWhiteSpaceTest,
    testing::Values(
        TrimCase{"Empty", "", ""}, TrimCase{"OnlySpaces", "   ", ""},
        TrimCase{"InnerSpaceKept", "  a b  ", "a b"},
        TrimCase{"AsciiControls", "\t\n\v\f\r a\t\n\v\f\r ", "a"},
        TrimCase{"NextLineAndNoBreakSpace", "\u0085a\u00A0", "a"},
        TrimCase{"EveryOtherWhiteSpace",
                 "\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200A"
                 "x\u2028\u2029\u202F\u205F\u3000",
                 "x"},
        TrimCase{"IdeographicSpacesOnly", "\u3000\u3000", ""},
        TrimCase{"ByteOrderMarkKept", "\uFEFFa\uFEFF", "\uFEFFa\uFEFF"},
        TrimCase{"ZeroWidthSpaceKept", "\u200Ba\u200B", "\u200Ba\u200B"},
        TrimCase{"MongolianVowelSeparatorKept", "\u180Ea", "\u180Ea"},
        TrimCase{"InformationSeparatorsKept",
                 "\x1C"
                 "a\x1F",
                 "\x1C"
                 "a\x1F"},
        TrimCase{"NeighbourOfWhiteSpaceKept", "\u200Ba\u200B\u2000", "\u200Ba\u200B"},
        TrimCase{"LoneContinuationStopsFront", " \xA0 a", "\xA0 a"},
        TrimCase{"TruncatedLeadStopsBack", "a\xC2", "a\xC2"},
        TrimCase{"TruncatedSpaceStopsBack", "a \xE3\x80", "a \xE3\x80"},
        TrimCase{"InvalidThenSpaceAtBack", "x\x80\xC2\xA0", "x\x80"},
        TrimCase{"StrayContinuationsBeforeSpace", "x\x80\x80\x80\x80 ", "x\x80\x80\x80\x80"}),
    case_name<TrimCase>);

// Every White_Space code point, and only those, is trimmed. The list is the
// White_Space property as published for Unicode 15.0.
TEST(WhiteSpacePropertyTest, MatchesPublishedList) {
  const auto listed = [](char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
  };
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    ASSERT_EQ(is_white_space(c), listed(c)) << std::hex << static_cast<std::uint32_t>(c);
  }
}

TEST(UnicodeTablesTest, RecordTheirVersion) { EXPECT_EQ(unicode_tables_version(), "15.0.0"); }

// ---- UTF-8 -------------------------------------------------------------------

// How decode_utf8 splits a text: "U+XXXX" per valid sequence, "bad N" per
// maximal subpart of N octets, which the callers (quote, file-name and
// table-text conversion) each replace with one U+FFFD.
struct SubpartCase {
  std::string_view name;
  std::string_view text;
  std::string_view steps;
};

class Utf8SubpartTest : public testing::TestWithParam<SubpartCase> {};

TEST_P(Utf8SubpartTest, SplitsIntoMaximalSubparts) {
  const std::string_view text = GetParam().text;
  std::string steps;
  for (std::size_t pos = 0; pos < text.size();) {
    const Utf8Step step = decode_utf8(text, pos);
    ASSERT_GE(step.length, 1U);
    steps += steps.empty() ? "" : " ";
    steps += step.valid ? fmt::format("U+{:04X}", static_cast<std::uint32_t>(step.code_point))
                        : fmt::format("bad {}", step.length);
    pos += step.length;
  }
  EXPECT_EQ(steps, GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, Utf8SubpartTest,
    testing::Values(SubpartCase{"LoneFF", "\xFF", "bad 1"},
                    SubpartCase{"TwoBadLeads", "\xFF\xFE", "bad 1 bad 1"},
                    SubpartCase{"LoneContinuations", "a\x80\x80z", "U+0061 bad 1 bad 1 U+007A"},
                    SubpartCase{"TruncatedThreeByteAtEnd", "a\xE2\x82", "U+0061 bad 2"},
                    SubpartCase{"TruncatedThenValid", "\xE2\x82\xE2\x82\xAC", "bad 2 U+20AC"},
                    SubpartCase{"TruncatedFourByteIsOne", "\xF0\x9F\x98.", "bad 3 U+002E"},
                    SubpartCase{"LeadThenAscii", "\xC3(", "bad 1 U+0028"},
                    SubpartCase{"OverlongTwoByteIsTwo", "\xC0\xAF", "bad 1 bad 1"},
                    SubpartCase{"OverlongThreeByteIsThree", "\xE0\x80\xAF", "bad 1 bad 1 bad 1"},
                    SubpartCase{"SurrogateIsThree", "\xED\xA0\x80", "bad 1 bad 1 bad 1"},
                    SubpartCase{"AboveMaximumIsFour", "\xF4\x90\x80\x80",
                                "bad 1 bad 1 bad 1 bad 1"},
                    SubpartCase{"ReplacementCharacterIsValid", "\xEF\xBF\xBD", "U+FFFD"},
                    SubpartCase{"LastCodePoint", "\xF4\x8F\xBF\xBF", "U+10FFFF"}),
    case_name<SubpartCase>);

struct Utf8Case {
  std::string_view name;
  std::string_view text;
  std::size_t valid_up_to;
};

class Utf8ValidUpToTest : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ValidUpToTest, FindsEndOfValidPrefix) {
  EXPECT_EQ(utf8_valid_up_to(GetParam().text), GetParam().valid_up_to);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, Utf8ValidUpToTest,
    testing::Values(Utf8Case{"Empty", "", 0}, Utf8Case{"Ascii", "abc", 3},
                    Utf8Case{"AsciiWordThenBad", "abcdefgh\xFF", 8},
                    Utf8Case{"BadInsideSecondWord", "abcdefghij\xFFklmnop", 10},
                    Utf8Case{"TruncatedAfterLongAscii", "abcdefghijk\xC3", 11},
                    Utf8Case{"TwoByte", "\xC3\xA9", 2}, Utf8Case{"ThreeByte", "\xE2\x82\xAC", 3},
                    Utf8Case{"FourByte", "\xF0\x9F\x98\x80", 4},
                    Utf8Case{"LastCodePoint", "\xF4\x8F\xBF\xBF", 4},
                    Utf8Case{"AboveLastCodePoint", "\xF4\x90\x80\x80", 0},
                    Utf8Case{"LeadF5", "\xF5\x80\x80\x80", 0},
                    Utf8Case{"OverlongTwoByte", "\xC1\xBF", 0},
                    Utf8Case{"OverlongThreeByte", "ab\xE0\x9F\xBF", 2},
                    Utf8Case{"SmallestThreeByte", "\xE0\xA0\x80", 3},
                    Utf8Case{"OverlongFourByte", "\xF0\x8F\xBF\xBF", 0},
                    Utf8Case{"LastBeforeSurrogates", "\xED\x9F\xBF", 3},
                    Utf8Case{"Surrogate", "\xED\xA0\x80", 0},
                    Utf8Case{"LoneContinuation", "a\x80", 1},
                    Utf8Case{"MissingContinuation", "\xC3(", 0},
                    Utf8Case{"NulIsValid", std::string_view("a\0b", 3), 3}),
    case_name<Utf8Case>);

// Every code point encodes and decodes back to itself; surrogates are refused.
TEST(DecodeUtf8Test, RoundTripsEveryCodePoint) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    std::string bytes;
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else if (c < 0x800) {
      bytes += static_cast<char>(0xC0 | (c >> 6));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      bytes += static_cast<char>(0xE0 | (c >> 12));
      bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | (c >> 18));
      bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (c & 0x3F));
    }
    const Utf8Step step = decode_utf8(bytes, 0);
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    ASSERT_EQ(step.valid, !surrogate) << std::hex << static_cast<std::uint32_t>(c);
    if (!surrogate) {
      ASSERT_EQ(step.code_point, c);
      ASSERT_EQ(step.length, bytes.size());
    }
  }
}

}  // namespace
}  // namespace quorvel
