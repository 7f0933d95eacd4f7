// The element.table reader adding to a map that already holds entries.
#include "core/tables/formats/element_table.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

ElementDefinition element(std::uint32_t code, std::string name) {
  ElementDefinition definition;
  definition.code = code;
  definition.name = std::move(name);
  return definition;
}

TEST(ReadElementTableTest, ReplacesAndKeepsExistingEntries) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.write("element.table",
            "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
            "001002|stationNumber|long|WMO STATION NUMBER|Numeric|0|0|10|Numeric|0|3\n");
  ElementMap elements;
  elements.emplace(1001, element(1001, "OLD"));
  elements.emplace(9999, element(9999, "KEPT"));
  const Status status = read_element_table(dir.at("element.table"), elements);
  ASSERT_TRUE(status.has_value()) << status.error().message();
  ASSERT_EQ(elements.size(), 3U);
  EXPECT_EQ(elements.at(1001).name, "WMO BLOCK NUMBER");
  EXPECT_EQ(elements.at(1001).abbreviation, "blockNumber");
  EXPECT_EQ(elements.at(1001).width, 7);
  EXPECT_EQ(elements.at(1002).width, 10);
  EXPECT_EQ(elements.at(9999).name, "KEPT");
}

}  // namespace
}  // namespace quorvel
