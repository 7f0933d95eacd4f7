// resolve_table_directory on paths that the definitions-root selection never
// builds but the function must still take: trailing separators, relative and
// single-component paths, "." and ".." components, links and undecodable
// names. The path it returns is built from the path it was given.
#include "core/tables/definitions_root.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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

}  // namespace
}  // namespace quorvel
