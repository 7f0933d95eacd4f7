#include "core/base/file_io.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/base/text_rules.hpp"

namespace quorvel {
namespace {

// Closes the descriptor on every path out of read_whole_file.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string describe_os_error(int errno_value) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(errno_value, buffer, sizeof buffer);
  return fmt::format("{} (os error {})", text, errno_value);
}

namespace {

tl::unexpected<FileFault> system_fault(int errno_value) {
  return tl::make_unexpected(FileFault{FileFault::Kind::System, errno_value, 0});
}

// Reads the file `name` (relative to `directory_fd`) into `buffer`, grown as
// needed, and returns how many bytes it holds, at most `max_size`. A regular
// file that is as long as fstat said takes one read, without the read that
// only confirms its end. A stop asked by `interrupt` between reads fails with
// EINTR.
template <class Byte>
tl::expected<std::size_t, FileFault> read_into(int directory_fd, const char* name,
                                               std::size_t max_size, std::vector<Byte>& buffer,
                                               Interrupt interrupt = {}) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer; the flag has no
  // effect on the reads of a regular file, the only kind read below.
  const FileDescriptor fd(::openat(directory_fd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    return system_fault(errno);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    return system_fault(errno);
  }
  if (S_ISDIR(info.st_mode)) {
    return system_fault(EISDIR);
  }
  if (!S_ISREG(info.st_mode)) {
    return tl::make_unexpected(FileFault{FileFault::Kind::NotRegularFile, 0, 0});
  }
  const auto too_large = [max_size] {
    return tl::make_unexpected(FileFault{FileFault::Kind::TooLarge, 0, max_size});
  };
  // The size is a hint only: the file may grow or shrink while it is read.
  // One byte more than the size is asked for, so that a regular file that
  // ends where fstat said shows its end by a short read; one byte past the
  // bound is as far as reading goes.
  const std::size_t expected_size = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
  if (expected_size > max_size) {
    return too_large();
  }
  const std::size_t read_limit = max_size < SIZE_MAX ? max_size + 1 : max_size;
  buffer.resize(std::max(buffer.size(), expected_size > 0 ? expected_size + 1 : 4096));
  std::size_t used = 0;
  for (;;) {
    if (used > max_size) {
      return too_large();
    }
    if (used == buffer.size()) {
      buffer.resize(buffer.size() * 2);
    }
    if (interrupt.requested()) {
      return system_fault(EINTR);
    }
    const std::size_t wanted = std::min({buffer.size(), read_limit, used + kReadChunkSize}) - used;
    const ssize_t got = ::read(fd.get(), buffer.data() + used, wanted);
    if (got < 0) {
      // A regular file ends, so retrying an interrupted read cannot go on
      // for ever.
      if (errno == EINTR) {
        continue;
      }
      return system_fault(errno);
    }
    if (got == 0) {
      break;
    }
    used += static_cast<std::size_t>(got);
    if (used == expected_size && static_cast<std::size_t>(got) < wanted) {
      break;
    }
  }
  return used;
}

}  // namespace

tl::expected<std::vector<std::uint8_t>, OsError> read_whole_file(const std::string& path,
                                                                 Interrupt interrupt) {
  std::vector<std::uint8_t> bytes;
  const auto used = read_into(AT_FDCWD, path.c_str(), SIZE_MAX, bytes, interrupt);
  if (!used) {
    const FileFault& fault = used.error();
    // The caller's error carries an errno alone: EINVAL is the system's own
    // answer to an operation that the kind of file does not allow.
    return tl::make_unexpected(
        OsError{fault.kind == FileFault::Kind::System ? fault.code : EINVAL});
  }
  bytes.resize(*used);
  return bytes;
}

tl::expected<std::string_view, FileFault> FileReader::read(int directory_fd, const char* name) {
  const auto used = read_into(directory_fd, name, max_size_, buffer_);
  if (!used) {
    return tl::make_unexpected(used.error());
  }
  return std::string_view(buffer_.data(), *used);
}

BufrError io_read_error(const FileFault& fault, std::string_view path) {
  switch (fault.kind) {
    case FileFault::Kind::System:
      return BufrError::io(fault.code);
    case FileFault::Kind::NotRegularFile:
      return BufrError::io_not_regular_file(path);
    case FileFault::Kind::TooLarge:
      return BufrError::io_file_too_large(path, fault.limit);
  }
  return BufrError::io(fault.code);  // unreachable: every kind returns above
}

BufrError text_read_error(const FileFault& fault, std::string_view path) {
  switch (fault.kind) {
    case FileFault::Kind::System:
      return BufrError::os_failure_text(fault.code);
    case FileFault::Kind::NotRegularFile:
      return BufrError::table_file_not_regular(path);
    case FileFault::Kind::TooLarge:
      return BufrError::table_file_too_large(path, fault.limit);
  }
  return BufrError::os_failure_text(fault.code);  // unreachable: every kind returns above
}

Expected<std::string_view> read_utf8_file(FileReader& reader, int directory_fd, const char* name,
                                          std::string_view path) {
  const auto text = reader.read(directory_fd, name);
  if (!text) {
    return io_read_error(text.error(), path);
  }
  if (utf8_valid_up_to(*text) != text->size()) {
    return BufrError::io_invalid_utf8();
  }
  return *text;
}

}  // namespace quorvel
