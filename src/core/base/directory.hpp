// Paths and directories on POSIX systems: joining, the parent by text, what a
// path names, and the sorted entries of a directory. Paths are bytes as the
// system takes them; only names being matched are made valid UTF-8.
#pragma once

#include <dirent.h>

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
