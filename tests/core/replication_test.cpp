// read_replication: where the factor and the group sit, and which error a
// list too short for the replication gets.
#include "core/tables/replication.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "support/case_name.hpp"

namespace quorvel {
namespace {

struct ReplicationCase {
  std::string_view name;
  std::vector<std::uint32_t> codes;
  std::size_t at;
  // The group's indices and the last index covered; unused when failing.
  std::size_t group_index;
  std::size_t last_index;
  // "": the replication reads; "X": UnsupportedReplication; "F":
  // MissingReplicationFactor, both for codes[at].
  std::string_view error;
};

class ReadReplicationTest : public testing::TestWithParam<ReplicationCase> {};

TEST_P(ReadReplicationTest, PlacesGroupOrNamesFault) {
  const ReplicationCase& c = GetParam();
  const auto replication = read_replication(c.codes, c.at);
  if (!c.error.empty()) {
    ASSERT_FALSE(replication.has_value());
    const std::uint32_t code = c.codes[c.at];
    const BufrError expected = c.error == "X" ? BufrError::unsupported_replication(code)
                                              : BufrError::missing_replication_factor(code);
    EXPECT_EQ(replication.error().message(), expected.message());
    return;
  }
  ASSERT_TRUE(replication.has_value()) << replication.error().message();
  EXPECT_EQ(replication->group_index(), c.group_index);
  EXPECT_EQ(replication->last_index(), c.last_index);
  const auto group = replication->group(c.codes);
  EXPECT_EQ(group.data(), c.codes.data() + c.group_index);
  EXPECT_EQ(group.size(), c.last_index + 1 - c.group_index);
  if (replication->delayed()) {
    EXPECT_EQ(replication->factor_index(), c.at + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ReadReplicationTest,
    testing::Values(ReplicationCase{"FixedTakesTheNextX", {102003, 1001, 1002, 1003}, 0, 1, 2, ""},
                    ReplicationCase{"FixedInsideAList", {1001, 101002, 1002}, 1, 2, 2, ""},
                    ReplicationCase{
                        "DelayedSkipsTheFactor", {101000, 31001, 1001, 1002}, 0, 2, 2, ""},
                    // Y counts as an octet: 1-01-256 is delayed.
                    ReplicationCase{"YIsAnOctet", {101256, 31001, 1001}, 0, 2, 2, ""},
                    ReplicationCase{"ZeroXIsUnsupported", {100002, 1001}, 0, 0, 0, "X"},
                    ReplicationCase{"ShortFixedIsUnsupported", {102002, 1001}, 0, 0, 0, "X"},
                    // Too short for X wins over the missing factor.
                    ReplicationCase{"ShortDelayedIsUnsupported", {102000, 31001}, 0, 0, 0, "X"},
                    ReplicationCase{"DelayedWithoutRoomForFactor", {101000, 1001}, 0, 0, 0, "F"}),
    test::case_name<ReplicationCase>);

}  // namespace
}  // namespace quorvel
