// The value rules of compressed section-4 data: columns of reference value,
// increment width and increments, their missing values, text columns,
// factors that must agree, bitmaps, the subset-by-subset order and the
// failure texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
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
  Octets data;
  std::uint32_t subsets;
  Lines expected;
  Sequences sequences = {};
};

class CompressedTest : public ::testing::TestWithParam<Case> {};

TEST_P(CompressedTest, Decodes) {
  const Case& c = GetParam();
  const TableSet tables = decode_tables(c.sequences);
  EXPECT_EQ(decode_lines(c.codes, c.data, c.subsets, true, tables), c.expected);
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// Columns given one per subset, laid out subset by subset as decoded.
Lines by_subset(std::initializer_list<Lines> columns) {
  Lines lines;
  const std::size_t subsets = columns.begin()->size();
  for (std::size_t k = 0; k < subsets; ++k) {
    for (const Lines& column : columns) lines.push_back(column[k]);
  }
  return lines;
}

Lines times(std::size_t count, const std::string& value) { return Lines(count, value); }

const std::string kPrefix = "csv/table parse error: ";
const std::string kVarying =
    failure(kPrefix + "compressed delayed replication with varying factors is not implemented");
const Element kT32 = text_element(32);
const Element kS0 = series(0), kS1 = series(1);

std::vector<Case> numeric_cases() {
  std::vector<Case> cases{
      {"worked_temperature",
       {12101},
       Bits{}.column(29815, 16, 4, {0, 15, 3}).take(),
       3,
       {line(12101, kTemperature.name, 29815, 25.0, std::nullopt, std::nullopt),
        line(12101, kTemperature.name, 29815, std::nullopt, std::nullopt, std::nullopt),
        line(12101, kTemperature.name, 29818, 25.03, std::nullopt, std::nullopt)}},
      {"missing_reference_without_increments",
       {12101},
       Bits{}.column(65535, 16).take(),
       3,
       times(3, line(12101, kTemperature.name, 65535, std::nullopt, std::nullopt, std::nullopt))},
      {"missing_reference_with_increments",
       {1001},
       Bits{}.column(127, 7, 2, {0, 1, 3}).take(),
       3,
       times(3, line(1001, kBlock.name, 127, std::nullopt, std::nullopt, std::nullopt))},
      {"subsets_one_after_another",
       {1001, 1002},
       Bits{}.column(1, 7, 2, {0, 1}).column(10, 10, 2, {1, 2}).take(),
       2,
       {entry(kBlock, 1), entry(kStation, 11), entry(kBlock, 2), entry(kStation, 12)}},
      {"operators_apply_to_every_subset",
       {201130, 1001, 201000, 1002},
       Bits{}.column(300, 9, 2, {0, 2}).column(10, 10, 2, {0, 1}).take(),
       2,
       {entry(kBlock.with_width(9), 300), entry(kStation, 10), entry(kBlock.with_width(9), 302),
        entry(kStation, 11)}},
      {"2_07",
       {207002, 12101},
       Bits{}.column(2981500, 23, 1, {0, 1}).take(),
       2,
       {line(12101, kTemperature.name, 2981500, 25.0, std::nullopt, std::nullopt),
        entry(kTemperature.with(23, 4, -2731500), 2981500, 1, 1)}},
      {"associated_columns_are_never_missing",
       {204004, 1001, 31031},
       Bits{}.column(15, 4, 1, {0, 1}).column(3, 7).column(1, 1).take(),
       2,
       {associated(15), entry(kBlock, 3), entry(kPresent, 1), associated(16), entry(kBlock, 3),
        entry(kPresent, 1)}},
  };
  struct Column {
    Element element;
    std::uint64_t r0;
    unsigned nbinc;
    std::vector<std::uint64_t> increments;
  };
  const std::vector<Column> columns{
      {kFactor, 255, 0, {0, 0}},
      {kFactor, 255, 2, {0, 3}},
      {kPresent, 1, 1, {1, 0}},
      {kBlock, 5, 0, {0, 0}},
      {kBlock, 5, 3, {0, 6}},
      {kTemperature, 0, 16, {29815, 65534}},
      // A missing increment keeps the reference value as raw, which has a meaning here.
      {kRegion, 0, 3, {1, 7}},
      {kRegion, 7, 0, {0, 0}},
      // At width 0 the reference value 0 is all ones: every subset is missing.
      {kNothing, 0, 3, {1, 2}},
  };
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    Lines expected;
    for (std::uint64_t increment : c.increments) {
      expected.push_back(entry(c.element, c.r0, increment, c.nbinc));
    }
    cases.push_back(
        {fmt::format("column_{}_{:06}", i, c.element.code),
         {c.element.code},
         Bits{}.column(c.r0, static_cast<unsigned>(c.element.width), c.nbinc, c.increments).take(),
         2,
         expected});
  }
  for (std::uint32_t op : {222000U, 236000U, 237000U, 241000U}) {
    cases.push_back({fmt::format("marker_{}", op),
                     {op, 1001},
                     Bits{}.column(3, 7, 2, {0, 1}).take(),
                     2,
                     {marker(op), entry(kBlock, 3), marker(op), entry(kBlock, 4)}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Numeric, CompressedTest, ::testing::ValuesIn(numeric_cases()), case_name);

std::vector<Case> text_cases() {
  return {
      {"without_increments",
       {kT32.code},
       Bits{}("AB  ")(0, 6).take(),
       3,
       {text(kT32, "AB", 1004.0), text(kT32, "AB", 2004.0), text(kT32, "AB", 3004.0)}},
      {"with_increments",
       {kT32.code, kT32.code},
       Bits{}("XXXX")(2, 6)("abc \xff\xff\xff\xff\xff\xff")(0, 6).take(),
       3,
       {text(kT32, "ab", 1004.0), text(kT32, std::nullopt, 4004.0), text(kT32, "c", 2004.0),
        text(kT32, std::nullopt, 5004.0), text(kT32, std::nullopt, 3004.0),
        text(kT32, std::nullopt, 6004.0)}},
      // One octet per subset, read at any bit position.
      {"increment_width_counts_octets",
       {1001, kT32.code},
       Bits{}.column(3, 7)("....")(1, 6)("\xc4 ").take(),
       2,
       {entry(kBlock, 3), text(kT32, "?", 1004.0), entry(kBlock, 3), text(kT32, "", 2004.0)}},
  };
}

INSTANTIATE_TEST_SUITE_P(Text, CompressedTest, ::testing::ValuesIn(text_cases()), case_name);

std::vector<Case> replication_cases() {
  const std::string too_deep =
      failure(kPrefix + "compressed descriptor decode exceeded recursion depth");
  std::vector<Case> cases{
      {"regular",
       {101002, 1001},
       Bits{}.column(1, 7, 2, {0, 1}).column(5, 7).take(),
       2,
       {entry(kBlock, 1), entry(kBlock, 5), entry(kBlock, 2), entry(kBlock, 5)}},
      {"delayed_with_equal_factors",
       {101000, 31001, 1001},
       Bits{}.column(2, 8, 1, {0, 0}).column(1, 7, 2, {0, 1}).column(3, 7).take(),
       2,
       {entry(kFactor, 2), entry(kBlock, 1), entry(kBlock, 3), entry(kFactor, 2), entry(kBlock, 2),
        entry(kBlock, 3)}},
      {"varying_factors",
       {101000, 31001, 1002},
       Bits{}.column(2, 8, 2, {0, 0, 1}).column(0, 10).take(),
       3,
       {kVarying}},
      // A missing value after a present first one varies too.
      {"missing_factor_varies",
       {101000, 1001, 1002},
       Bits{}.column(2, 7, 2, {0, 3, 0}).column(0, 10).take(),
       3,
       {kVarying}},
      {"missing_first_factor_skips_the_group",
       {101000, 1001, 1002, 12101},
       Bits{}.column(127, 7).column(29815, 16).take(),
       3,
       by_subset({times(3, entry(kBlock, 127)), times(3, entry(kTemperature, 29815))})},
      // When the first subset's factor is missing the others are not compared.
      {"missing_first_factor_skips_the_comparison",
       {101000, 1001, 1002, 12101},
       Bits{}.column(2, 7, 2, {3, 0, 1}).column(29815, 16).take(),
       3,
       by_subset({{entry(kBlock, 2, 3, 2), entry(kBlock, 2), entry(kBlock, 3)},
                  times(3, entry(kTemperature, 29815))})},
      {"sequences_nest",
       {340001},
       Bits{}.column(1, 7).column(2, 10).take(),
       2,
       {entry(kBlock, 1), entry(kStation, 2), entry(kBlock, 1), entry(kStation, 2)},
       {{340001, {1001, 340002}}, {340002, {1002}}}},
      {"depth_64",
       {342001},
       Bits{}.column(3, 7).take(),
       1,
       {entry(kBlock, 3)},
       chain(342001, 64, {1001})},
      {"depth_65", {342001}, Bits{}.column(3, 7).take(), 1, {too_deep}, chain(342001, 65, {1001})},
      {"too_many_values",
       {101000, 31090, 222000},
       Octets(100000),
       100,
       {failure(kPrefix + "section 4 decode exceeded 3200000 values")}},
  };
  const std::vector<std::pair<Codes, std::string>> errors{
      {{101000}, "unsupported replication descriptor 101000"},
      {{101000, 31001},
       "delayed replication descriptor 101000 is missing its replication factor or replicated "
       "descriptors"},
      {{101000, 31099, 1001}, "descriptor 031099 was not found in Table B"},
      {{48255}, "descriptor 048255 was not found in Table B"},
      {{340255}, "descriptor 340255 was not found in Table D"},
  };
  for (std::size_t i = 0; i < errors.size(); ++i) {
    cases.push_back(
        {fmt::format("error_{}", i), errors[i].first, Octets(8), 2, {failure(errors[i].second)}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Replication, CompressedTest, ::testing::ValuesIn(replication_cases()),
                         case_name);

std::vector<Case> bitmap_and_short_cases() {
  const Element difference = kBlock.with(8, 0, -128);
  return {
      {"bitmap_takes_the_first_subsets_indicator",
       {kS0.code, kS1.code, 236000, 31031, 31031, 223255, 223255},
       Bits{}
           .column(1, 4, 2, {0, 1})
           .column(5, 4)
           .column(0, 1, 1, {0, 1})
           .column(0, 1, 1, {1, 0})
           .column(9, 4, 2, {0, 1})
           .take(),
       2,
       by_subset({{entry(kS0, 1), entry(kS0, 2)},
                  times(2, entry(kS1, 5)),
                  times(2, marker(236000)),
                  {entry(kPresent, 0), entry(kPresent, 1)},
                  {entry(kPresent, 1), entry(kPresent, 0)},
                  {entry(kS0, 9), entry(kS0, 10)}})},
      {"2_25_255_column",
       {1001, 236000, 31031, 225255},
       Bits{}.column(0, 7).column(0, 1).column(120, 8, 2, {0, 2}).take(),
       2,
       by_subset({times(2, entry(kBlock, 0)),
                  times(2, marker(236000)),
                  times(2, entry(kPresent, 0)),
                  {line(1001, kBlock.name, 120, -8.0, std::nullopt, std::nullopt),
                   entry(difference, 120, 2, 2)}})},
      {"reference_outside_history",
       {kS0.code, 236000, 31031, 31031, 223255, 223255},
       Bits{}.column(1, 4).column(0, 1).column(0, 1).column(2, 4).take(),
       2,
       {failure(kPrefix + "bitmap reference is outside descriptor history")}},
      {"no_subsets_still_walks_and_reads",
       {1001, 1015, 101000, 31001, 1002},
       Bits{}.column(3, 7, 5)("ABCDEFGH")(3, 6).column(0, 8).take(),
       0,
       {}},
      {"no_subsets_still_checks_tables",
       {48255},
       {},
       0,
       {failure("descriptor 048255 was not found in Table B")}},
      // Without a first subset each indicator counts as 0, so the
      // back-reference reads a column of S0: its reference value and its
      // increment width.
      {"no_subsets_mark_every_position",
       {kS0.code, 236000, 31031, 223255},
       Bits{}.column(1, 4).column(1, 1).column(2, 4).take(),
       0,
       {}},
      {"no_subsets_mark_every_position_short",
       {kS0.code, 236000, 31031, 223255},
       Bits{}.column(1, 4).column(1, 1)(2, 4).take(),
       0,
       {not_enough_bits(21, 6, 24)}},
      {"short_reference", {1001}, {}, 2, {not_enough_bits(0, 7, 0)}},
      {"short_increment_width_no_subsets",
       {1001},
       Bits{}(3, 7).take(),
       0,
       {not_enough_bits(7, 6, 8)}},
      {"short_increment_width", {1001}, Bits{}(3, 7).take(), 2, {not_enough_bits(7, 6, 8)}},
      {"short_increments",
       {1001},
       Bits{}.column(3, 7, 4, {1, 2}).take(),
       3,
       {not_enough_bits(21, 4, 24)}},
      {"short_text_increments",
       {kT32.code},
       Bits{}("ABCD")(1, 6)("x").take(),
       2,
       {not_enough_bits(46, 8, 48)}},
  };
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, CompressedTest, ::testing::ValuesIn(bitmap_and_short_cases()),
                         case_name);

// Enough subsets and columns (with meanings, missing values and a text
// column) for the decoder's buffers to grow several times: every value
// still lands at its place in the subset-by-subset order.
TEST(CompressedLargeTest, KeepsTheOrderWhileBuffersGrow) {
  constexpr std::uint32_t kSubsets = 3000;
  constexpr int kGroups = 12;
  Bits data;
  std::vector<Lines> columns;
  Codes codes;
  for (int group = 0; group < kGroups; ++group) {
    codes.insert(codes.end(), {1001, 1003, 12101, kT32.code});
    Lines blocks, regions, temperatures, names;
    data(0, 7)(7, 6);
    for (std::uint64_t k = 0; k < kSubsets; ++k) {
      data(k % 100, 7);
      blocks.push_back(entry(kBlock, 0, k % 100, 7));
    }
    data(0, 3)(2, 6);
    for (std::uint64_t k = 0; k < kSubsets; ++k) {
      data(k % 3, 2);
      regions.push_back(entry(kRegion, 0, k % 3, 2));
    }
    data(29000, 16)(8, 6);
    for (std::uint64_t k = 0; k < kSubsets; ++k) {
      data(k % 255, 8);
      temperatures.push_back(entry(kTemperature, 29000, k % 255, 8));
    }
    data(0, 32)(4, 6);
    for (std::uint64_t k = 0; k < kSubsets; ++k) {
      const std::string name = fmt::format("S{:03}", k % 7);
      data(name);
      // Texts are numbered through the message, subset by subset per column.
      const auto ordinal =
          static_cast<double>((static_cast<std::uint64_t>(group) * kSubsets + k + 1) * 1000 + 4);
      names.push_back(text(kT32, name, ordinal));
    }
    columns.insert(columns.end(), {blocks, regions, temperatures, names});
  }
  Lines expected;
  for (std::uint32_t k = 0; k < kSubsets; ++k) {
    for (const Lines& column : columns) expected.push_back(column[k]);
  }
  const TableSet tables = decode_tables();
  const Octets octets = data.take();
  const Lines decoded = decode_lines(codes, octets, kSubsets, true, tables);
  ASSERT_EQ(decoded.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(decoded[i], expected[i]) << i;
  }
}

// ---- Where a failure lies ---------------------------------------------------------

struct WhereCase {
  std::string name;
  Codes codes;
  Octets data;
  DecodeWhere expected;
  Sequences sequences = {};
};

class CompressedWhereTest : public ::testing::TestWithParam<WhereCase> {};

// Two subsets, walked once: every failure lies in subset 0.
TEST_P(CompressedWhereTest, NamesTheDescriptor) {
  const WhereCase& c = GetParam();
  const TableSet tables = decode_tables(c.sequences);
  DecodeWhere where;
  DecodeLimits limits;
  limits.where = &where;
  const auto decoded = decode_compressed(c.codes, 2, tables, c.data, limits);
  ASSERT_FALSE(decoded.has_value());
  EXPECT_TRUE(where.known);
  EXPECT_EQ(where.descriptor, c.expected.descriptor);
  EXPECT_EQ(where.position, c.expected.position);
  EXPECT_EQ(where.subset, 0u);
}

INSTANTIATE_TEST_SUITE_P(Failures, CompressedWhereTest,
                         ::testing::Values(WhereCase{"not_enough_bits_on_the_third_element",
                                                     {1001, 1002, 12101},
                                                     Bits{}.column(1, 7).column(2, 10).take(),
                                                     {12101, 2}},
                                           // 101000, 031001, 301001, 001002, 048255.
                                           WhereCase{"missing_element_in_a_replicated_sequence",
                                                     {101000, 31001, 301001},
                                                     Bits{}.column(1, 8).column(5, 10).take(),
                                                     {48255, 4},
                                                     {{301001, {1002, 48255}}}},
                                           WhereCase{
                                               "varying_factors",
                                               {1001, 101000, 31001, 1002},
                                               Bits{}.column(1, 7).column(0, 8, 1, {0, 1}).take(),
                                               {31001, 2}}),
                         [](const auto& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace quorvel
