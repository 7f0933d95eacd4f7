// Whole-file reads and the text of operating-system errors, shared by the
// module functions that read a file and by the table loaders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tl/expected.hpp>
#include <vector>

#include "core/base/bufr_error.hpp"

namespace quorvel {

// A failed system call, by its errno value.
struct OsError {
  int code;
};

// "No such file or directory (os error 2)": the system's text and its number.
std::string describe_os_error(int errno_value);

// Reads the whole file at `path` (opened as given, following symbolic links).
// A directory fails with EISDIR.
tl::expected<std::vector<std::uint8_t>, OsError> read_whole_file(const std::string& path);

// Reads whole files as read_whole_file does, with the same errors, into one
// buffer kept from file to file: for directories of hundreds of small files,
// where the system calls and allocations per file are most of the cost.
class FileReader {
 public:
  // The content of `name`, opened relative to the directory `directory_fd` (or
  // to the working directory for AT_FDCWD). The view stays valid until the
  // next read.
  tl::expected<std::string_view, OsError> read(int directory_fd, const char* name);

 private:
  std::vector<char> buffer_;
};

// The content of `name` read by `reader` as FileReader::read does, checked to
// be UTF-8 text. Fails with Io: the system's error, or invalid UTF-8.
Expected<std::string_view> read_utf8_file(FileReader& reader, int directory_fd, const char* name);

}  // namespace quorvel
