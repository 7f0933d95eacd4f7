// Table D expansion below the Python layer: the error variant and the code it
// carries, the depth and size bounds taken from their constants, and member
// operands wider than an octet, which only a table can hold.
#include "core/tables/expansion.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {
namespace {

using Codes = std::vector<std::uint32_t>;
using Sequences = std::vector<std::pair<std::uint32_t, Codes>>;

TableSet table_set(const Sequences& sequences) {
  TableMaps maps;
  for (const auto& [code, members] : sequences) {
    maps.sequences.insert_or_assign(code, SequenceDefinition{code, members});
  }
  return TableSet(std::move(maps));
}

// Sequences first, first + 1, ... each holding the next; the last holds
// `last_members`.
Sequences sequence_chain(std::uint32_t first, int length, const Codes& last_members) {
  Sequences sequences;
  for (int i = 0; i + 1 < length; ++i) {
    const auto code = first + static_cast<std::uint32_t>(i);
    sequences.emplace_back(code, Codes{code + 1});
  }
  sequences.emplace_back(first + static_cast<std::uint32_t>(length - 1), last_members);
  return sequences;
}

// ---- Which variant, carrying which code ------------------------------------------

enum class Kind { MissingSequence, MissingReplicationFactor, UnsupportedReplication, Text };

struct FailureCase {
  std::string_view name;
  Sequences sequences;
  Codes input;
  Kind kind;
  std::uint32_t code;     // for the three variants that carry one
  std::string_view text;  // for Text
};

std::string failure_name(const testing::TestParamInfo<FailureCase>& info) {
  return std::string(info.param.name);
}

class ExpansionFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(ExpansionFailureTest, ReportsTheVariantAndItsCode) {
  const FailureCase& c = GetParam();
  const TableSet tables = table_set(c.sequences);
  const auto result = expand_descriptors(tables, c.input);
  ASSERT_FALSE(result.has_value());
  const auto& kind = result.error().kind();
  switch (c.kind) {
    case Kind::MissingSequence:
      ASSERT_TRUE(std::holds_alternative<error::MissingSequence>(kind));
      EXPECT_EQ(std::get<error::MissingSequence>(kind).code, c.code);
      break;
    case Kind::MissingReplicationFactor:
      ASSERT_TRUE(std::holds_alternative<error::MissingReplicationFactor>(kind));
      EXPECT_EQ(std::get<error::MissingReplicationFactor>(kind).code, c.code);
      break;
    case Kind::UnsupportedReplication:
      ASSERT_TRUE(std::holds_alternative<error::UnsupportedReplication>(kind));
      EXPECT_EQ(std::get<error::UnsupportedReplication>(kind).code, c.code);
      break;
    case Kind::Text:
      ASSERT_TRUE(std::holds_alternative<error::Text>(kind));
      EXPECT_EQ(std::get<error::Text>(kind).text, c.text);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ExpansionFailureTest,
    testing::Values(
        FailureCase{"MissingTopSequence", {}, {301001}, Kind::MissingSequence, 301001, ""},
        FailureCase{"MissingMemberSequence",
                    {{301001, {1001, 301099}}},
                    {301001},
                    Kind::MissingSequence,
                    301099,
                    ""},
        FailureCase{
            "DelayedWithoutGroup", {}, {101000, 31001}, Kind::MissingReplicationFactor, 101000, ""},
        FailureCase{"DelayedAtTheEndOfAMemberList",
                    {{301001, {101000, 31001}}},
                    {301001, 1001},
                    Kind::MissingReplicationFactor,
                    101000,
                    ""},
        FailureCase{"FixedTooShort", {}, {102002, 1001}, Kind::UnsupportedReplication, 102002, ""},
        FailureCase{"XOfZero", {}, {100000, 31001, 1001}, Kind::UnsupportedReplication, 100000, ""},
        FailureCase{"NestedInsideAGroup",
                    {},
                    {102002, 102003, 1001, 1002},
                    Kind::UnsupportedReplication,
                    102003,
                    ""},
        FailureCase{"FOfFour", {}, {400000}, Kind::Text, 0, "invalid descriptor 400000"},
        FailureCase{
            "LargestCode", {}, {4294967295U}, Kind::Text, 0, "invalid descriptor 4294967295"},
        FailureCase{"InvalidMember",
                    {{301001, {1001, 500000}}},
                    {301001},
                    Kind::Text,
                    0,
                    "invalid descriptor 500000"},
        FailureCase{"SelfContaining",
                    {{301001, {301001}}},
                    {301001},
                    Kind::Text,
                    0,
                    "sequence expansion exceeded recursion depth"}),
    failure_name);

// ---- The depth bound ---------------------------------------------------------------

struct DepthCase {
  std::string_view name;
  int levels;  // how many sequences nest below the top list
  Codes last_members;
  bool succeeds;
};

std::string depth_name(const testing::TestParamInfo<DepthCase>& info) {
  return std::string(info.param.name);
}

class ExpansionDepthTest : public testing::TestWithParam<DepthCase> {};

TEST_P(ExpansionDepthTest, NestsUpToTheBound) {
  const DepthCase& c = GetParam();
  const TableSet tables = table_set(sequence_chain(340001, c.levels, c.last_members));
  const Codes input{340001};
  const auto result = expand_descriptors(tables, input);
  if (c.succeeds) {
    ASSERT_TRUE(result.has_value()) << result.error().message();
    EXPECT_EQ(*result, c.last_members);
    return;
  }
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(),
            "csv/table parse error: sequence expansion exceeded recursion depth");
}

INSTANTIATE_TEST_SUITE_P(
    Levels, ExpansionDepthTest,
    testing::Values(DepthCase{"One", 1, {1001}, true},
                    DepthCase{"AtTheBound", kMaxNestingDepth, {1001}, true},
                    DepthCase{"AtTheBoundEmpty", kMaxNestingDepth, {}, true},
                    DepthCase{"PastTheBound", kMaxNestingDepth + 1, {1001}, false},
                    DepthCase{"PastTheBoundEmpty", kMaxNestingDepth + 1, {}, false}),
    depth_name);

// ---- The size bound ----------------------------------------------------------------

// Fixed replications each replicating the rest of the list, around one
// operator that appends nothing: the list visits 1 + 19(1 + 2(1 + 33(1 +
// 208))) descriptors.
constexpr std::uint64_t chain_visits(std::initializer_list<std::uint64_t> counts) {
  std::uint64_t visits = 1;
  for (auto it = counts.end(); it != counts.begin();) {
    --it;
    visits = 1 + *it * visits;
  }
  return visits;
}
static_assert(chain_visits({19, 2, 33, 208}) == kMaxExpansionSteps);

TEST(ExpansionSizeTest, VisitsExactlyTheBound) {
  const TableSet tables;
  const Codes input{104019, 103002, 102033, 101208, 201000};
  const auto result = expand_descriptors(tables, input);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_TRUE(result->empty());
}

TEST(ExpansionSizeTest, OneVisitPastTheBoundFails) {
  const TableSet tables = table_set({{301001, {201000}}});
  // The extra visit hides in a sequence member.
  const Codes input{301001, 104019, 103002, 102033, 101208, 201000};
  const auto result = expand_descriptors(tables, input);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(),
            "csv/table parse error: sequence expansion exceeded 262144 descriptors");
}

// ---- Operands of Table D members ---------------------------------------------------

struct MemberCase {
  std::string_view name;
  Codes members;
  Codes expected;
};

std::string member_name(const testing::TestParamInfo<MemberCase>& info) {
  return std::string(info.param.name);
}

class MemberOperandTest : public testing::TestWithParam<MemberCase> {};

TEST_P(MemberOperandTest, TakesTheLowOctet) {
  const TableSet tables = table_set({{301001, GetParam().members}});
  const Codes input{301001};
  const auto result = expand_descriptors(tables, input);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(*result, GetParam().expected);
}

// 999 & 0xFF is 231; 768 & 0xFF and 512 & 0xFF are 0.
INSTANTIATE_TEST_SUITE_P(
    Operands, MemberOperandTest,
    testing::Values(MemberCase{"Replication999", {101999, 1001}, Codes(231, 1001)},
                    MemberCase{"Replication768IsDelayed", {101768, 31001, 1001}, {31001, 1001}},
                    MemberCase{"AssociatedField999", {204999, 1001}, {999999, 1001}},
                    MemberCase{"AssociatedField512Cancels", {204008, 204512, 1001}, {1001}},
                    MemberCase{"OtherOperatorsKeepTheirCode", {222999, 205300}, {222999, 205300}}),
    member_name);

TEST(ExpansionTest, AnEmptySpanExpandsToNothing) {
  const TableSet tables;
  const auto result = expand_descriptors(tables, std::span<const std::uint32_t>());
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->empty());
}

}  // namespace
}  // namespace quorvel
