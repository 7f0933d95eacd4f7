// TableSet: the meanings' text keeps its address when the set moves.
#include "core/tables/table_set.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/tables/formats/table_directory.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

TEST(TableSetMeaningTest, TextKeepsItsAddressWhenTheSetMoves) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.make_directory("codetables");
  dir.write("element.table", "");
  dir.write("sequence.def", "");
  std::string lines;
  for (int raw = 0; raw < 3000; ++raw) {  // more text than one block of the store holds
    lines += std::to_string(raw) + " " + std::to_string(raw) + " MEANING NUMBER " +
             std::to_string(raw) + "\n";
  }
  dir.write("codetables/1003.table", lines);

  auto loaded = load_table_directory(dir.path());
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  std::vector<const char*> addresses;
  for (int raw = 0; raw < 3000; ++raw) {
    const auto meaning = loaded->find_meaning(1003, static_cast<std::uint64_t>(raw));
    ASSERT_TRUE(meaning.has_value()) << raw;
    addresses.push_back(meaning->data());
  }

  TableSet moved(std::move(*loaded));
  TableSet assigned;
  assigned = std::move(moved);
  for (int raw = 0; raw < 3000; ++raw) {
    const auto meaning = assigned.find_meaning(1003, static_cast<std::uint64_t>(raw));
    ASSERT_TRUE(meaning.has_value()) << raw;
    EXPECT_EQ(meaning->data(), addresses[static_cast<std::size_t>(raw)]) << raw;
    EXPECT_EQ(*meaning, "MEANING NUMBER " + std::to_string(raw));
  }
}

}  // namespace
}  // namespace quorvel
