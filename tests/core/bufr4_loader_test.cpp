// load_bufr4_tables: which rows and files win, by sorted name.
#include "core/tables/formats/bufr4_loader.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/file_io.hpp"
#include "core/tables/table_set.hpp"
#include "support/guarded_fifo.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

constexpr std::string_view kTableBHeader =
    "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,"
    "BUFR_DataWidth_Bits,CREX_Unit,CREX_Scale,CREX_DataWidth_Char,Note_en,noteIDs,Status\n";
constexpr std::string_view kTableDHeader =
    "Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,ElementName_en,"
    "ElementDescription_en,Note_en,noteIDs,Status\n";

std::string table_b_row(std::string_view code, std::string_view name, std::string_view unit) {
  return "01,Identification," + std::string(code) + "," + std::string(name) + "," +
         std::string(unit) + ",0,0,7,Numeric,0,2,,,Operational\n";
}

std::string table_d_row(std::string_view sequence, std::string_view member) {
  return "01,Location," + std::string(sequence) + ",(Title),," + std::string(member) +
         ",Name,,,,Operational\n";
}

TEST(LoadBufr4TablesTest, LaterRowsAndFilesWinBySortedName) {
  test::ScratchDirectory dir("quorvel-tables");
  // "_10" sorts before "_9": the byte order of names decides, not the number.
  dir.write("BUFRCREX_TableB_en_9.csv",
            std::string(kTableBHeader) + table_b_row("001001", "FROM 9", "Numeric"));
  dir.write("BUFRCREX_TableB_en_10.csv", std::string(kTableBHeader) +
                                             table_b_row("001001", "FROM 10", "Numeric") +
                                             table_b_row("001003", "FIRST", "Numeric") +
                                             table_b_row("001003", "REGION", "Code table"));
  dir.write("BUFR_TableD_en_9.csv", std::string(kTableDHeader) + table_d_row("301001", "000009"));
  dir.write("BUFR_TableD_en_10.csv", std::string(kTableDHeader) + table_d_row("301001", "000001") +
                                         table_d_row("301002", "000002") +
                                         table_d_row("301001", "000003") +
                                         table_d_row("301003", "000004"));
  dir.write("BUFR_TableD_en_11.csv", std::string(kTableDHeader) + table_d_row("301002", "000005") +
                                         table_d_row("301002", "000006"));

  const auto tables = load_bufr4_tables(dir.path());
  ASSERT_TRUE(tables.has_value()) << tables.error().message();
  EXPECT_EQ(tables->element_count(), 2U);
  EXPECT_EQ(tables->sequence_count(), 3U);
  EXPECT_EQ(tables->code_table_count(), 0U);

  ASSERT_NE(tables->find_element(1001), nullptr);
  EXPECT_EQ(tables->find_element(1001)->name, "FROM 9");
  const ElementDefinition* region = tables->find_element(1003);
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(region->name, "REGION");
  EXPECT_EQ(region->element_type, "code");
  EXPECT_EQ(region->abbreviation, "");

  const auto members = [&](std::uint32_t code) {
    const SequenceDefinition* sequence = tables->find_sequence(code);
    return sequence == nullptr ? std::vector<std::uint32_t>{999999} : sequence->members;
  };
  EXPECT_EQ(members(301001), std::vector<std::uint32_t>{9});  // "_9" is read last
  EXPECT_EQ(members(301002), (std::vector<std::uint32_t>{5, 6}));
  EXPECT_EQ(members(301003), std::vector<std::uint32_t>{4});
  EXPECT_EQ(tables->find_sequence(301001)->code, 301001U);
}

// A Table B or D file that is a FIFO or past the bound fails the load, named.
struct RefusedCsvCase {
  const char* name;
  const char* file;
  bool fifo;
};

class RefusedCsvFile : public testing::TestWithParam<RefusedCsvCase> {};

TEST_P(RefusedCsvFile, FailsNamingTheFile) {
  test::ScratchDirectory dir("quorvel-tables");
  const std::string path = dir.at(GetParam().file);
  std::optional<test::GuardedFifo> fifo;
  std::string reason = "is not a regular file";
  if (GetParam().fifo) {
    fifo.emplace(path, true);
  } else {
    dir.write_sparse(GetParam().file, kMaxTableFileSize + 1);
    reason = fmt::format("is larger than {} bytes", kMaxTableFileSize);
  }
  const auto tables = load_bufr4_tables(dir.path());
  ASSERT_FALSE(tables.has_value());
  EXPECT_EQ(tables.error().message(), fmt::format("csv/table parse error: {} {}", path, reason));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedCsvFile,
    testing::Values(RefusedCsvCase{"TableBFifo", "BUFRCREX_TableB_en_01.csv", true},
                    RefusedCsvCase{"TableDSparse", "BUFR_TableD_en_01.csv", false}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace quorvel
