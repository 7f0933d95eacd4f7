// The codetables directory reader adding to a map that already holds tables.
#include "core/tables/formats/code_table_file.hpp"

#include <gtest/gtest.h>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

TEST(ReadCodeTablesTest, StoresEmptyTablesAndReplacesWholeTables) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.make_directory("codetables");
  dir.write("codetables/1003.table", "");
  dir.write("codetables/20012.table", "# nothing but a comment\n");
  dir.write("codetables/2002.table", "1 1 CERTIFIED INSTRUMENTS\n");
  CodeTableMap code_tables;
  code_tables[1003] = CodeTable{{0, "ANTARCTICA"}, {1, "REGION I"}};
  code_tables[2002] = CodeTable{{2, "OLD"}};
  code_tables[4001] = CodeTable{{0, "KEPT"}};
  TextStore meanings;
  const Status status = read_code_tables(dir.at("codetables"), code_tables, meanings);
  ASSERT_TRUE(status.has_value()) << status.error().message();
  ASSERT_EQ(code_tables.size(), 4U);
  EXPECT_TRUE(code_tables.at(1003).empty());
  EXPECT_TRUE(code_tables.at(20012).empty());
  EXPECT_EQ(code_tables.at(2002), (CodeTable{{1, "CERTIFIED INSTRUMENTS"}}));
  EXPECT_EQ(code_tables.at(4001), (CodeTable{{0, "KEPT"}}));
}

TEST(ReadCodeTablesTest, MissingDirectoryFailsWhenReadDirectly) {
  // load_table_directory skips a missing "codetables"; the reader itself does not.
  test::ScratchDirectory dir("quorvel-tables");
  CodeTableMap code_tables;
  TextStore meanings;
  const Status status = read_code_tables(dir.at("codetables"), code_tables, meanings);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message(), "io error: No such file or directory (os error 2)");
}

}  // namespace
}  // namespace quorvel
