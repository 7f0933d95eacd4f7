#include "core/base/file_io.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Reads the file `name` (relative to `directory_fd`) into `buffer`, grown as
// needed, and returns how many bytes it holds. A regular file that is as long
// as fstat said takes one read, without the read that only confirms its end.
template <class Byte>
tl::expected<std::size_t, OsError> read_into(int directory_fd, const char* name,
                                             std::vector<Byte>& buffer) {
  const FileDescriptor fd(::openat(directory_fd, name, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    return tl::make_unexpected(OsError{errno});
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    return tl::make_unexpected(OsError{errno});
  }
  if (S_ISDIR(info.st_mode)) {
    return tl::make_unexpected(OsError{EISDIR});
  }
  // The size is a hint only: the file may grow or shrink while it is read.
  // One byte more than the size is asked for, so that a regular file that
  // ends where fstat said shows its end by a short read.
  const std::size_t expected_size = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
  buffer.resize(std::max(buffer.size(), expected_size > 0 ? expected_size + 1 : 4096));
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) {
      buffer.resize(buffer.size() * 2);
    }
    const std::size_t wanted = buffer.size() - used;
    const ssize_t got = ::read(fd.get(), buffer.data() + used, wanted);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return tl::make_unexpected(OsError{errno});
    }
    if (got == 0) {
      break;
    }
    used += static_cast<std::size_t>(got);
    if (S_ISREG(info.st_mode) && used == expected_size && static_cast<std::size_t>(got) < wanted) {
      break;
    }
  }
  return used;
}

}  // namespace

tl::expected<std::vector<std::uint8_t>, OsError> read_whole_file(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  const auto used = read_into(AT_FDCWD, path.c_str(), bytes);
  if (!used) {
    return tl::make_unexpected(used.error());
  }
  bytes.resize(*used);
  return bytes;
}

tl::expected<std::string_view, OsError> FileReader::read(int directory_fd, const char* name) {
  const auto used = read_into(directory_fd, name, buffer_);
  if (!used) {
    return tl::make_unexpected(used.error());
  }
  return std::string_view(buffer_.data(), *used);
}

Expected<std::string_view> read_utf8_file(FileReader& reader, int directory_fd, const char* name) {
  const auto text = reader.read(directory_fd, name);
  if (!text) {
    return BufrError::io(text.error().code);
  }
  if (utf8_valid_up_to(*text) != text->size()) {
    return BufrError::io_invalid_utf8();
  }
  return *text;
}

}  // namespace quorvel
