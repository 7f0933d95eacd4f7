// resolve_table_directory on paths that the definitions-root selection never
// builds but the function must still take: trailing separators, relative and
// single-component paths, "." and ".." components, links and undecodable
// names. The path it returns is built from the path it was given.
#include "core/tables/definitions_root.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// Test files under "quorvel-definitions-XXXXXX".
class ScratchDirectory : public test::ScratchDirectory {
 public:
  ScratchDirectory() : test::ScratchDirectory("quorvel-definitions") {}
};

// Runs the test inside `directory`, for paths without a directory part.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& directory) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) != nullptr) {
      previous_ = buffer;
    }
    EXPECT_EQ(::chdir(directory.c_str()), 0);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  ~WorkingDirectory() {
    if (!previous_.empty()) {
      EXPECT_EQ(::chdir(previous_.c_str()), 0);
    }
  }

 private:
  std::string previous_;
};

std::string missing_text(std::string_view path) {
  return fmt::format("csv/table parse error: ecCodes table directory does not exist: {}", path);
}

// A scratch "wmo" directory: 36 is a table directory, 37 an alias of 36.
class ResolveTest : public testing::Test {
 protected:
  void SetUp() override {
    scratch_.make_directory("wmo/36");
    scratch_.write("wmo/37", "36\n");
  }

  const ScratchDirectory& scratch() const { return scratch_; }

 private:
  ScratchDirectory scratch_;
};

struct PathCase {
  std::string_view name;
  std::string_view path;      // below the scratch directory
  std::string_view resolved;  // below the scratch directory
};

std::string path_name(const testing::TestParamInfo<PathCase>& info) {
  return std::string(info.param.name);
}

class ResolvePathTest : public ResolveTest, public testing::WithParamInterface<PathCase> {};

TEST_P(ResolvePathTest, ResolvesBesideTheGivenPath) {
  const PathCase& c = GetParam();
  const auto resolved = resolve_table_directory(scratch().at(c.path));
  ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
  EXPECT_EQ(*resolved, scratch().at(c.resolved));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ResolvePathTest,
    testing::Values(PathCase{"Directory", "wmo/36", "wmo/36"},
                    PathCase{"DirectoryWithTrailingSeparator", "wmo/36/", "wmo/36/"},
                    PathCase{"DirectoryWithDoubledSeparators", "wmo//36//", "wmo//36//"},
                    PathCase{"Alias", "wmo/37", "wmo/36"},
                    PathCase{"AliasBehindDot", "wmo/./37", "wmo/./36"},
                    PathCase{"AliasBehindDotDot", "wmo/36/../37", "wmo/36/../36"},
                    PathCase{"AliasBehindDoubledSeparator", "wmo//37", "wmo/36"}),
    path_name);

TEST_F(ResolveTest, AnAliasFileWithATrailingSeparatorDoesNotExist) {
  const auto resolved = resolve_table_directory(scratch().at("wmo/37/"));
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(), missing_text(scratch().at("wmo/37/")));
}

TEST_F(ResolveTest, ARelativeSingleComponentAlias) {
  const WorkingDirectory inside(scratch().at("wmo"));
  const auto resolved = resolve_table_directory("37");
  ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
  EXPECT_EQ(*resolved, "36");
}

TEST_F(ResolveTest, ARelativeAliasWithADirectoryPart) {
  const WorkingDirectory inside(scratch().path());
  const auto resolved = resolve_table_directory("wmo/37");
  ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
  EXPECT_EQ(*resolved, "wmo/36");
}

TEST_F(ResolveTest, ARelativeBrokenAliasNamesTheTargetAsBuilt) {
  scratch().write("wmo/38", "99");
  const WorkingDirectory inside(scratch().at("wmo"));
  const auto resolved = resolve_table_directory("38");
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(), missing_text("99"));
}

TEST(ResolveRootTest, TheRootDirectory) {
  const auto resolved = resolve_table_directory("/");
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(*resolved, "/");
}

TEST(ResolveRootTest, AnEmptyPathDoesNotExist) {
  const auto resolved = resolve_table_directory("");
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(), missing_text(""));
}

TEST_F(ResolveTest, ALinkedAliasResolvesBesideTheLink) {
  // The alias file lives elsewhere; its name is read beside the link.
  scratch().make_directory("elsewhere/36");
  scratch().write("elsewhere/alias", "36");
  scratch().link("../elsewhere/alias", "wmo/38");
  const auto resolved = resolve_table_directory(scratch().at("wmo/38"));
  ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
  EXPECT_EQ(*resolved, scratch().at("wmo/36"));
}

TEST_F(ResolveTest, ALinkToADirectoryIsReturnedAsGiven) {
  scratch().link("36", "wmo/10");
  const auto resolved = resolve_table_directory(scratch().at("wmo/10"));
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(*resolved, scratch().at("wmo/10"));
}

TEST_F(ResolveTest, UndecodableNamesAreShownWithReplacementCharacters) {
  scratch().write("wmo/38",
                  "\xff"
                  "99");
  const auto resolved = resolve_table_directory(scratch().at("wmo/38"));
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(), "io error: stream did not contain valid UTF-8");

  const auto missing = resolve_table_directory(scratch().at("wmo/\xfe\xff"));
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), missing_text(scratch().at("wmo/\xEF\xBF\xBD\xEF\xBF\xBD")));
}

// ---- The alias bound ----------------------------------------------------------------

// Writes alias files a0 -> a1 -> ... a(length - 1) -> `target` into wmo.
void write_chain(const ScratchDirectory& scratch, int length, std::string_view target) {
  for (int i = 0; i < length; ++i) {
    const std::string next = i + 1 == length ? std::string(target) : fmt::format("a{}", i + 1);
    scratch.write(fmt::format("wmo/a{}", i), next);
  }
}

struct ChainCase {
  std::string_view name;
  int length;
  bool resolves;
};

std::string chain_name(const testing::TestParamInfo<ChainCase>& info) {
  return std::string(info.param.name);
}

class AliasChainTest : public ResolveTest, public testing::WithParamInterface<ChainCase> {};

TEST_P(AliasChainTest, FollowsUpToTheBound) {
  write_chain(scratch(), GetParam().length, "36");
  const std::string start = scratch().at("wmo/a0");
  const auto resolved = resolve_table_directory(start);
  if (GetParam().resolves) {
    ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
    EXPECT_EQ(*resolved, scratch().at("wmo/36"));
    return;
  }
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(),
            fmt::format("csv/table parse error: ecCodes table aliases from {} form a loop or a "
                        "chain longer than {}",
                        start, kMaxTableAliases));
}

INSTANTIATE_TEST_SUITE_P(Lengths, AliasChainTest,
                         testing::Values(ChainCase{"One", 1, true},
                                         ChainCase{"AtTheBound", kMaxTableAliases, true},
                                         ChainCase{"PastTheBound", kMaxTableAliases + 1, false}),
                         chain_name);

TEST_F(ResolveTest, ALoopIsReportedFromWhereItWasEntered) {
  scratch().write("wmo/38", "39");
  scratch().write("wmo/39", "40");
  scratch().write("wmo/40", "39");
  const auto resolved = resolve_table_directory(scratch().at("wmo/38"));
  ASSERT_FALSE(resolved.has_value());
  ASSERT_TRUE(std::holds_alternative<error::Text>(resolved.error().kind()));
  EXPECT_EQ(resolved.error().message(),
            fmt::format("csv/table parse error: ecCodes table aliases from {} form a loop or a "
                        "chain longer than 32",
                        scratch().at("wmo/38")));
}

TEST_F(ResolveTest, ALinkThatPointsAtItself) {
  // A symbolic link loop is neither a directory nor a file.
  scratch().link("38", "wmo/38");
  const auto resolved = resolve_table_directory(scratch().at("wmo/38"));
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(), missing_text(scratch().at("wmo/38")));
}

// An alias names one directory; a file past the bound is refused before any
// of it is trimmed, however much of it is white space.
class AliasFileSizeTest : public ResolveTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(AliasFileSizeTest, IsReadUpToTheBound) {
  std::string content = "36";
  content.resize(GetParam(), '\n');
  scratch().write("wmo/38", content);
  const auto resolved = resolve_table_directory(scratch().at("wmo/38"));
  if (GetParam() <= kMaxTableAliasFileSize) {
    ASSERT_TRUE(resolved.has_value()) << resolved.error().message();
    EXPECT_EQ(*resolved, scratch().at("wmo/36"));
    return;
  }
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message(),
            fmt::format("io error: {} is larger than 4096 bytes", scratch().at("wmo/38")));
}

INSTANTIATE_TEST_SUITE_P(Sizes, AliasFileSizeTest,
                         testing::Values(kMaxTableAliasFileSize, kMaxTableAliasFileSize + 1,
                                         std::size_t{5} * 1024));

// ---- What a selection consulted -------------------------------------------------------

// A root whose master version 37 is an alias of 36, with local tables 1 of
// centre 98.
class ConsultedTest : public testing::Test {
 protected:
  void SetUp() override {
    scratch_.make_directory("bufr/tables/0/wmo/36/codetables");
    scratch_.write("bufr/tables/0/wmo/36/element.table",
                   "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n");
    scratch_.write("bufr/tables/0/wmo/36/sequence.def", "\"301011\" = [ 001001 ]\n");
    scratch_.write("bufr/tables/0/wmo/37", "36");
    scratch_.make_directory("bufr/tables/0/local/1/98/0");
    scratch_.write("bufr/tables/0/local/1/98/0/element.table",
                   "064001|localElement|long|LOCAL ELEMENT|Numeric|0|0|4|Numeric|0|1\n");
    message_.master_tables_version_number = 37;
    message_.local_tables_version_number = 1;
    message_.originating_centre = 98;
  }

  std::vector<ConsultedPath> select() {
    std::vector<ConsultedPath> consulted;
    const auto tables = select_definition_tables(scratch_.path(), message_, &consulted);
    EXPECT_TRUE(tables.has_value()) << tables.error().message();
    return consulted;
  }

  ScratchDirectory scratch_;
  BufrMessage message_;
};

TEST_F(ConsultedTest, NamesEveryPathReadOrLookedFor) {
  std::vector<std::string> paths;
  for (const ConsultedPath& entry : select()) {
    paths.push_back(entry.path);
  }
  const std::string wmo = scratch_.at("bufr/tables/0/wmo/");
  const std::string local = scratch_.at("bufr/tables/0/local/1/98/0");
  EXPECT_EQ(paths,
            (std::vector<std::string>{wmo + "37", wmo + "36/element.table", wmo + "36/sequence.def",
                                      wmo + "36/codetables", local, local + "/element.table",
                                      local + "/sequence.def", local + "/codetables"}));
}

// Each change a reload must see: a rewritten file, a directory whose entries
// changed, an alias pointed elsewhere, a file that appears where none was.
// The clock may not tick between two writes, so the changed path's time is
// moved on explicitly.
TEST_F(ConsultedTest, AnyChangeIsSeen) {
  struct Change {
    std::string_view written;
    std::string_view content;
    std::string_view moved;
  };
  const std::vector<Change> changes = {
      {"bufr/tables/0/wmo/36/element.table", "", "bufr/tables/0/wmo/36/element.table"},
      {"bufr/tables/0/wmo/36/codetables/1.table", "", "bufr/tables/0/wmo/36/codetables"},
      {"bufr/tables/0/wmo/37", "36\n", "bufr/tables/0/wmo/37"},
      {"bufr/tables/0/local/1/98/0/sequence.def", "", "bufr/tables/0/local/1/98/0/sequence.def"}};
  auto later = fs::file_time_type::clock::now();
  for (const auto& [written, content, moved] : changes) {
    const std::vector<ConsultedPath> consulted = select();
    EXPECT_FALSE(any_path_changed(consulted)) << written;
    scratch_.write(written, content);
    later += std::chrono::hours(1);
    fs::last_write_time(scratch_.at(moved), later);
    EXPECT_TRUE(any_path_changed(consulted)) << written;
  }
}

// ---- The default root ----------------------------------------------------------------

struct RootCase {
  std::string_view name;
  std::optional<std::string_view> variable;  // "@" stands for the scratch directory
  bool system_exists;
  std::string_view chosen;  // "@" or "system"; empty when an error is expected
  std::string_view error;
};

std::string root_name(const testing::TestParamInfo<RootCase>& info) {
  return std::string(info.param.name);
}

class DefaultRootTest : public testing::TestWithParam<RootCase> {};

TEST_P(DefaultRootTest, KeepsTheExistingDirectories) {
  const RootCase& c = GetParam();
  const ScratchDirectory scratch;
  scratch.make_directory("system");
  const auto placed = [&](std::string_view text) {
    std::string result(text);
    for (std::size_t at = result.find('@'); at != std::string::npos; at = result.find('@')) {
      result.replace(at, 1, scratch.path());
    }
    return result;
  };
  const std::string system = scratch.at(c.system_exists ? "system" : "none");
  std::optional<std::string> variable;
  if (c.variable) {
    variable = placed(*c.variable);
  }
  const auto chosen = choose_definitions_root(variable, system);
  if (c.chosen.empty()) {
    ASSERT_FALSE(chosen.has_value());
    EXPECT_NE(chosen.error().message().find(placed(c.error)), std::string::npos)
        << chosen.error().message();
    return;
  }
  ASSERT_TRUE(chosen.has_value()) << chosen.error().message();
  EXPECT_EQ(*chosen, c.chosen == "system" ? system : placed(c.chosen));
}

INSTANTIATE_TEST_SUITE_P(Values, DefaultRootTest,
                         testing::Values(RootCase{"Unset", std::nullopt, true, "system", ""},
                                         RootCase{"Empty", "", true, "system", ""},
                                         RootCase{"ExistingEntries", "@/missing::@/system:@", true,
                                                  "@/system:@", ""},
                                         RootCase{"NoExistingEntry", "@/a:@/b", true, "",
                                                  "ECCODES_DEFINITION_PATH names no "
                                                  "existing directory: \"@/a:@/b\""},
                                         RootCase{"NothingInstalled", std::nullopt, false, "",
                                                  "apt install libeccodes-data"}),
                         root_name);

}  // namespace
}  // namespace quorvel
