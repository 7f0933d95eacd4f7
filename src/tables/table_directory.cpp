#include "tables/table_directory.hpp"

#include <algorithm>
#include <cerrno>
#include <span>

#include <dirent.h>
#include <sys/stat.h>

#include "lib/file_io.hpp"
#include "tables/csv_reader.hpp"
#include "tables/text_rules.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kElementFields = 8;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

std::string_view as_text(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool stat_path(const std::string& path, struct stat& info) {
  return ::stat(path.c_str(), &info) == 0;
}

// Closes the directory stream on every path out of list_table_files.
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

// The whole file, checked to be UTF-8 text, for the readers that report Io
// failures.
Expected<std::vector<std::uint8_t>> read_text_file(const std::string& path) {
  auto bytes = read_whole_file(path);
  if (!bytes) {
    return BufrError::io(bytes.error().code);
  }
  if (utf8_valid_up_to(as_text(*bytes)) != bytes->size()) {
    return BufrError::io_invalid_utf8();
  }
  return std::move(*bytes);
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

// The words of `line`, split at runs of White_Space.
void split_words(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  std::size_t pos = 0;
  std::size_t word_start = std::string_view::npos;
  while (pos < line.size()) {
    const auto byte = static_cast<unsigned char>(line[pos]);
    bool white = false;
    std::size_t length = 1;
    if (byte < 0x80) {
      white = is_ascii_white_space(byte);
    } else {
      const Utf8Step step = decode_utf8(line, pos);
      length = std::max<std::size_t>(step.length, 1);
      white = step.valid && is_white_space(step.code_point);
    }
    if (white) {
      if (word_start != std::string_view::npos) {
        words.push_back(line.substr(word_start, pos - word_start));
        word_start = std::string_view::npos;
      }
    } else if (word_start == std::string_view::npos) {
      word_start = pos;
    }
    pos += length;
  }
  if (word_start != std::string_view::npos) {
    words.push_back(line.substr(word_start));
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

Status read_code_table_file(const std::string& path, CodeTable& table) {
  QV_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> content, read_text_file(path));
  table.reserve(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1);
  std::vector<std::string_view> words;
  std::string meaning;
  return for_each_content_line(as_text(content), [&](std::string_view line) -> Status {
    split_words(line, words);
    if (words.size() < 3) {
      return {};
    }
    QV_ASSIGN_OR_RETURN(const std::uint64_t key, parse_code_table_key(words[0]));
    meaning.assign(words[2]);
    for (std::size_t i = 3; i < words.size(); ++i) {
      meaning += ' ';
      meaning += words[i];
    }
    table.insert_or_assign(key, meaning);
    return {};
  });
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
  DirectoryStream stream(::opendir(directory.c_str()));
  if (stream.get() == nullptr) {
    return BufrError::io(errno);
  }
  // (name as matched and sorted, name as stored on disk)
  std::vector<std::pair<std::string, std::string>> kept;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
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
  std::vector<std::string> paths;
  paths.reserve(kept.size());
  for (const auto& [name, raw_name] : kept) {
    paths.push_back(join_path(directory, raw_name));
  }
  return paths;
}

Status read_element_table(const std::string& file, ElementMap& elements) {
  auto bytes = read_whole_file(file);
  if (!bytes) {
    return BufrError::os_failure_text(bytes.error().code);
  }
  CsvReader reader(*bytes, kEccodesElementTableCsv);
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
  QV_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> content, read_text_file(file));
  std::string pending;
  return for_each_content_line(as_text(content), [&](std::string_view line) -> Status {
    if (!pending.empty()) {
      pending += ' ';
    }
    pending += line;
    // Only the newest line can hold the first ']' of the pending entry.
    if (line.find(']') == std::string_view::npos) {
      return {};
    }
    const std::string entry = std::move(pending);
    pending.clear();
    return parse_sequence_entry(entry, sequences);
  });
}

Status read_code_tables(const std::string& directory, CodeTableMap& code_tables) {
  QV_ASSIGN_OR_RETURN(const std::vector<std::string> paths,
                      list_table_files(directory, "", ".table"));
  for (const std::string& path : paths) {
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    const std::string_view stem = file_stem(name);
    if (utf8_valid_up_to(stem) != stem.size()) {
      continue;
    }
    QV_ASSIGN_OR_RETURN(const std::uint32_t code, parse_descriptor_code(stem));
    CodeTable table;
    QV_TRY(read_code_table_file(path, table));
    code_tables.insert_or_assign(code, std::move(table));
  }
  return {};
}

Status read_table_directory(const std::string& directory, TableMaps& maps) {
  QV_TRY(read_element_table(join_path(directory, "element.table"), maps.elements));
  QV_TRY(read_sequence_def(join_path(directory, "sequence.def"), maps.sequences));
  const std::string code_tables = join_path(directory, "codetables");
  if (path_exists(code_tables)) {
    QV_TRY(read_code_tables(code_tables, maps.code_tables));
  }
  return {};
}

Expected<TableSet> load_table_directory(const std::string& directory) {
  TableMaps maps;
  QV_TRY(read_table_directory(directory, maps));
  return TableSet(std::move(maps));
}

}  // namespace quorvel
