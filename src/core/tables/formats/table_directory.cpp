#include "core/tables/formats/table_directory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <span>
#include <utility>

#include "core/base/file_io.hpp"
#include "core/base/text_rules.hpp"
#include "core/tables/formats/csv_reader.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kElementFields = 8;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool stat_path(const std::string& path, struct stat& info) {
  return ::stat(path.c_str(), &info) == 0;
}

// Closes the directory stream on every path out of the functions that list.
class DirectoryStream {
 public:
  explicit DirectoryStream(DIR* stream) : stream_(stream) {}
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  ~DirectoryStream() {
    if (stream_ != nullptr) {
      ::closedir(stream_);
    }
  }
  DIR* get() const { return stream_; }

 private:
  DIR* stream_;
};

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The whole file, checked to be UTF-8 text, for the readers that report Io
// failures.
Expected<std::string_view> read_text_file(FileReader& reader, int directory_fd, const char* name) {
  const auto text = reader.read(directory_fd, name);
  if (!text) {
    return BufrError::io(text.error().code);
  }
  if (utf8_valid_up_to(*text) != text->size()) {
    return BufrError::io_invalid_utf8();
  }
  return *text;
}

bool is_ascii_white_space(unsigned char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// trim_white_space, with the plain ASCII ends that table files nearly always
// have taken off first.
std::string_view trim_line(std::string_view line) {
  while (!line.empty() && is_ascii_white_space(static_cast<unsigned char>(line.front()))) {
    line.remove_prefix(1);
  }
  while (!line.empty() && is_ascii_white_space(static_cast<unsigned char>(line.back()))) {
    line.remove_suffix(1);
  }
  if (line.empty() || (static_cast<unsigned char>(line.front()) < 0x80 &&
                       static_cast<unsigned char>(line.back()) < 0x80)) {
    return line;
  }
  return trim_white_space(line);
}

// Calls `line_handler` with each line (split at LF, trimmed), skipping empty
// lines and comments ('#' first).
template <class LineHandler>
Status for_each_content_line(std::string_view text, LineHandler line_handler) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = trim_line(text.substr(start, end - start));
    if (!line.empty() && line.front() != '#') {
      QV_TRY(line_handler(line));
    }
    start = end + 1;
  }
  return {};
}

// The length of the White_Space character at line[pos], or 0 when none
// starts there. ASCII is decided here; the rest, rare in table files, out of
// line.
std::size_t non_ascii_white_space_at(std::string_view line, std::size_t pos) {
  const Utf8Step step = decode_utf8(line, pos);
  return step.valid && is_white_space(step.code_point) ? step.length : 0;
}
inline std::size_t white_space_at(std::string_view line, std::size_t pos) {
  const auto byte = static_cast<unsigned char>(line[pos]);
  if (byte < 0x80) {
    return is_ascii_white_space(byte) ? 1 : 0;
  }
  return non_ascii_white_space_at(line, pos);
}

// The words of `line`, split at runs of White_Space. With a `limit`, the
// last word taken is the rest of the line from where that word starts.
void split_words(std::string_view line, std::vector<std::string_view>& words,
                 std::size_t limit = std::string_view::npos) {
  words.clear();
  std::size_t pos = 0;
  while (pos < line.size()) {
    if (const std::size_t white = white_space_at(line, pos); white != 0) {
      pos += white;
      continue;
    }
    if (words.size() + 1 == limit) {
      words.push_back(line.substr(pos));
      return;
    }
    // A word may be scanned byte by byte: the bytes after the first of a
    // UTF-8 sequence, valid or not, are continuation bytes, which never start
    // White_Space.
    const std::size_t start = pos;
    do {
      ++pos;
    } while (pos < line.size() && white_space_at(line, pos) == 0);
    words.push_back(line.substr(start, pos - start));
  }
}

// `text` without every '"' at both ends.
std::string_view strip_quotes(std::string_view text) {
  while (!text.empty() && text.front() == '"') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == '"') {
    text.remove_suffix(1);
  }
  return text;
}

// How often `byte` occurs in `text`, for sizing containers up front.
std::size_t count_of(std::string_view text, char byte) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(byte); pos != std::string_view::npos;
       pos = text.find(byte, pos + 1)) {
    ++count;
  }
  return count;
}

// One complete "sequence.def" entry: `key = [ members ]`.
Status parse_sequence_entry(std::string_view entry, SequenceMap& sequences) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) {
    return {};
  }
  const std::string_view key = strip_quotes(trim_white_space(entry.substr(0, equals)));
  QV_ASSIGN_OR_RETURN(const std::uint32_t code, parse_descriptor_code(key));
  const std::string_view value = entry.substr(equals + 1);
  const std::size_t open = value.find('[');
  const std::size_t close = value.find(']');
  // A ']' before the '[' leaves no member list either.
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return BufrError::bad_sequence_entry(entry);
  }
  SequenceDefinition sequence{code, {}};
  std::string_view list = value.substr(open + 1, close - open - 1);
  sequence.members.reserve(count_of(list, ',') + 1);
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view piece = trim_white_space(list.substr(0, comma));
    if (!piece.empty()) {
      QV_ASSIGN_OR_RETURN(const std::uint32_t member, parse_descriptor_code(piece));
      sequence.members.push_back(member);
    }
    if (comma == std::string_view::npos) {
      break;
    }
    list.remove_prefix(comma + 1);
  }
  sequences.insert_or_assign(code, std::move(sequence));
  return {};
}

// The stem of a file name: the part before the last '.', or the whole name
// when its only dot leads it (".table").
std::string_view file_stem(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return name;
  }
  return name.substr(0, dot);
}

// Whether `text` is words of visible ASCII, each two parted by one space:
// text that splitting into words and joining them by single spaces leaves as
// it is. Any other byte, even one that is no White_Space, just says no.
bool is_single_spaced_ascii(std::string_view text) {
  bool after_space = true;  // no space may lead
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ') {
      if (after_space) {
        return false;
      }
      after_space = true;
    } else if (byte > ' ' && byte < 0x7F) {
      after_space = false;
    } else {
      return false;
    }
  }
  return !after_space;  // nor trail, and the text is not empty
}

// Parses code table files one after another into tables whose meanings'
// text goes into `meanings`, keeping its buffers from file to file.
class CodeTableParser {
 public:
  explicit CodeTableParser(TextStore& meanings) : meanings_(meanings) {}

  // One file: lines "<raw value> <raw value> <meaning words...>", the
  // meaning's words joined by single spaces; lines of fewer than three words
  // are skipped.
  Status parse(std::string_view text, CodeTable& table) {
    table.reserve(count_of(text, '\n') + 1);
    return for_each_content_line(text, [&](std::string_view line) -> Status {
      // The third word taken is the rest of the line: the meaning's words.
      split_words(line, words_, 3);
      if (words_.size() < 3) {
        return {};
      }
      QV_ASSIGN_OR_RETURN(const std::uint64_t key, parse_code_table_key(words_[0]));
      table.insert_or_assign(key, meanings_.add(meaning_of(words_[2])));
      return {};
    });
  }

 private:
  // The words of `rest` joined by single spaces: most meanings are written
  // that way already and are taken as they stand.
  std::string_view meaning_of(std::string_view rest) {
    if (is_single_spaced_ascii(rest)) {
      return rest;
    }
    split_words(rest, words_);
    meaning_.assign(words_[0]);
    for (std::size_t i = 1; i < words_.size(); ++i) {
      meaning_ += ' ';
      meaning_ += words_[i];
    }
    return meaning_;
  }

  TextStore& meanings_;
  std::vector<std::string_view> words_;
  std::string meaning_;
};

// The names of the entries of the open `stream` that list_table_files keeps,
// as stored on disk, in its order.
Expected<std::vector<std::string>> matching_names(DIR* stream, std::string_view prefix,
                                                  std::string_view suffix) {
  // (name as matched and sorted, name as stored on disk)
  std::vector<std::pair<std::string, std::string>> kept;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
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

}  // namespace

std::string join_path(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

std::string to_utf8_lossy(std::string_view text) {
  if (utf8_valid_up_to(text) == text.size()) {
    return std::string(text);
  }
  std::string result;
  result.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Utf8Step step = decode_utf8(text, pos);
    if (step.valid) {
      result.append(text.substr(pos, step.length));
    } else {
      result.append(kReplacementCharacter);
    }
    pos += std::max<std::size_t>(step.length, 1);
  }
  return result;
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

Expected<std::vector<std::string>> list_table_files(const std::string& directory,
                                                    std::string_view prefix,
                                                    std::string_view suffix) {
  const DirectoryStream stream(::opendir(directory.c_str()));
  if (stream.get() == nullptr) {
    return BufrError::io(errno);
  }
  QV_ASSIGN_OR_RETURN(std::vector<std::string> names, matching_names(stream.get(), prefix, suffix));
  for (std::string& name : names) {
    name = join_path(directory, name);
  }
  return names;
}

Status read_element_table(const std::string& file, ElementMap& elements) {
  FileReader file_reader;
  const auto text = file_reader.read(AT_FDCWD, file.c_str());
  if (!text) {
    return BufrError::os_failure_text(text.error().code);
  }
  CsvReader reader(as_bytes(*text), kEccodesElementTableCsv);
  std::vector<std::string_view> fields;
  for (;;) {
    QV_ASSIGN_OR_RETURN(const bool more, reader.next(fields));
    if (!more) {
      return {};
    }
    if (fields.size() < kElementFields) {
      continue;
    }
    ElementDefinition element;
    QV_ASSIGN_OR_RETURN(element.code, parse_descriptor_code(fields[0]));
    QV_ASSIGN_OR_RETURN(element.scale, parse_i32_field(fields[5]));
    QV_ASSIGN_OR_RETURN(element.reference, parse_i64_field(fields[6]));
    QV_ASSIGN_OR_RETURN(element.width, parse_u16_field(fields[7]));
    element.abbreviation = fields[1];
    element.element_type = fields[2];
    element.name = fields[3];
    element.unit = fields[4];
    elements.insert_or_assign(element.code, std::move(element));
  }
}

Status read_sequence_def(const std::string& file, SequenceMap& sequences) {
  FileReader file_reader;
  QV_ASSIGN_OR_RETURN(const std::string_view text,
                      read_text_file(file_reader, AT_FDCWD, file.c_str()));
  // The lines of an entry that spans several, joined by single spaces.
  std::string pending;
  return for_each_content_line(text, [&](std::string_view line) -> Status {
    // Only the newest line can hold the first ']' of the pending entry.
    const bool complete = line.find(']') != std::string_view::npos;
    if (pending.empty() && complete) {
      return parse_sequence_entry(line, sequences);
    }
    if (!pending.empty()) {
      pending += ' ';
    }
    pending += line;
    if (!complete) {
      return {};
    }
    Status status = parse_sequence_entry(pending, sequences);
    pending.clear();
    return status;
  });
}

Status read_code_tables(const std::string& directory, CodeTableMap& code_tables,
                        TextStore& meanings) {
  const DirectoryStream stream(::opendir(directory.c_str()));
  if (stream.get() == nullptr) {
    return BufrError::io(errno);
  }
  QV_ASSIGN_OR_RETURN(const std::vector<std::string> names,
                      matching_names(stream.get(), "", ".table"));
  const int directory_fd = ::dirfd(stream.get());
  FileReader reader;
  CodeTableParser parser(meanings);
  for (const std::string& name : names) {
    const std::string_view stem = file_stem(name);
    if (utf8_valid_up_to(stem) != stem.size()) {
      continue;
    }
    QV_ASSIGN_OR_RETURN(const std::uint32_t code, parse_descriptor_code(stem));
    // A joined path too long for the system must fail as it would when
    // opened whole, not open through the shorter relative name.
    const bool whole_path = directory.size() + 1 + name.size() >= PATH_MAX;
    QV_ASSIGN_OR_RETURN(const std::string_view text,
                        whole_path
                            ? read_text_file(reader, AT_FDCWD, join_path(directory, name).c_str())
                            : read_text_file(reader, directory_fd, name.c_str()));
    CodeTable table;
    QV_TRY(parser.parse(text, table));
    code_tables.insert_or_assign(code, std::move(table));
  }
  return {};
}

Status read_table_directory(const std::string& directory, TableMaps& maps) {
  QV_TRY(read_element_table(join_path(directory, "element.table"), maps.elements));
  QV_TRY(read_sequence_def(join_path(directory, "sequence.def"), maps.sequences));
  const std::string code_tables = join_path(directory, "codetables");
  if (path_exists(code_tables)) {
    QV_TRY(read_code_tables(code_tables, maps.code_tables, maps.meanings));
  }
  return {};
}

Expected<TableSet> load_table_directory(const std::string& directory) {
  TableMaps maps;
  QV_TRY(read_table_directory(directory, maps));
  return TableSet(std::move(maps));
}

}  // namespace quorvel
