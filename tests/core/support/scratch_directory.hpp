// A fresh directory under the system's temporary directory for a test's
// files, removed with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvel::test {

class ScratchDirectory {
 public:
  // `prefix` starts the directory's name, for telling leftovers apart.
  explicit ScratchDirectory(std::string_view prefix = "quorvel") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = pattern;
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::string& path() const { return path_; }
  std::string at(std::string_view name) const { return path_ + "/" + std::string(name); }

  void write(std::string_view name, std::string_view content) const {
    std::ofstream out(at(name), std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << name;
  }
  void make_directory(std::string_view name) const {
    std::filesystem::create_directories(at(name));
  }
  void link(std::string_view target, std::string_view name) const {
    std::filesystem::create_symlink(target, at(name));
  }
  // A file of `size` zero bytes that takes no disk space.
  void write_sparse(std::string_view name, std::uintmax_t size) const {
    write(name, "");
    std::filesystem::resize_file(at(name), size);
  }

 private:
  std::string path_;
};

}  // namespace quorvel::test
