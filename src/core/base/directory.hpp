// Paths and directories on POSIX systems: joining, the parent by text, what a
// path names, and the sorted entries of a directory. Paths are bytes as the
// system takes them; only names being matched are made valid UTF-8.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"

namespace quorvel {

// `directory` joined with `name` by one '/', never doubled.
std::string join_path(std::string_view directory, std::string_view name);

// The parent of `path` as its text before the last '/', or nothing when the
// path has no parent ("/" alone, or an empty path).
std::optional<std::string> parent_path(const std::string& path);

// Whether `path` exists, following symbolic links; and whether it is a
// directory or a regular file.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);
bool is_regular_file(const std::string& path);

// What stat(2) says of a path, enough to tell that it was rewritten, replaced
// or touched since: equal stamps mean unchanged. A path that does not exist
// has the stamp whose `exists` is false, so its appearance is a change too.
struct PathStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;

  bool operator==(const PathStamp&) const = default;
};

// The stamp of `path` now, following symbolic links.
PathStamp stamp_path(const std::string& path);

// An open directory stream, closed when this goes away. Move-only.
class OpenDirectory {
 public:
  // Opens `path`; fails with Io.
  static Expected<OpenDirectory> open(const std::string& path);

  OpenDirectory(OpenDirectory&& other) noexcept;
  OpenDirectory& operator=(OpenDirectory&& other) noexcept;
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;
  ~OpenDirectory();

  // A descriptor for opening entries relative to the directory; owned by the
  // stream.
  int fd() const;

  // The names of the entries (without "." and "..") whose names, invalid
  // UTF-8 replaced by U+FFFD, start with `prefix` and end with `suffix`, as
  // stored on disk, sorted by the replaced names in ascending byte order. The
  // kind of entry plays no part. Reads the stream to its end; fails with Io.
  Expected<std::vector<std::string>> names(std::string_view prefix, std::string_view suffix);

 private:
  explicit OpenDirectory(DIR* stream) : stream_(stream) {}

  DIR* stream_;
};

// OpenDirectory::names of `directory` as full paths (`directory` joined with
// each name). Fails with Io.
Expected<std::vector<std::string>> list_directory(const std::string& directory,
                                                  std::string_view prefix, std::string_view suffix);

}  // namespace quorvel
