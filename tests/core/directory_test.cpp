// Paths, what they name, and the sorted listing of a directory.
#include "core/base/directory.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/base/lossy_utf8.hpp"
#include "support/case_name.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

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
    test::case_name<JoinCase>);

TEST(PathPredicateTest, FollowSymbolicLinks) {
  test::ScratchDirectory dir("quorvel-tables");
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

// ---- list_directory ------------------------------------------------------------

struct ListCase {
  std::string_view name;
  std::vector<std::string> files;
  std::vector<std::string> directories;
  std::string_view prefix;
  std::string_view suffix;
  std::vector<std::string> expected;  // entry names, in the order listed
};

class ListDirectoryTest : public testing::TestWithParam<ListCase> {};

TEST_P(ListDirectoryTest, KeepsMatchingEntriesInByteOrder) {
  test::ScratchDirectory dir("quorvel-tables");
  for (const std::string& file : GetParam().files) {
    dir.write(file, "");
  }
  for (const std::string& directory : GetParam().directories) {
    dir.make_directory(directory);
  }
  const auto listed = list_directory(dir.path(), GetParam().prefix, GetParam().suffix);
  ASSERT_TRUE(listed.has_value()) << listed.error().message();
  std::vector<std::string> expected;
  for (const std::string& name : GetParam().expected) {
    expected.push_back(dir.at(name));
  }
  EXPECT_EQ(*listed, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Listing, ListDirectoryTest,
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
                 kReplacementCharacter,
                 ".table",
                 {"\xFF"
                  "1.table"}}),
    test::case_name<ListCase>);

TEST(ListDirectoryPathTest, TrailingSeparatorIsNotDoubled) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.write("1003.table", "");
  const auto listed = list_directory(dir.path() + "/", "", ".table");
  ASSERT_TRUE(listed.has_value()) << listed.error().message();
  EXPECT_EQ(*listed, std::vector<std::string>{dir.at("1003.table")});
}

TEST(ListDirectoryPathTest, ListsThroughALinkToADirectory) {
  test::ScratchDirectory dir("quorvel-tables");
  dir.make_directory("real");
  dir.write("real/1003.table", "");
  dir.link(dir.at("real"), "link");
  const auto listed = list_directory(dir.at("link"), "", ".table");
  ASSERT_TRUE(listed.has_value()) << listed.error().message();
  EXPECT_EQ(*listed, std::vector<std::string>{dir.at("link") + "/1003.table"});
}

}  // namespace
}  // namespace quorvel
