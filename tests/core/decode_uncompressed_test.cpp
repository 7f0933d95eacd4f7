// The value rules of uncompressed section-4 data: elements, text,
// replication, sequences and depth, operators, bitmaps and back-references,
// subsets and the failure texts, each value compared field by field.
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/decode_tables.hpp"

namespace quorvel {
namespace {

using namespace std::string_view_literals;
using namespace quorvel::testing;
using Codes = std::vector<std::uint32_t>;
using Lines = std::vector<std::string>;
using Octets = std::vector<std::uint8_t>;

struct Case {
  std::string name;
  Codes codes;
  Octets data;
  Lines expected;
  std::uint32_t subsets = 1;
  Sequences sequences = {};
  std::vector<Element> extra = {};
};

class UncompressedTest : public ::testing::TestWithParam<Case> {};

TEST_P(UncompressedTest, Decodes) {
  const Case& c = GetParam();
  const TableSet tables = decode_tables(c.sequences, c.extra);
  EXPECT_EQ(decode_lines(c.codes, c.data, c.subsets, false, tables), c.expected);
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

Octets octets(std::string_view text) { return {text.begin(), text.end()}; }

const std::string kPrefix = "csv/table parse error: ";
const Element kS0 = series(0), kS1 = series(1), kS2 = series(2);

// ---- Numeric elements --------------------------------------------------------------

std::vector<Case> numeric_cases() {
  std::vector<Case> cases{
      {"worked_temperature",
       {12101},
       Bits{}(29815, 16).take(),
       {line(12101, kTemperature.name, 29815, 25.0, std::nullopt, std::nullopt)}},
      {"missing_keeps_raw_and_meaning",
       {1003, 12101},
       Bits{}(7, 3)(65535, 16).take(),
       {line(1003, kRegion.name, 7, std::nullopt, std::nullopt, "MISSING VALUE"),
        line(12101, kTemperature.name, 65535, std::nullopt, std::nullopt, std::nullopt)}},
      {"zero_width_reads_nothing_and_is_missing",
       {48000, 48000, 1001},
       Bits{}(5, 7).take(),
       {numeric(kNothing, 0), numeric(kNothing, 0), numeric(kBlock, 5)}},
      {"zero_width_without_data", {48000}, {}, {numeric(kNothing, 0)}},
      // A zero-width class-31 element is its reference.
      {"zero_width_class_31",
       {31090},
       {},
       {line(31090, kHugeFactor.name, 0, 1048576.0, std::nullopt, std::nullopt)}},
      {"meaning_belongs_to_the_code",
       {kS0.code, kS0.code, kS1.code},
       Bits{}(3, 4)(4, 4)(3, 4).take(),
       {line(kS0.code, kS0.name, 3, 3.0, std::nullopt, "THREE"), numeric(kS0, 4),
        line(kS1.code, kS1.name, 3, 3.0, std::nullopt, std::nullopt)}},
  };
  const std::vector<std::pair<Element, std::uint64_t>> raws{
      {kTemperature, 0},
      {kTemperature, 29815},
      {kTemperature, 65534},
      {kTemperature, 65535},
      {kPressure, 10132},
      {kPressure, 16383},
      {kBlock, 0},
      {kBlock, 126},
      {kBlock, 127},
      {width_element(1), 0},
      {width_element(1), 1},
      {width_element(63), (1ULL << 63) - 2},
      {width_element(63), (1ULL << 63) - 1},
      // At width 64 all ones is an ordinary value.
      {width_element(64), ~0ULL},
      {width_element(64), (1ULL << 63) + 12345},
      // Class 31 is never missing.
      {kFactor, 255},
      {kPresent, 1},
      {kShortFactor, 1},
      // Code tables: a meaning, no meaning, and a meaning for the missing value.
      {kRegion, 1},
      {kRegion, 5},
      {kRegion, 7}};
  for (const auto& [e, raw] : raws) {
    cases.push_back({fmt::format("element_{:06}_raw_{}", e.code, raw),
                     {e.code},
                     Bits{}(raw, static_cast<unsigned>(e.width)).take(),
                     {numeric(e, raw)}});
  }
  cases.push_back(
      {"all_ones_64",
       {49064},
       Octets(8, 0xff),
       {line(49064, "WIDTH 64", ~0ULL, 18446744073709551615.0, std::nullopt, std::nullopt)}});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Numeric, UncompressedTest, ::testing::ValuesIn(numeric_cases()),
                         case_name);

// ---- Text elements -----------------------------------------------------------------

std::vector<Case> text_cases() {
  const std::vector<std::pair<std::string_view, std::optional<std::string_view>>> fields{
      {"ABC     "sv, "ABC"sv},
      {"\xff\xff\xff\xff\xff\xff\xff\xff"sv, std::nullopt},
      {"AB\xc4"
       "DEFGH"sv,
       "AB?DEFGH"sv},
      {"        "sv, ""sv},
      {"  AB\0\0  "sv, "  AB\0\0"sv},
      {"A\t\n\x0b\x0c\r  "sv, "A"sv},
      {"\xff\xff\xff\xff\xff\xff\xff"
       "A"sv,
       "???????A"sv},
      {"A\xa0      "sv, "A?"sv},
      {"\x85\x80\xfe\x7f    "sv, "???\x7f"sv},
      {"\0\0\0\0\0\0\0\0"sv, "\0\0\0\0\0\0\0\0"sv},
      {"a\"b\\c   "sv, "a\"b\\c"sv},
  };
  std::vector<Case> cases;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    cases.push_back({fmt::format("field_{}", i),
                     {1015},
                     octets(fields[i].first),
                     {text(kName, fields[i].second, 1008.0)}});
  }
  const Element t16 = text_element(16);
  const std::vector<std::tuple<int, Octets, std::optional<std::string_view>>> widths{
      {0, {}, std::nullopt},
      {4, Bits{}(4, 4).take(), "@"sv},
      // Four one bits stand left-aligned in 0xF0, which is not all ones.
      {4, Bits{}(15, 4).take(), "?"sv},
      {12, Bits{}(0x41, 8)(4, 4).take(), "A@"sv},
      {16, Bits{}(0xff, 8)(0xff, 8).take(), std::nullopt},
      {24, octets("A  "), "A"sv},
  };
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const auto& [width, data, expected] = widths[i];
    const Element e = text_element(width);
    cases.push_back({fmt::format("width_{}_{}", width, i),
                     {e.code},
                     data,
                     {text(e, expected, 1000.0 + width / 8)}});
  }
  cases.push_back({"ordinals_count_across_subsets",
                   {1015, t16.code},
                   octets("FIRST   abSECOND  cd"),
                   {text(kName, "FIRST", 1008.0), text(t16, "ab", 2002.0),
                    text(kName, "SECOND", 3008.0), text(t16, "cd", 4002.0)},
                   2});
  cases.push_back(
      {"2_08_overrides_text_width",
       {208003, 1015, 208000, 1015, 208001, 1001},
       Bits{}("XYZABCDEFGH")(5, 7).take(),
       {text(kName, "XYZ", 1003.0), text(kName, "ABCDEFGH", 2008.0), numeric(kBlock, 5)}});
  cases.push_back({"numeric_operators_leave_text_width",
                   {201130, 202130, 206016, 1015, 1001, 207003, 1015},
                   Bits{}("ABCDEFGH")(100, 9)("IJKLMNOP").take(),
                   {text(kName, "ABCDEFGH", 1008.0), numeric(kBlock.with(9, 2, 0), 100),
                    text(kName, "IJKLMNOP", 2008.0)}});
  const std::vector<std::pair<std::string, bool>> units{
      {"CCITT IA5", true}, {"ccitt ia5", false}, {"CCITT IA5 ", false}, {"CCITT", false}};
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Element e{48201, "UNIT TEST", 8, 0, 0, units[i].first};
    cases.push_back({fmt::format("only_the_exact_unit_{}", i),
                     {48201},
                     octets("A"),
                     {units[i].second ? text(e, "A", 1001.0) : numeric(e, 0x41)},
                     1,
                     {},
                     {e}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Text, UncompressedTest, ::testing::ValuesIn(text_cases()), case_name);

// ---- Replication -------------------------------------------------------------------

std::string unsupported(std::uint32_t code) {
  return failure(fmt::format("unsupported replication descriptor {:06}", code));
}
std::string missing_factor(std::uint32_t code) {
  return failure(fmt::format(
      "delayed replication descriptor {:06} is missing its replication factor or replicated "
      "descriptors",
      code));
}

std::vector<Case> replication_cases() {
  std::vector<Case> cases{
      {"regular",
       {102003, 1001, 1002, 1001},
       Bits{}(1, 7)(11, 10)(2, 7)(12, 10)(3, 7)(13, 10)(4, 7).take(),
       {numeric(kBlock, 1), numeric(kStation, 11), numeric(kBlock, 2), numeric(kStation, 12),
        numeric(kBlock, 3), numeric(kStation, 13), numeric(kBlock, 4)}},
      {"delayed_appends_its_factor",
       {101000, 31001, 1001, 1002},
       Bits{}(3, 8)(1, 7)(2, 7)(3, 7)(9, 10).take(),
       {numeric(kFactor, 3), numeric(kBlock, 1), numeric(kBlock, 2), numeric(kBlock, 3),
        numeric(kStation, 9)}},
      {"factor_0_reads_nothing",
       {102000, 31001, 1001, 12101, 1002},
       Bits{}(0, 8)(9, 10).take(),
       {numeric(kFactor, 0), numeric(kStation, 9)}},
      {"nested_delayed",
       {103000, 31001, 101000, 31000, 1001},
       Bits{}(2, 8)(1, 1)(4, 7)(0, 1).take(),
       {numeric(kFactor, 2), numeric(kShortFactor, 1), numeric(kBlock, 4),
        numeric(kShortFactor, 0)}},
  };
  Bits ones;
  ones(255, 8);
  Lines all_ones{numeric(kFactor, 255)};
  for (int i = 0; i < 255; ++i) {
    ones(1, 1);
    all_ones.push_back(numeric(kPresent, 1));
  }
  // A class-31 factor of all ones is 255, not missing.
  cases.push_back(
      {"class_31_all_ones_repeats_255_times", {101000, 31001, 31031}, ones.take(), all_ones});
  // Any element is a factor by its scaled value.
  for (const auto& [raw, count] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
           {27515, 2}, {27514, 1}, {27315, 0}, {0, 0}, {65535, 0}}) {
    Bits data;
    data(raw, 16);
    Lines expected{numeric(kTemperature, raw)};
    for (std::uint64_t i = 0; i < count; ++i) {
      data(count + 1, 7);
      expected.push_back(numeric(kBlock, count + 1));
    }
    cases.push_back(
        {fmt::format("scaled_factor_{}", raw), {101000, 12101, 1001}, data.take(), expected});
  }
  const std::vector<std::pair<Codes, std::string>> errors{
      {{101000}, unsupported(101000)},
      {{1001, 101001}, unsupported(101001)},
      {{101000, 31001}, missing_factor(101000)},
      {{100000, 31001, 1001}, unsupported(100000)},
      {{100002, 1001}, unsupported(100002)},
      {{102002, 1001}, unsupported(102002)},
      {{102000, 31001, 1001}, missing_factor(102000)},
      {{101000, 31099, 1001}, failure("descriptor 031099 was not found in Table B")},
  };
  for (std::size_t i = 0; i < errors.size(); ++i) {
    cases.push_back({fmt::format("error_{}", i), errors[i].first, Octets(8), {errors[i].second}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Replication, UncompressedTest, ::testing::ValuesIn(replication_cases()),
                         case_name);

// ---- Sequences and depth ---------------------------------------------------------

const Sequences kSequences{
    {340001, {1001, 340002}},
    {340002, {1002}},
    {340003, {201130}},
    {340004, {201386, 1001}},
    {340005, {101257, 1001}},
    {340006, {}},
    {340007, {101256, 31001, 1001}},
    {340008, {222256, 236001, 1001}},
    {340009, {204260, 1001}},
};

std::vector<Case> sequence_cases() {
  const std::string too_deep = failure(kPrefix + "descriptor decode exceeded recursion depth");
  std::vector<Case> cases{
      {"nest",
       {340001, 12101},
       Bits{}(1, 7)(2, 10)(29815, 16).take(),
       {numeric(kBlock, 1), numeric(kStation, 2), numeric(kTemperature, 29815)},
       1,
       kSequences},
      // Operators set inside a sequence stay in force after it.
      {"operators_outlive_the_sequence",
       {340003, 1001},
       Bits{}(300, 9).take(),
       {numeric(kBlock.with_width(9), 300)},
       1,
       kSequences},
      // Operands and counts from Table D are taken as octets.
      {"operand_as_octet",
       {340004},
       Bits{}(300, 9).take(),
       {numeric(kBlock.with_width(9), 300)},
       1,
       kSequences},
      {"count_as_octet", {340005}, Bits{}(3, 7).take(), {numeric(kBlock, 3)}, 1, kSequences},
      {"empty", {340006, 1001}, Bits{}(3, 7).take(), {numeric(kBlock, 3)}, 1, kSequences},
      {"delayed_count_as_octet",
       {340007},
       Bits{}(1, 8)(3, 7).take(),
       {numeric(kFactor, 1), numeric(kBlock, 3)},
       1,
       kSequences},
      {"marker_operand_as_octet",
       {340008},
       Bits{}(3, 7).take(),
       {marker(222256), numeric(kBlock, 3)},
       1,
       kSequences},
      {"associated_operand_as_octet",
       {340009},
       Bits{}(5, 4)(3, 7).take(),
       {associated(5), numeric(kBlock, 3)},
       1,
       kSequences},
      {"missing_sequence", {340255}, {}, {failure("descriptor 340255 was not found in Table D")}},
  };
  for (std::uint32_t member : {400000U, 999999U, 1000000U, 4294967295U}) {
    cases.push_back({fmt::format("invalid_member_{}", member),
                     {340010},
                     Bits{}(1, 7).take(),
                     {failure(kPrefix + fmt::format("invalid descriptor {:06}", member))},
                     1,
                     {{340010, {1001, member}}}});
  }
  struct Depth {
    std::string name;
    std::uint32_t length;
    Codes tail;
    Octets data;
    Lines expected;
  };
  const std::vector<Depth> depths{
      {"depth_64", 64, {1001}, Bits{}(3, 7).take(), {numeric(kBlock, 3)}},
      {"depth_65", 65, {1001}, Bits{}(3, 7).take(), {too_deep}},
      {"depth_65_empty", 65, {}, {}, {too_deep}},
      // A replicated group is one level deeper than its replication.
      {"group_at_64", 63, {101001, 1001}, Bits{}(3, 7).take(), {numeric(kBlock, 3)}},
      {"group_at_65", 64, {101001, 1001}, Bits{}(3, 7).take(), {too_deep}},
      // A factor is read at the level of its replication; a count of 0 never
      // enters the group.
      {"factor_0_at_64",
       64,
       {101000, 31000, 1001},
       Bits{}(0, 1).take(),
       {numeric(kShortFactor, 0)}},
      {"factor_1_at_64", 64, {101000, 31000, 1001}, Bits{}(1, 1)(3, 7).take(), {too_deep}},
  };
  for (const Depth& d : depths) {
    cases.push_back({d.name, {341001}, d.data, d.expected, 1, chain(341001, d.length, d.tail)});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sequences, UncompressedTest, ::testing::ValuesIn(sequence_cases()),
                         case_name);

// ---- Operators ---------------------------------------------------------------------

struct WidthScaleCase {
  Codes operators;
  Element element;
  int width;
  std::int32_t scale;
  std::int64_t reference;
};

void PrintTo(const WidthScaleCase& c, std::ostream* out) {
  *out << fmt::format("{} on {:06}", fmt::join(c.operators, " "), c.element.code);
}

class WidthScaleOperatorTest : public ::testing::TestWithParam<WidthScaleCase> {};

TEST_P(WidthScaleOperatorTest, ChangesTheElement) {
  const WidthScaleCase& c = GetParam();
  const Element changed = c.element.with(c.width, c.scale, c.reference);
  const auto width = static_cast<unsigned>(c.width);
  const TableSet tables = decode_tables();
  for (std::uint64_t raw : std::set<std::uint64_t>{0, max_value(width), max_value(width) / 3}) {
    Codes codes = c.operators;
    codes.push_back(c.element.code);
    const Octets data = Bits{}(raw, width).take();
    EXPECT_EQ(decode_lines(codes, data, 1, false, tables), Lines{numeric(changed, raw)}) << raw;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operators, WidthScaleOperatorTest,
    ::testing::Values(
        WidthScaleCase{{201129}, kBlock, 8, 0, 0}, WidthScaleCase{{201127}, kBlock, 6, 0, 0},
        WidthScaleCase{{201130, 201000}, kBlock, 7, 0, 0},
        WidthScaleCase{{201001}, kBlock, 0, 0, 0}, WidthScaleCase{{201130}, kPresent, 3, 0, 0},
        WidthScaleCase{{201130}, kRegion, 5, 0, 0},
        WidthScaleCase{{202129}, kTemperature, 16, 3, -27315},
        WidthScaleCase{{202126}, kTemperature, 16, 0, -27315},
        WidthScaleCase{{202129, 202000}, kTemperature, 16, 2, -27315},
        // 2-06 wins over a width change.
        WidthScaleCase{{201130, 206005}, kBlock, 5, 0, 0},
        WidthScaleCase{{206000}, kBlock, 0, 0, 0}, WidthScaleCase{{206012}, kPresent, 12, 0, 0},
        WidthScaleCase{{206064}, kBlock, 64, 0, 0},
        // 2-07 replaces 2-01 and 2-02; a later 2-01 replaces its width change.
        WidthScaleCase{{207001}, kTemperature, 20, 3, -273150},
        WidthScaleCase{{201130, 207001}, kBlock, 11, 1, 0},
        WidthScaleCase{{207001, 201130}, kBlock, 9, 1, 0},
        WidthScaleCase{{202130, 207001, 202000}, kTemperature, 20, 2, -273150},
        WidthScaleCase{{207002, 207000}, kTemperature, 16, 2, -27315},
        WidthScaleCase{{207018}, width_element(4), 64, 18, 0}));

Lines present(std::initializer_list<int> flags) {
  Lines lines;
  for (int flag : flags) lines.push_back(numeric(kPresent, static_cast<std::uint64_t>(flag)));
  return lines;
}

Lines concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<Case> operator_cases() {
  std::vector<Case> cases{
      // Width 23, scale 4, reference -2731500.
      {"2_07_002_on_temperature",
       {207002, 12101},
       Bits{}(2981500, 23).take(),
       {line(12101, kTemperature.name, 2981500, 25.0, std::nullopt, std::nullopt)}},
      {"width_65", {201186, 1001}, Octets(32), {failure(kPrefix + "cannot read 65 bits into u64")}},
      {"width_134",
       {201255, 1001},
       Octets(32),
       {failure(kPrefix + "cannot read 134 bits into u64")}},
      {"2_06_holds_over_a_factor",
       {206004, 101000, 31001, 1001, 1002},
       Bits{}(2, 4)(9, 4)(6, 7)(7, 10).take(),
       {numeric(kFactor.with_width(4), 2), numeric(kBlock.with_width(4), 9), numeric(kBlock, 6),
        numeric(kStation, 7)}},
      {"2_06_holds_over_a_back_reference",
       {kS0.code, 236000, 31031, 206005, 223255, 1001, 1001},
       Bits{}(1, 4)(0, 1)(9, 5)(3, 5)(4, 7).take(),
       {numeric(kS0, 1), marker(236000), numeric(kPresent, 0), numeric(kS0.with_width(5), 9),
        numeric(kBlock.with_width(5), 3), numeric(kBlock, 4)}},
      {"2_06_is_cleared_by_text",
       {206016, 1015, 1001},
       Bits{}("ABCDEFGH")(3, 7).take(),
       {text(kName, "ABCDEFGH", 1008.0), numeric(kBlock, 3)}},
      {"associated_fields",
       {204004, 12101, 31031, 101000, 1001, 1002, 1015, 204000, 1001},
       Bits{}(15, 4)(29815, 16)(1, 1)(1, 7)(0, 4)(7, 10)(3, 4)("NAME    ")(9, 7).take(),
       {associated(15), numeric(kTemperature, 29815), numeric(kPresent, 1),
        // No associated field before a factor, whatever its class.
        numeric(kBlock, 1), associated(0), numeric(kStation, 7), associated(3),
        text(kName, "NAME", 1008.0), numeric(kBlock, 9)}},
      {"associated_width_ignores_width_change",
       {201130, 204003, 1001},
       Bits{}(7, 3)(5, 9).take(),
       {associated(7), numeric(kBlock.with_width(9), 5)}},
      {"associated_beyond_64_bits",
       {204065, 1001},
       Octets(16),
       {failure(kPrefix + "cannot read 65 bits into u64")}},
      {"2_07_255",
       {207255, 1001},
       Octets(16),
       {failure(kPrefix + "operator 207255 scales reference values beyond the 64-bit range")}},
  };
  for (std::uint32_t op :
       {222000U, 223000U, 223001U, 224000U, 225000U, 226000U, 227000U, 229000U, 230000U,
        231000U, 232000U, 232254U, 233000U, 234000U, 235000U, 236000U, 237000U, 237001U,
        238000U, 239000U, 240000U, 241000U, 241255U, 242000U, 262000U}) {
    cases.push_back({fmt::format("marker_{}", op),
                     {op, 1001},
                     Bits{}(5, 7).take(),
                     {marker(op), numeric(kBlock, 5)}});
  }
  for (std::uint32_t op :
       {200000U, 203000U, 203255U, 205000U, 209000U, 210001U, 211005U, 220000U, 221000U, 222001U,
        228000U, 236001U, 243000U, 250000U, 261000U, 262001U, 263000U, 263255U}) {
    cases.push_back(
        {fmt::format("no_effect_{}", op), {op, 1001}, Bits{}(5, 7).take(), {numeric(kBlock, 5)}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Operators, UncompressedTest, ::testing::ValuesIn(operator_cases()),
                         case_name);

// ---- Bitmaps and back-references -------------------------------------------------

std::vector<Case> bitmap_cases() {
  std::vector<Case> cases;
  for (std::uint32_t op : {223255U, 224255U, 232255U}) {
    const std::uint32_t start = op / 1000 * 1000;
    Codes codes;
    Bits data;
    Lines expected;
    for (int i = 0; i < 10; ++i) {
      codes.push_back(series(i).code);
      data(static_cast<std::uint64_t>(i), 4);
      expected.push_back(numeric(series(i), static_cast<std::uint64_t>(i)));
    }
    codes.insert(codes.end(), {236000, 101005, 31031, start, op, op, op, op, 1001});
    data(0, 1)(1, 1)(1, 1)(0, 1)(0, 1)(11, 4)(12, 4)(13, 4)(100, 7);
    expected = concat({expected,
                       {marker(236000)},
                       present({0, 1, 1, 0, 0}),
                       {marker(start)},
                       {numeric(series(5), 11), numeric(series(8), 12), numeric(series(9), 13),
                        numeric(kBlock, 100)}});
    cases.push_back({fmt::format("marks_history_{}", op), codes, data.take(), expected});
  }
  const Element t16 = text_element(16);
  const Element indicator = kPresent.with(1, 1, 0);
  std::vector<Case> more{
      {"2_35_cancels_bitmap_and_history",
       {kS0.code, kS1.code, kS2.code, 236000, 31031, 31031, 31031, 223255, 235000, 31031, 223255,
        223255, 1001},
       Bits{}(1, 4)(2, 4)(3, 4)(1, 1)(1, 1)(0, 1)(9, 4)(0, 1)(7, 4)(5, 7).take(),
       concat({{numeric(kS0, 1), numeric(kS1, 2), numeric(kS2, 3), marker(236000)},
               present({1, 1, 0}),
               {numeric(kS2, 9), marker(235000), numeric(kPresent, 0), numeric(kS0, 7),
                numeric(kBlock, 5)}})},
      {"2_37_000_reuses_the_bitmap",
       {kS0.code, kS1.code, 236000, 31031, 31031, 223255, 223255, 237000, 223255, 223255, 1001},
       Bits{}(1, 4)(2, 4)(0, 1)(1, 1)(9, 4)(8, 4)(5, 7).take(),
       {numeric(kS0, 1), numeric(kS1, 2), marker(236000), numeric(kPresent, 0),
        numeric(kPresent, 1), numeric(kS0, 9), marker(237000), numeric(kS0, 8),
        numeric(kBlock, 5)}},
      {"2_37_with_operand_cancels_the_bitmap",
       {kS0.code, kS1.code, 236000, 31031, 31031, 223255, 237001, 223255, 31031, 223255, 1001},
       Bits{}(1, 4)(2, 4)(0, 1)(0, 1)(9, 4)(0, 1)(8, 4)(5, 7).take(),
       {numeric(kS0, 1), numeric(kS1, 2), marker(236000), numeric(kPresent, 0),
        numeric(kPresent, 0), numeric(kS0, 9), marker(237001), numeric(kPresent, 0),
        numeric(kS0, 8), numeric(kBlock, 5)}},
      {"reference_outside_history",
       {kS0.code, kS1.code, 236000, 31031, 31031, 31031, 223255, 223255, 223255},
       Bits{}(1, 4)(2, 4)(0, 1)(0, 1)(0, 1)(3, 4)(4, 4)(5, 4).take(),
       {failure(kPrefix + "bitmap reference is outside descriptor history")}},
      {"history_holds_factors_and_earlier_class_31",
       {31031, 101000, 31001, kS0.code, 236000, 31031, 31031, 31031, 31031, 223255, 223255, 223255},
       Bits{}(1, 1)(2, 8)(3, 4)(4, 4)(0, 1)(0, 1)(1, 1)(0, 1)(1, 1)(200, 8)(6, 4).take(),
       concat({{numeric(kPresent, 1), numeric(kFactor, 2), numeric(kS0, 3), numeric(kS0, 4),
                marker(236000)},
               present({0, 0, 1, 0}),
               {numeric(kPresent, 1), numeric(kFactor, 200), numeric(kS0, 6)}})},
      // The second bitmap starts after S0 and S1; had the back-reference
      // joined the history, it would point at that copy of S0, not at S1.
      {"back_references_are_not_history",
       {kS0.code, kS1.code, 236000, 31031, 31031, 223255, 236000, 31031, 223255},
       Bits{}(1, 4)(2, 4)(0, 1)(1, 1)(5, 4)(0, 1)(6, 4).take(),
       {numeric(kS0, 1), numeric(kS1, 2), marker(236000), numeric(kPresent, 0),
        numeric(kPresent, 1), numeric(kS0, 5), marker(236000), numeric(kPresent, 0),
        numeric(kS1, 6)}},
      {"no_associated_field_before_a_back_reference",
       {kS0.code, 236000, 31031, 204004, 223255, 204000},
       Bits{}(1, 4)(0, 1)(9, 4).take(),
       {numeric(kS0, 1), marker(236000), numeric(kPresent, 0), numeric(kS0, 9)}},
      // Scale 1 makes each indicator 0.1, which truncates to 0: both referenced.
      {"bitmap_octet_is_the_scaled_value",
       {kS0.code, kS1.code, 202129, 236000, 31031, 31031, 202000, 223255, 223255},
       Bits{}(1, 4)(2, 4)(1, 1)(1, 1)(5, 4)(6, 4).take(),
       {numeric(kS0, 1), numeric(kS1, 2), marker(236000), numeric(indicator, 1),
        numeric(indicator, 1), numeric(kS0, 5), numeric(kS1, 6)}},
      {"back_reference_to_text",
       {t16.code, 236000, 31031, 223255},
       Bits{}("AB")(0, 1)("CD").take(),
       {text(t16, "AB", 1002.0), marker(236000), numeric(kPresent, 0), text(t16, "CD", 2002.0)}},
      {"2_25_255_on_64_bits",
       {49064, 236000, 31031, 225255},
       Octets(24),
       {failure(kPrefix +
                "difference statistics on element 049064 of width 64 exceed the 64-bit range")}},
  };
  cases.insert(cases.end(), more.begin(), more.end());
  for (const auto& [e, raw] :
       std::vector<std::pair<Element, std::uint64_t>>{{kBlock, 120},
                                                      {kBlock, 128},
                                                      {kTemperature, 65536 - 250},
                                                      {kNothing, 0},
                                                      {kNothing, 1}}) {
    const auto width = static_cast<unsigned>(e.width);
    const Element difference = e.with(e.width + 1, e.scale, -(std::int64_t{1} << width));
    cases.push_back({fmt::format("difference_{:06}_{}", e.code, raw),
                     {e.code, 236000, 31031, 225000, 225255},
                     Bits{}(0, width)(0, 1)(raw, width + 1).take(),
                     {numeric(e, 0), marker(236000), numeric(kPresent, 0), marker(225000),
                      numeric(difference, raw)}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, UncompressedTest, ::testing::ValuesIn(bitmap_cases()), case_name);

// ---- Subsets and failures ----------------------------------------------------------

std::vector<Case> subset_and_failure_cases() {
  const Element w4 = width_element(4), w8 = width_element(8);
  std::vector<Case> cases{
      {"fresh_operators_per_subset",
       {1001, 201129, 204004},
       Bits{}(1, 7)(2, 7).take(),
       {numeric(kBlock, 1), numeric(kBlock, 2)},
       2},
      {"subsets_follow_one_another",
       {1001, 12101},
       Bits{}(1, 7)(29815, 16)(2, 7)(65535, 16).take(),
       {numeric(kBlock, 1), numeric(kTemperature, 29815), numeric(kBlock, 2),
        numeric(kTemperature, 65535)},
       2},
      {"second_subset_reads_on", {1001}, Bits{}(1, 7).take(), {not_enough_bits(7, 7, 8)}, 2},
      {"no_subsets_reads_nothing", {1001, 48255, 340255}, {}, {}, 0},
      {"trailing_bits_are_ignored",
       {1001},
       Bits{}(3, 7)("\0\0\0\0\0\0\0\0\0\0"sv).take(),
       {numeric(kBlock, 3)}},
      {"worked_bit_reader_example",
       {49004, 49008, 49004},
       {0xa5, 0x0f},
       {numeric(w4, 10), numeric(w8, 0x50), numeric(w4, 15)}},
      {"worked_bit_reader_failure",
       {49004, 49008, 49004, 49001},
       {0xa5, 0x0f},
       {not_enough_bits(16, 1, 16)}},
      {"width_65", {49065}, Octets(16, 0xff), {failure(kPrefix + "cannot read 65 bits into u64")}},
      {"width_65_without_data", {49065}, {}, {failure(kPrefix + "cannot read 65 bits into u64")}},
      // A character field fails at the octet that crosses the end.
      {"text_crosses_the_end_24", {49004, 50024}, Octets(3), {not_enough_bits(20, 8, 24)}},
      {"text_crosses_the_end_12", {49005, 50012}, Octets(2), {not_enough_bits(13, 4, 16)}},
      {"text_crosses_the_end_16", {50016}, Octets(1), {not_enough_bits(8, 8, 8)}},
      {"text_without_data", {1015}, {}, {not_enough_bits(0, 8, 0)}},
      {"first_failure_wins_short", {1001, 48255}, {}, {not_enough_bits(0, 7, 0)}},
      {"first_failure_wins_missing",
       {48255, 1001},
       {},
       {failure("descriptor 048255 was not found in Table B")}},
      {"too_many_zero_width_values",
       {103000, 31090, 101000, 31090, 48000},
       {},
       {failure(kPrefix + "section 4 decode exceeded 2097152 values")}},
      {"too_many_markers",
       {103000, 31090, 101000, 31090, 222000},
       {},
       {failure(kPrefix + "section 4 decode exceeded 2097152 values")}},
  };
  // Reads at every start bit 0..7, ending exactly at the data and one octet short.
  for (unsigned start = 0; start < 8; ++start) {
    for (unsigned width : {1U, 7U, 8U, 9U, 16U, 57U, 63U, 64U}) {
      const std::uint64_t raw = 0xAAAAAAAAAAAAAAAAULL >> (64 - width);
      const unsigned pad = (8 - (start + width) % 8) % 8;
      const Codes codes{49000 + start, 49000 + width};
      const Octets data = Bits{}(0, start)(raw, width)(max_value(pad), pad).take();
      cases.push_back({fmt::format("start_{}_width_{}", start, width),
                       codes,
                       data,
                       {numeric(width_element(static_cast<int>(start)), 0),
                        numeric(width_element(static_cast<int>(width)), raw)}});
      const Octets short_data(data.begin(), data.end() - 1);
      const std::uint64_t available = 8 * short_data.size();
      cases.push_back({fmt::format("start_{}_width_{}_short", start, width),
                       codes,
                       short_data,
                       {start <= available ? not_enough_bits(start, width, available)
                                           : not_enough_bits(0, start, available)}});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Subsets, UncompressedTest, ::testing::ValuesIn(subset_and_failure_cases()),
                         case_name);

TEST(UncompressedTablesTest, MissingElementPrintsSixDigits) {
  const TableSet empty;
  const Octets data = Bits{}(1, 7).take();
  EXPECT_EQ(decode_lines(Codes{1001}, data, 1, false, empty),
            Lines{failure("descriptor 001001 was not found in Table B")});
}

// ---- Where a failure lies ---------------------------------------------------------

struct WhereCase {
  std::string name;
  Codes codes;
  Octets data;
  std::uint32_t subsets;
  DecodeWhere expected;
  Sequences sequences = {};
};

class UncompressedWhereTest : public ::testing::TestWithParam<WhereCase> {};

TEST_P(UncompressedWhereTest, NamesTheDescriptor) {
  const WhereCase& c = GetParam();
  const TableSet tables = decode_tables(c.sequences);
  DecodeWhere where{.descriptor = 1, .position = 1, .subset = 1, .known = true};
  DecodeLimits limits;
  limits.where = &where;
  const auto decoded = decode_uncompressed(c.codes, c.subsets, tables, c.data, limits);
  EXPECT_EQ(decoded.has_value(), !c.expected.known);
  EXPECT_EQ(where.known, c.expected.known);
  EXPECT_EQ(where.descriptor, c.expected.descriptor);
  EXPECT_EQ(where.position, c.expected.position);
  EXPECT_EQ(where.subset, c.expected.subset);
}

INSTANTIATE_TEST_SUITE_P(Failures, UncompressedWhereTest,
                         ::testing::Values(
                             // Subset 1 replicates nothing; subset 2 reaches the sequence, counted
                             // as 1001, 101000, 031001, 301001, 001002, 048255.
                             WhereCase{"missing_element_in_a_sequence_of_subset_2",
                                       {1001, 101000, 31001, 301001},
                                       Bits{}(1, 7)(0, 8)(2, 7)(1, 8)(5, 10).take(),
                                       2,
                                       {48255, 5, 1, true},
                                       {{301001, {1002, 48255}}}},
                             WhereCase{"not_enough_bits_on_the_third_element",
                                       {1001, 1002, 12101},
                                       Bits{}(1, 7)(2, 10).take(),
                                       1,
                                       {12101, 2, 0, true}},
                             // 1001, 102003, then the copies 1002 12101 at 2 3, 4 5, 6 7.
                             WhereCase{"inside_a_replication",
                                       {1001, 102003, 1002, 12101},
                                       Bits{}(1, 7)(2, 10)(3, 16)(4, 10)(5, 16)(6, 10).take(),
                                       1,
                                       {12101, 7, 0, true}},
                             WhereCase{"delayed_replication_factor",
                                       {1001, 101000, 31001, 1002},
                                       Bits{}(1, 7).take(),
                                       1,
                                       {31001, 2, 0, true}},
                             // Depth runs out below the 65th sequence of the chain, at position 65.
                             WhereCase{"too_deep",
                                       {1001, 340000},
                                       Bits{}(1, 7).take(),
                                       1,
                                       {340064, 65, 0, true},
                                       chain(340000, 65, {1001})},
                             // The group of a delayed replication at depth 64 lies too deep;
                             // the replication descriptor is at 64, its factor at 65.
                             WhereCase{"delayed_group_too_deep",
                                       {340000},
                                       Bits{}(1, 8).take(),
                                       1,
                                       {101000, 64, 0, true},
                                       chain(340000, 64, {101000, 31001, 1001})},
                             WhereCase{
                                 "success_leaves_it_unknown", {1001}, Bits{}(1, 7).take(), 1, {}}),
                         [](const auto& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace quorvel
