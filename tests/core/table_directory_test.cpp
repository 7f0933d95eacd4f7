// A table directory read over another, as a local one over the master; table
// files that are not regular or are too large, refused by name.
#include "core/tables/formats/table_directory.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/base/file_io.hpp"
#include "core/tables/table_set.hpp"
#include "support/guarded_fifo.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

TEST(ReadTableDirectoryTest, SecondDirectoryOverlaysTheFirst) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.make_directory("master/codetables");
  dir.write("master/element.table",
            "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
            "012101|airTemperature|double|TEMPERATURE/AIR TEMPERATURE|K|2|0|16|C|2|4\n");
  dir.write("master/sequence.def",
            "\"301011\" = [ 004001, 004002, 004003 ]\n\"307080\" = [ 301090 ]\n");
  dir.write("master/codetables/1003.table", "0 0 ANTARCTICA\n1 1 REGION I\n");
  dir.write("master/codetables/2002.table", "1 1 CERTIFIED INSTRUMENTS\n");
  dir.make_directory("local/codetables");
  dir.write("local/element.table",
            "012101|localTemperature|double|LOCAL TEMPERATURE|K|1|-100|12|C|1|3\n"
            "064001|localElement|long|LOCAL ELEMENT|Numeric|0|0|4|Numeric|0|1\n");
  dir.write("local/sequence.def", "\"307080\" = [ 064001 ]\n\"340001\" = [ 001001 ]\n");
  dir.write("local/codetables/1003.table", "5 5 LOCAL REGION\n");

  TableMaps maps;
  Status status = read_table_directory(dir.at("master"), maps);
  ASSERT_TRUE(status.has_value()) << status.error().message();
  status = read_table_directory(dir.at("local"), maps);
  ASSERT_TRUE(status.has_value()) << status.error().message();

  const TableSet tables(std::move(maps));
  EXPECT_EQ(tables.element_count(), 3U);
  EXPECT_EQ(tables.sequence_count(), 3U);
  EXPECT_EQ(tables.code_table_count(), 2U);
  ASSERT_NE(tables.find_element(12101), nullptr);
  EXPECT_EQ(tables.find_element(12101)->name, "LOCAL TEMPERATURE");
  EXPECT_EQ(tables.find_element(12101)->reference, -100);
  ASSERT_NE(tables.find_element(1001), nullptr);
  EXPECT_EQ(tables.find_element(1001)->name, "WMO BLOCK NUMBER");
  ASSERT_NE(tables.find_sequence(307080), nullptr);
  EXPECT_EQ(tables.find_sequence(307080)->members, std::vector<std::uint32_t>{64001});
  ASSERT_NE(tables.find_sequence(301011), nullptr);
  ASSERT_NE(tables.find_sequence(340001), nullptr);
  // The local code table replaces the master's whole, never merged with it.
  EXPECT_EQ(tables.find_meaning(1003, 0), std::nullopt);
  ASSERT_NE(tables.find_meaning(1003, 5), std::nullopt);
  EXPECT_EQ(*tables.find_meaning(1003, 5), "LOCAL REGION");
  ASSERT_NE(tables.find_meaning(2002, 1), std::nullopt);
  EXPECT_EQ(*tables.find_meaning(2002, 1), "CERTIFIED INSTRUMENTS");
}

enum class Refused { FifoAlone, FifoWithWriter, DevZero, Sparse };

struct RefusedCase {
  const char* name;
  const char* entry;
  // element.table words its read failures as a table problem, the others as
  // io errors.
  const char* prefix;
  Refused kind;
};

class RefusedTableFile : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedTableFile, FailsNamingTheFile) {
  const RefusedCase& param = GetParam();
  const test::ScratchDirectory dir("quorvel-tables");
  dir.make_directory("codetables");
  for (const char* entry : {"element.table", "sequence.def", "codetables/1001.table"}) {
    if (std::string(entry) != param.entry) {
      dir.write(entry, "");
    }
  }
  std::optional<test::GuardedFifo> fifo;
  std::string reason = "is not a regular file";
  switch (param.kind) {
    case Refused::FifoAlone:
    case Refused::FifoWithWriter:
      fifo.emplace(dir.at(param.entry), param.kind == Refused::FifoWithWriter);
      break;
    case Refused::DevZero:
      dir.link("/dev/zero", param.entry);
      break;
    case Refused::Sparse:
      // 65 MiB, past the bound but written as a hole.
      dir.write_sparse(param.entry, std::uintmax_t{65} * 1024 * 1024);
      reason = fmt::format("is larger than {} bytes", kMaxTableFileSize);
      break;
  }
  TableMaps maps;
  const Status status = read_table_directory(dir.path(), maps);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message(),
            fmt::format("{}{} {}", param.prefix, dir.at(param.entry), reason));
}

constexpr const char* kTextPrefix = "csv/table parse error: ";
constexpr const char* kIoPrefix = "io error: ";

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedTableFile,
    ::testing::Values(
        RefusedCase{"ElementFifoAlone", "element.table", kTextPrefix, Refused::FifoAlone},
        RefusedCase{"ElementFifoWithWriter", "element.table", kTextPrefix, Refused::FifoWithWriter},
        RefusedCase{"ElementDevZero", "element.table", kTextPrefix, Refused::DevZero},
        RefusedCase{"ElementSparse", "element.table", kTextPrefix, Refused::Sparse},
        RefusedCase{"SequenceFifoWithWriter", "sequence.def", kIoPrefix, Refused::FifoWithWriter},
        RefusedCase{"SequenceDevZero", "sequence.def", kIoPrefix, Refused::DevZero},
        RefusedCase{"SequenceSparse", "sequence.def", kIoPrefix, Refused::Sparse},
        RefusedCase{"CodeTableFifoAlone", "codetables/1001.table", kIoPrefix, Refused::FifoAlone},
        RefusedCase{"CodeTableDevZero", "codetables/1001.table", kIoPrefix, Refused::DevZero},
        RefusedCase{"CodeTableSparse", "codetables/1001.table", kIoPrefix, Refused::Sparse}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace quorvel
