// read_whole_file and FileReader on real files: contents returned unchanged
// whatever their size, the errno of each way a read can fail, files that are
// not regular refused without waiting, and the table reader's bound.
#include "core/base/file_io.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/counting_poll.hpp"
#include "support/guarded_fifo.hpp"
#include "support/scratch_directory.hpp"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class ReadWholeFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quorvel-file-io-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_ / "locked", fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

  fs::path write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  fs::path dir_;
};

// Contents of several sizes: empty, one octet, and sizes around the 4096-octet
// first read and its doublings; zero octets must survive.
class ReadWholeFileSizes : public ReadWholeFile,
                           public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ReadWholeFileSizes, ReturnsTheExactContents) {
  std::vector<std::uint8_t> bytes(GetParam());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  }
  const fs::path path = write_file("data.bin", bytes);
  const auto read = read_whole_file(path.string());
  ASSERT_TRUE(read.has_value()) << describe_os_error(read.error().code);
  EXPECT_EQ(*read, bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadWholeFileSizes,
                         ::testing::Values(0u, 1u, 4095u, 4096u, 4097u, 8192u, 100000u));

// A file of two whole reads and a short one: a poll before each read, and a
// stop at any of them fails with EINTR and no content.
class ReadWholeFileInterrupt : public ReadWholeFile, public ::testing::WithParamInterface<int> {};

TEST_P(ReadWholeFileInterrupt, StopsAtThePollThatAsks) {
  std::vector<std::uint8_t> bytes(2 * kReadChunkSize + 5);
  for (std::size_t i = 0; i < bytes.size(); i += 4093) {
    bytes[i] = static_cast<std::uint8_t>(i / 4093);
  }
  const fs::path path = write_file("large.bin", bytes);
  testing::CountingPoll poll{GetParam()};
  const auto read = read_whole_file(path.string(), poll.interrupt());
  if (GetParam() == 0) {
    ASSERT_TRUE(read.has_value()) << describe_os_error(read.error().code);
    EXPECT_EQ(*read, bytes);
    EXPECT_EQ(poll.calls, 3);
  } else {
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().code, EINTR);
    EXPECT_EQ(poll.calls, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(StopAt, ReadWholeFileInterrupt, ::testing::Values(0, 1, 3));

// Files under /proc report size 0 yet have contents: the read must not stop at
// the size the file system reports.
TEST(ReadWholeFileProc, ReadsPastAReportedSizeOfZero) {
  if (!fs::exists("/proc/self/status")) {
    GTEST_SKIP() << "no /proc";
  }
  const auto read = read_whole_file("/proc/self/status");
  ASSERT_TRUE(read.has_value()) << describe_os_error(read.error().code);
  const std::string text(read->begin(), read->end());
  EXPECT_EQ(text.rfind("Name:", 0), 0u) << text.substr(0, 40);
  EXPECT_NE(text.find("\nPid:"), std::string::npos);
}

TEST_F(ReadWholeFile, MissingFileFailsWithEnoent) {
  const auto read = read_whole_file((dir_ / "absent.bufr").string());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().code, ENOENT);
  EXPECT_EQ(describe_os_error(read.error().code), "No such file or directory (os error 2)");
}

TEST_F(ReadWholeFile, DirectoryFailsWithEisdir) {
  const auto read = read_whole_file(dir_.string());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().code, EISDIR);
}

TEST_F(ReadWholeFile, PathThroughAFileFailsWithEnotdir) {
  const fs::path file = write_file("plain", {1, 2, 3});
  const auto read = read_whole_file((file / "inner").string());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().code, ENOTDIR);
}

TEST_F(ReadWholeFile, FollowsSymbolicLinks) {
  const fs::path target = write_file("target", {'B', 'U', 'F', 'R'});
  fs::create_symlink(target, dir_ / "link");
  const auto read = read_whole_file((dir_ / "link").string());
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, (std::vector<std::uint8_t>{'B', 'U', 'F', 'R'}));
}

TEST_F(ReadWholeFile, UnreadableFileFailsWithEacces) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root reads files whatever their permissions";
  }
  const fs::path path = write_file("locked", {1});
  fs::permissions(path, fs::perms::none);
  const auto read = read_whole_file(path.string());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().code, EACCES);
}

// A FIFO would block in open, or with a writer in read; a device may never
// end. Data files and table files alike are refused, by their own errors.
enum class SpecialFile { FifoAlone, FifoWithWriter, DevZero, DevNull };

struct SpecialFileCase {
  const char* name;
  SpecialFile kind;
};

class NonRegularFile : public ::testing::TestWithParam<SpecialFileCase> {};

TEST_P(NonRegularFile, IsRefusedWithoutWaiting) {
  const test::ScratchDirectory dir("quorvel-file-io");
  const std::string path = dir.at("special");
  std::optional<test::GuardedFifo> fifo;
  switch (GetParam().kind) {
    case SpecialFile::FifoAlone:
    case SpecialFile::FifoWithWriter:
      fifo.emplace(path, GetParam().kind == SpecialFile::FifoWithWriter);
      break;
    case SpecialFile::DevZero:
      dir.link("/dev/zero", "special");
      break;
    case SpecialFile::DevNull:
      dir.link("/dev/null", "special");
      break;
  }
  FileReader reader;
  const auto table = reader.read(AT_FDCWD, path.c_str());
  ASSERT_FALSE(table.has_value());
  EXPECT_EQ(table.error().kind, FileFault::Kind::NotRegularFile);
  const auto data = read_whole_file(path);
  ASSERT_FALSE(data.has_value());
  EXPECT_EQ(data.error().code, EINVAL);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NonRegularFile,
                         ::testing::Values(SpecialFileCase{"FifoAlone", SpecialFile::FifoAlone},
                                           SpecialFileCase{"FifoWithWriter",
                                                           SpecialFile::FifoWithWriter},
                                           SpecialFileCase{"DevZero", SpecialFile::DevZero},
                                           SpecialFileCase{"DevNull", SpecialFile::DevNull}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

// The bound is on what the file holds: a file of exactly the bound is read.
class FileReaderBound : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FileReaderBound, RefusesOnlyPastTheBound) {
  constexpr std::size_t kBound = 100;
  const test::ScratchDirectory dir("quorvel-file-io");
  const std::string content(GetParam(), 'x');
  dir.write("table", content);
  FileReader reader(kBound);
  const auto read = reader.read(AT_FDCWD, dir.at("table").c_str());
  if (GetParam() <= kBound) {
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, content);
    return;
  }
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().kind, FileFault::Kind::TooLarge);
  EXPECT_EQ(read.error().limit, kBound);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileReaderBound, ::testing::Values(99u, 100u, 101u, 5000u));

// A file whose reported size is 0 but which holds more than the bound: the
// reading itself must stop at the bound.
TEST(FileReaderBoundProc, StopsAFileThatOutgrowsItsReportedSize) {
  if (!fs::exists("/proc/self/status")) {
    GTEST_SKIP() << "no /proc";
  }
  FileReader reader(64);
  const auto read = reader.read(AT_FDCWD, "/proc/self/status");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().kind, FileFault::Kind::TooLarge);
}

// Table files stop at kMaxTableFileSize; data archives are read however large.
TEST(ReadWholeFileSparse, OnlyTableFilesAreBounded) {
  const test::ScratchDirectory dir("quorvel-file-io");
  dir.write_sparse("big", kMaxTableFileSize + 1);
  FileReader reader;
  const auto table = reader.read(AT_FDCWD, dir.at("big").c_str());
  ASSERT_FALSE(table.has_value());
  EXPECT_EQ(table.error().kind, FileFault::Kind::TooLarge);
  EXPECT_EQ(table.error().limit, kMaxTableFileSize);
  const auto data = read_whole_file(dir.at("big"));
  ASSERT_TRUE(data.has_value()) << describe_os_error(data.error().code);
  EXPECT_EQ(data->size(), kMaxTableFileSize + 1);
}

}  // namespace
}  // namespace quorvel
