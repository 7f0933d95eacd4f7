// Whole-file reads and the text of operating-system errors, shared by the
// module functions that read a file and by the table loaders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <tl/expected.hpp>

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

}  // namespace quorvel
