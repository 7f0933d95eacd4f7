#include "lib/file_io.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

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

tl::expected<std::vector<std::uint8_t>, OsError> read_whole_file(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
  std::vector<std::uint8_t> bytes;
  // The size is a hint only: the file may grow or shrink while it is read.
  std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096;
  bytes.resize(capacity);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      bytes.resize(bytes.size() * 2);
    }
    const ssize_t got = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
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
  }
  bytes.resize(used);
  return bytes;
}

}  // namespace quorvel
