// The table loaders below the Python layer: directory listing, path helpers,
// readers that add to maps already holding entries (as a master directory and
// then a local one are read into one table set), and BUFR4 file precedence.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/tables/formats/bufr4_loader.hpp"
#include "core/tables/formats/table_directory.hpp"
#include "core/tables/table_set.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param_info) {
  return std::string(param_info.param.name);
}

// Test files under "quorvel-tables-XXXXXX".
class TempDirectory : public test::ScratchDirectory {
 public:
  TempDirectory() : test::ScratchDirectory("quorvel-tables") {}
};

// ---- join_path, to_utf8_lossy and the path predicates ----------------------------

struct JoinCase {
  std::string_view name;
  std::string_view directory;
  std::string_view entry;
  std::string_view expected;
};

class JoinPathTest : public testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathTest, JoinsWithOneSeparator) {
  EXPECT_EQ(join_path(GetParam().directory, GetParam().entry), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, JoinPathTest,
    testing::Values(JoinCase{"Plain", "tables/37", "element.table", "tables/37/element.table"},
                    JoinCase{"TrailingSeparator", "tables/37/", "sequence.def",
                             "tables/37/sequence.def"},
                    JoinCase{"Root", "/", "codetables", "/codetables"},
                    JoinCase{"EmptyDirectory", "", "element.table", "element.table"}),
    case_name<JoinCase>);

struct LossyCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

class Utf8LossyTest : public testing::TestWithParam<LossyCase> {};

TEST_P(Utf8LossyTest, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(to_utf8_lossy(GetParam().input), GetParam().expected);
}

#define QV_FFFD "\xEF\xBF\xBD"

INSTANTIATE_TEST_SUITE_P(
    Names, Utf8LossyTest,
    testing::Values(LossyCase{"Empty", "", ""}, LossyCase{"Ascii", "1003.table", "1003.table"},
                    LossyCase{"ValidMultibyte", "r\xC3\xA9gion \xF0\x9F\x98\x80",
                              "r\xC3\xA9gion \xF0\x9F\x98\x80"},
                    LossyCase{"ReplacementCharacterKept", QV_FFFD "x", QV_FFFD "x"},
                    LossyCase{"TwoBadBytes", "\xFF\xFE", QV_FFFD QV_FFFD},
                    LossyCase{"LeadThenAscii", "\xC3(", QV_FFFD "("}),
    case_name<LossyCase>);

TEST(PathPredicateTest, FollowSymbolicLinks) {
  TempDirectory dir;
  dir.write("file", "x");
  dir.make_directory("directory");
  dir.link(dir.at("directory"), "to_directory");
  dir.link(dir.at("file"), "to_file");
  dir.link(dir.at("nowhere"), "dangling");

  struct Expectation {
    std::string_view entry;
    bool exists;
    bool directory;
    bool regular;
  };
  for (const Expectation& e :
       {Expectation{"file", true, false, true}, Expectation{"directory", true, true, false},
        Expectation{"to_directory", true, true, false}, Expectation{"to_file", true, false, true},
        Expectation{"dangling", false, false, false},
        Expectation{"missing", false, false, false}}) {
    const std::string path = dir.at(e.entry);
    EXPECT_EQ(path_exists(path), e.exists) << e.entry;
    EXPECT_EQ(is_directory(path), e.directory) << e.entry;
    EXPECT_EQ(is_regular_file(path), e.regular) << e.entry;
  }
}

// ---- list_table_files ------------------------------------------------------------

struct ListCase {
  std::string_view name;
  std::vector<std::string> files;
  std::vector<std::string> directories;
  std::string_view prefix;
  std::string_view suffix;
  std::vector<std::string> expected;  // entry names, in the order listed
};

class ListTableFilesTest : public testing::TestWithParam<ListCase> {};

TEST_P(ListTableFilesTest, KeepsMatchingEntriesInByteOrder) {
  TempDirectory dir;
  for (const std::string& file : GetParam().files) {
    dir.write(file, "");
  }
  for (const std::string& directory : GetParam().directories) {
    dir.make_directory(directory);
  }
  const auto listed = list_table_files(dir.path(), GetParam().prefix, GetParam().suffix);
  ASSERT_TRUE(listed.has_value()) << listed.error().message();
  std::vector<std::string> expected;
  for (const std::string& name : GetParam().expected) {
    expected.push_back(dir.at(name));
  }
  EXPECT_EQ(*listed, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Listing, ListTableFilesTest,
    testing::Values(
        ListCase{"Empty", {}, {}, "", ".table", {}},
        ListCase{"ByteOrderNotNumericOrder",
                 {"9.table", "10.table", "b.table", "B.table", "_.table", "a.table"},
                 {},
                 "",
                 ".table",
                 {"10.table", "9.table", "B.table", "_.table", "a.table", "b.table"}},
        ListCase{"PrefixOfAnotherNameSortsFirst",
                 {"1.table.table", "1.table", "1.tablf.table"},
                 {},
                 "",
                 ".table",
                 {"1.table", "1.table.table", "1.tablf.table"}},
        ListCase{"SuffixIsCaseSensitive",
                 {"1.table", "2.TABLE", "3.Table", "4.tables", "5table", "6.table~"},
                 {},
                 "",
                 ".table",
                 {"1.table"}},
        ListCase{"PrefixAndSuffixMayOverlap",
                 {"abc", "ab", "bc", "abbc", "xabc", "abcx"},
                 {},
                 "ab",
                 "bc",
                 {"abbc", "abc"}},
        ListCase{"NothingRequiredBetween",
                 {"BUFR_TableD_en_.csv", "BUFR_TableD_en_.cs", "BUFR_TableD_en.csv",
                  "BUFR_TableD_en_07.csv", "bufr_TableD_en_07.csv"},
                 {},
                 "BUFR_TableD_en_",
                 ".csv",
                 {"BUFR_TableD_en_.csv", "BUFR_TableD_en_07.csv"}},
        ListCase{"KindOfEntryPlaysNoPart",
                 {"2.table"},
                 {"1.table", "3.table"},
                 "",
                 ".table",
                 {"1.table", "2.table", "3.table"}},
        ListCase{
            "EverythingButDotEntries", {".hidden", "a"}, {"sub"}, "", "", {".hidden", "a", "sub"}},
        // Names are matched and sorted with invalid UTF-8 replaced by U+FFFD,
        // which puts the raw bytes F0 and FF before a real U+FFFD (EF BF BD)
        // followed by "z"; the listed paths keep the names as stored.
        ListCase{"InvalidUtf8SortsByReplacedName",
                 {"\xEF\xBF\xBDz.table", "\xF0x.table", "\xFF.table", "1.table"},
                 {},
                 "",
                 ".table",
                 {"1.table", "\xFF.table", "\xF0x.table", "\xEF\xBF\xBDz.table"}},
        ListCase{"ReplacementCharacterMatchesPrefix",
                 {"\xFF"
                  "1.table",
                  "1.table"},
                 {},
                 QV_FFFD,
                 ".table",
                 {"\xFF"
                  "1.table"}}),
    case_name<ListCase>);

TEST(ListTableFilesPathTest, TrailingSeparatorIsNotDoubled) {
  TempDirectory dir;
  dir.write("1003.table", "");
  const auto listed = list_table_files(dir.path() + "/", "", ".table");
  ASSERT_TRUE(listed.has_value()) << listed.error().message();
  EXPECT_EQ(*listed, std::vector<std::string>{dir.at("1003.table")});
}

TEST(ListTableFilesPathTest, ListsThroughALinkToADirectory) {
  TempDirectory dir;
  dir.make_directory("real");
  dir.write("real/1003.table", "");
  dir.link(dir.at("real"), "link");
  const auto listed = list_table_files(dir.at("link"), "", ".table");
  ASSERT_TRUE(listed.has_value()) << listed.error().message();
  EXPECT_EQ(*listed, std::vector<std::string>{dir.at("link") + "/1003.table"});
}

// ---- Readers adding to filled maps ---------------------------------------------------

ElementDefinition element(std::uint32_t code, std::string name) {
  ElementDefinition definition;
  definition.code = code;
  definition.name = std::move(name);
  return definition;
}

TEST(ReadElementTableTest, ReplacesAndKeepsExistingEntries) {
  TempDirectory dir;
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

TEST(ReadSequenceDefTest, ReplacesAndKeepsExistingEntries) {
  TempDirectory dir;
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

TEST(ReadCodeTablesTest, StoresEmptyTablesAndReplacesWholeTables) {
  TempDirectory dir;
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
  TempDirectory dir;
  CodeTableMap code_tables;
  TextStore meanings;
  const Status status = read_code_tables(dir.at("codetables"), code_tables, meanings);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message(), "io error: No such file or directory (os error 2)");
}

TEST(ReadTableDirectoryTest, SecondDirectoryOverlaysTheFirst) {
  TempDirectory dir;
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

// ---- CodeTable and the lifetime of meanings ----------------------------------------

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
                         case_name<CodeTableCase>);

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

TEST(TableSetMeaningTest, TextKeepsItsAddressWhenTheSetMoves) {
  TempDirectory dir;
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

// ---- load_bufr4_tables precedence ------------------------------------------------------

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
  TempDirectory dir;
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

}  // namespace
}  // namespace quorvel
