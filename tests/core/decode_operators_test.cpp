// The operators that put data of their own in section 4 or take it away:
// new reference values (2-03), inserted characters (2-05), elements the
// tables lack read with the width 2-06 gives (2-06), data not present
// (2-21), and the data repetition of 0-31-011, each in both layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/decode_tables.hpp"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Codes = std::vector<std::uint32_t>;
using Lines = std::vector<std::string>;
using Octets = std::vector<std::uint8_t>;

struct Case {
  std::string name;
  Codes codes;
  // One uncompressed subset, and two compressed subsets.
  Octets uncompressed;
  Lines uncompressed_expected;
  Octets compressed;
  Lines compressed_expected;
};

const Element kRepetition{31011, "DELAYED DESCRIPTOR AND DATA REPETITION FACTOR", 8};

TableSet tables() { return decode_tables({}, {kRepetition}); }

class OperatorTest : public ::testing::TestWithParam<Case> {};

TEST_P(OperatorTest, Uncompressed) {
  const Case& c = GetParam();
  EXPECT_EQ(decode_lines(c.codes, c.uncompressed, 1, false, tables()), c.uncompressed_expected);
}

TEST_P(OperatorTest, Compressed) {
  const Case& c = GetParam();
  EXPECT_EQ(decode_lines(c.codes, c.compressed, 2, true, tables()), c.compressed_expected);
}

// A sign bit, then the magnitude.
constexpr std::uint64_t negative(std::uint64_t magnitude, unsigned width) {
  return (std::uint64_t{1} << (width - 1)) | magnitude;
}

std::string unknown(std::uint32_t code, std::optional<std::uint64_t> raw,
                    std::optional<double> value) {
  return line(code, kUnknownElementName, raw, value, std::nullopt, std::nullopt);
}

std::string inserted(std::uint32_t code, std::string_view text, double ordinal) {
  return line(code, kInsertedTextName, std::nullopt, ordinal, text, std::nullopt);
}

std::string absent(const Element& e) {
  return line(e.code, e.name, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
}

const Element kBlockFrom5 = kBlock.with(7, 0, 5);
const Element kTemperatureFrom1000 = kTemperature.with(16, 2, -1000);

std::vector<Case> cases() {
  return {
      // The definitions carry no values; the references hold until 2-03-000,
      // and 2-07 does not multiply a sent reference.
      {"2_03_new_references",
       {203012, 12101, 1001, 203255, 12101, 1001, 207001, 12101, 207000, 203000, 12101},
       Bits{}(negative(1000, 12), 12)(5, 12)(28000, 16)(3, 7)(280000, 20)(27315, 16).take(),
       {numeric(kTemperatureFrom1000, 28000), numeric(kBlockFrom5, 3),
        numeric(kTemperature.with(20, 3, -1000), 280000), numeric(kTemperature, 27315)},
       // Sent once for all subsets, without an increment width.
       Bits{}(negative(1000, 12), 12)(5, 12)
           .column(28000, 16, 1, {0, 1})
           .column(3, 7)
           .column(280000, 20)
           .column(27315, 16)
           .take(),
       {entry(kTemperatureFrom1000, 28000), entry(kBlockFrom5, 3),
        entry(kTemperature.with(20, 3, -1000), 280000), entry(kTemperature, 27315),
        entry(kTemperatureFrom1000, 28000, 1, 1), entry(kBlockFrom5, 3),
        entry(kTemperature.with(20, 3, -1000), 280000), entry(kTemperature, 27315)}},
      // 2-08 does not change the width 2-05 gives; the text counter counts them.
      {"2_05_inserted_characters",
       {208001, 205002, 1001, 1015},
       Bits{}("AB")(5, 7)("STATION ").take(),
       {inserted(205002, "AB", 1002), numeric(kBlock, 5), text(kName, "S", 2001)},
       Bits{}("AB")(2, 6)("CD")("EF").column(5, 7)("S")(0, 6).take(),
       {inserted(205002, "CD", 1002), entry(kBlock, 5), text(kName, "S", 3001),
        inserted(205002, "EF", 2002), entry(kBlock, 5), text(kName, "S", 4001)}},
      // Unscaled and without a meaning, all ones missing; beyond 64 bits
      // only stepped over. 2-06 before a known element keeps changing its width.
      {"2_06_unknown_elements",
       {206005, 48192, 206005, 48193, 206070, 48194, 206009, 1001},
       Bits{}(21, 5)(31, 5)(0, 64)(0, 6)(300, 9).take(),
       {unknown(48192, 21, 21.0), unknown(48193, 31, std::nullopt),
        unknown(48194, std::nullopt, std::nullopt), numeric(kBlock.with_width(9), 300)},
       Bits{}.column(21, 5, 2, {0, 1}).column(31, 5)(0, 64)(0, 6)(2, 6)(0, 4).column(300, 9).take(),
       {unknown(48192, 21, 21.0), unknown(48193, 31, std::nullopt),
        unknown(48194, std::nullopt, std::nullopt), entry(kBlock.with_width(9), 300),
        unknown(48192, 22, 22.0), unknown(48193, 31, std::nullopt),
        unknown(48194, std::nullopt, std::nullopt), entry(kBlock.with_width(9), 300)}},
      // The next three elements carry no data, except those of classes 1 to 9 and 31.
      {"2_21_data_not_present",
       {221003, 12101, 1001, 12101, 12101},
       Bits{}(5, 7)(28000, 16).take(),
       {absent(kTemperature), numeric(kBlock, 5), absent(kTemperature),
        numeric(kTemperature, 28000)},
       Bits{}.column(5, 7).column(28000, 16).take(),
       {absent(kTemperature), entry(kBlock, 5), absent(kTemperature), entry(kTemperature, 28000),
        absent(kTemperature), entry(kBlock, 5), absent(kTemperature), entry(kTemperature, 28000)}},
      // The group's data are sent once and stand for every repetition.
      {"0_31_011_data_repetition",
       {102000, 31011, 1001, 1002, 1001},
       Bits{}(3, 8)(5, 7)(10, 10)(6, 7).take(),
       {numeric(kRepetition, 3), numeric(kBlock, 5), numeric(kStation, 10), numeric(kBlock, 5),
        numeric(kStation, 10), numeric(kBlock, 5), numeric(kStation, 10), numeric(kBlock, 6)},
       Bits{}.column(3, 8).column(5, 7, 2, {0, 1}).column(10, 10).column(6, 7).take(),
       {entry(kRepetition, 3), entry(kBlock, 5), entry(kStation, 10), entry(kBlock, 5),
        entry(kStation, 10), entry(kBlock, 5), entry(kStation, 10), entry(kBlock, 6),
        entry(kRepetition, 3), entry(kBlock, 6), entry(kStation, 10), entry(kBlock, 6),
        entry(kStation, 10), entry(kBlock, 6), entry(kStation, 10), entry(kBlock, 6)}},
  };
}

INSTANTIATE_TEST_SUITE_P(Operators, OperatorTest, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return param.param.name;
                         });

struct Refused {
  Codes codes;
  std::string message;
};

class RefusedOperatorTest : public ::testing::TestWithParam<std::tuple<Refused, bool>> {};

TEST_P(RefusedOperatorTest, NamesTheOperator) {
  const auto& [refused, compressed] = GetParam();
  EXPECT_EQ(decode_lines(refused.codes, Bits{}(5, 7)(0, 64).take(), 1, compressed, decode_tables()),
            Lines{failure(refused.message)});
}

INSTANTIATE_TEST_SUITE_P(
    Operators, RefusedOperatorTest,
    ::testing::Combine(
        ::testing::Values(
            Refused{{209032, 1001},
                    "csv/table parse error: operator 209032 changes the layout of section 4 and is "
                    "not supported"},
            Refused{
                {203065, 1001},
                "csv/table parse error: operator 203065 sends reference values wider than 64 bits"},
            Refused{{1001, 206008, 48192, 48193}, "descriptor 048193 was not found in Table B"}),
        ::testing::Bool()));

}  // namespace
}  // namespace quorvel
