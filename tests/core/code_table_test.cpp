// CodeTable: lookups over the keys code and flag tables have, replacement, equality.
#include "core/tables/code_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/case_name.hpp"

namespace quorvel {
namespace {

struct CodeTableCase {
  std::string_view name;
  std::vector<std::uint64_t> raws;
};

// Keys the way code and flag tables have them, and extremes: runs of small
// numbers, single bits, values that differ only in their high half.
std::vector<CodeTableCase> code_table_cases() {
  CodeTableCase consecutive{"Consecutive", {}};
  for (std::uint64_t raw = 0; raw < 1000; ++raw) {
    consecutive.raws.push_back(raw);
  }
  CodeTableCase bits{"SingleBits", {}};
  for (int bit = 0; bit < 64; ++bit) {
    bits.raws.push_back(std::uint64_t{1} << bit);
  }
  CodeTableCase high{"HighHalves", {}};
  for (std::uint64_t k = 1; k <= 100; ++k) {
    high.raws.push_back(k << 32);
  }
  return {consecutive, bits, high,
          CodeTableCase{"Extremes", {0, 1, 0xFFFFFFFFU, 0x100000000U, 0xFFFFFFFFFFFFFFFFULL}}};
}

class CodeTableTest : public testing::TestWithParam<CodeTableCase> {};

TEST_P(CodeTableTest, FindsEveryStoredValueAndNoOther) {
  const std::vector<std::uint64_t>& raws = GetParam().raws;
  std::vector<std::string> texts;
  for (const std::uint64_t raw : raws) {
    texts.push_back("MEANING " + std::to_string(raw));
  }
  CodeTable table;  // no reserve: the table grows as it fills
  for (std::size_t i = 0; i < raws.size(); ++i) {
    table.insert_or_assign(raws[i], texts[i]);
  }
  ASSERT_EQ(table.size(), raws.size());
  for (std::size_t i = 0; i < raws.size(); ++i) {
    const std::string_view* meaning = table.find(raws[i]);
    ASSERT_NE(meaning, nullptr) << raws[i];
    EXPECT_EQ(*meaning, texts[i]);
  }
  for (const std::uint64_t raw : raws) {
    // Neighbours that are not stored themselves must not be found.
    for (const std::uint64_t near : {raw - 1, raw + 1, raw ^ (std::uint64_t{1} << 40)}) {
      if (std::find(raws.begin(), raws.end(), near) == raws.end()) {
        EXPECT_EQ(table.find(near), nullptr) << near;
      }
    }
  }
}

TEST_P(CodeTableTest, ReplacingKeepsOneEntryPerValue) {
  const std::vector<std::uint64_t>& raws = GetParam().raws;
  CodeTable table;
  for (const std::uint64_t raw : raws) {
    table.insert_or_assign(raw, "FIRST");
  }
  for (const std::uint64_t raw : raws) {
    table.insert_or_assign(raw, "SECOND");
  }
  EXPECT_EQ(table.size(), raws.size());
  for (const std::uint64_t raw : raws) {
    ASSERT_NE(table.find(raw), nullptr) << raw;
    EXPECT_EQ(*table.find(raw), "SECOND") << raw;
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, CodeTableTest, testing::ValuesIn(code_table_cases()),
                         test::case_name<CodeTableCase>);

TEST(CodeTableEqualityTest, ComparesValuesAndTextsNotOrderOrAddresses) {
  const std::string region = "REGION I";
  const CodeTable table{{1, region}, {0, "ANTARCTICA"}};
  EXPECT_EQ(table, (CodeTable{{0, "ANTARCTICA"}, {1, "REGION I"}}));
  EXPECT_FALSE(table == (CodeTable{{0, "ANTARCTICA"}, {1, "REGION II"}}));
  EXPECT_FALSE(table == (CodeTable{{0, "ANTARCTICA"}, {2, "REGION I"}}));
  EXPECT_FALSE(table == (CodeTable{{0, "ANTARCTICA"}}));
  EXPECT_TRUE(CodeTable{}.empty());
  EXPECT_EQ(CodeTable{}.find(0), nullptr);
}

}  // namespace
}  // namespace quorvel
