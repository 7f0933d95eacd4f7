// The sequence.def reader adding to a map that already holds entries.
#include "core/tables/formats/sequence_def.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

TEST(ReadSequenceDefTest, ReplacesAndKeepsExistingEntries) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.write("sequence.def", "\"301011\" = [ 004001, 004002, 004003 ]\n\"301099\" = [ ]\n");
  SequenceMap sequences;
  sequences.emplace(301011, SequenceDefinition{301011, {1, 2, 3, 4, 5}});
  sequences.emplace(301012, SequenceDefinition{301012, {4004}});
  const Status status = read_sequence_def(dir.at("sequence.def"), sequences);
  ASSERT_TRUE(status.has_value()) << status.error().message();
  ASSERT_EQ(sequences.size(), 3U);
  EXPECT_EQ(sequences.at(301011).members, (std::vector<std::uint32_t>{4001, 4002, 4003}));
  EXPECT_EQ(sequences.at(301011).code, 301011U);
  EXPECT_TRUE(sequences.at(301099).members.empty());
  EXPECT_EQ(sequences.at(301012).members, (std::vector<std::uint32_t>{4004}));
}

}  // namespace
}  // namespace quorvel
