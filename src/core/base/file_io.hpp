// Whole-file reads and the text of operating-system errors, shared by the
// module functions that read a file and by the table loaders. Only regular
// files are read: a FIFO may never answer and a device may never end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tl/expected.hpp>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/base/interrupt.hpp"

namespace quorvel {

// A failed system call, by its errno value.
struct OsError {
  int code;
};

// "No such file or directory (os error 2)": the system's text and its number.
std::string describe_os_error(int errno_value);

// Reads the whole file at `path` (opened as given, following symbolic links),
// however large: data archives can be. A directory fails with EISDIR, any
// other file that is not a regular file (a FIFO, a device) with EINVAL.
// `interrupt` is polled before each read of at most kReadChunkSize octets; a
// stop fails with EINTR.
tl::expected<std::vector<std::uint8_t>, OsError> read_whole_file(const std::string& path,
                                                                 Interrupt interrupt = {});

// The most one read() asks for: small enough that a poll between reads comes
// well within 100 ms even from a slow disk, large enough to cost nothing.
inline constexpr std::size_t kReadChunkSize = std::size_t{16} * 1024 * 1024;

// The most a table file may hold. The largest real one is well under 1 MiB;
// the bound keeps a runaway file from filling memory.
inline constexpr std::size_t kMaxTableFileSize = std::size_t{64} * 1024 * 1024;

// Why a table file was not read: a failed system call, or a file refused
// before or while it was read.
struct FileFault {
  enum class Kind { System, NotRegularFile, TooLarge };
  Kind kind;
  // System: the errno of the failed call.
  int code = 0;
  // TooLarge: the bound the file went past.
  std::size_t limit = 0;
};

// Reads table files whole into one buffer kept from file to file: for
// directories of hundreds of small files, where the system calls and
// allocations per file are most of the cost.
class FileReader {
 public:
  explicit FileReader(std::size_t max_size = kMaxTableFileSize) : max_size_(max_size) {}

  // The content of `name`, opened relative to the directory `directory_fd` (or
  // to the working directory for AT_FDCWD) without waiting on a FIFO. A
  // directory fails with System EISDIR, any other file that is not regular
  // with NotRegularFile, one holding more than the reader's bound with
  // TooLarge. The view stays valid until the next read.
  tl::expected<std::string_view, FileFault> read(int directory_fd, const char* name);

 private:
  std::size_t max_size_;
  std::vector<char> buffer_;
};

// A failed table-file read at `path` as an error: io_read_error always as Io,
// for the files whose system failures show as "io error"; text_read_error as
// Text, for element.table and the BUFR4 CSV files. A refused file names
// `path` and, past the bound, the bound.
BufrError io_read_error(const FileFault& fault, std::string_view path);
BufrError text_read_error(const FileFault& fault, std::string_view path);

// The content of `name` read by `reader` as FileReader::read does, checked to
// be UTF-8 text. Fails with io_read_error (naming `path`, the name as the user
// would give it), or Io for invalid UTF-8.
Expected<std::string_view> read_utf8_file(FileReader& reader, int directory_fd, const char* name,
                                          std::string_view path);

}  // namespace quorvel
