#include "core/base/directory.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "core/base/lossy_utf8.hpp"

namespace quorvel {
namespace {

bool stat_path(const std::string& path, struct stat& info) {
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string join_path(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

std::optional<std::string> parent_path(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') {
    trimmed.pop_back();
  }
  if (trimmed.empty() || trimmed == "/") {
    return std::nullopt;
  }
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) {
    return std::string();
  }
  return slash == 0 ? std::string("/") : trimmed.substr(0, slash);
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return stat_path(path, info);
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat_path(path, info) && S_ISDIR(info.st_mode);
}

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return stat_path(path, info) && S_ISREG(info.st_mode);
}

PathStamp stamp_path(const std::string& path) {
  struct stat info {};
  if (!stat_path(path, info)) {
    return PathStamp{};
  }
  const auto nanoseconds = [](const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
  };
  return PathStamp{true,
                   static_cast<std::uint64_t>(info.st_dev),
                   static_cast<std::uint64_t>(info.st_ino),
                   static_cast<std::uint64_t>(info.st_size),
                   nanoseconds(info.st_mtim),
                   nanoseconds(info.st_ctim)};
}

Expected<OpenDirectory> OpenDirectory::open(const std::string& path) {
  DIR* stream = ::opendir(path.c_str());
  if (stream == nullptr) {
    return BufrError::io(errno);
  }
  return OpenDirectory(stream);
}

OpenDirectory::OpenDirectory(OpenDirectory&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)) {}

OpenDirectory& OpenDirectory::operator=(OpenDirectory&& other) noexcept {
  if (this != &other) {
    if (stream_ != nullptr) {
      ::closedir(stream_);
    }
    stream_ = std::exchange(other.stream_, nullptr);
  }
  return *this;
}

OpenDirectory::~OpenDirectory() {
  if (stream_ != nullptr) {
    ::closedir(stream_);
  }
}

int OpenDirectory::fd() const { return ::dirfd(stream_); }

Expected<std::vector<std::string>> OpenDirectory::names(std::string_view prefix,
                                                        std::string_view suffix) {
  // (name as matched and sorted, name as stored on disk)
  std::vector<std::pair<std::string, std::string>> kept;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream_);
    if (entry == nullptr) {
      if (errno != 0) {
        return BufrError::io(errno);
      }
      break;
    }
    const std::string_view raw_name(entry->d_name);
    if (raw_name == "." || raw_name == "..") {
      continue;
    }
    std::string name = to_utf8_lossy(raw_name);
    if (name.starts_with(prefix) && name.ends_with(suffix)) {
      kept.emplace_back(std::move(name), std::string(raw_name));
    }
  }
  std::sort(kept.begin(), kept.end());
  std::vector<std::string> names;
  names.reserve(kept.size());
  for (auto& [name, raw_name] : kept) {
    names.push_back(std::move(raw_name));
  }
  return names;
}

Expected<std::vector<std::string>> list_directory(const std::string& directory,
                                                  std::string_view prefix,
                                                  std::string_view suffix) {
  QV_ASSIGN_OR_RETURN(OpenDirectory opened, OpenDirectory::open(directory));
  QV_ASSIGN_OR_RETURN(std::vector<std::string> names, opened.names(prefix, suffix));
  for (std::string& name : names) {
    name = join_path(directory, name);
  }
  return names;
}

}  // namespace quorvel
