#include "core/tables/formats/code_table_file.hpp"

#include <fcntl.h>

#include <climits>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/directory.hpp"
#include "core/base/file_io.hpp"
#include "core/base/text_rules.hpp"
#include "core/base/words.hpp"

namespace quorvel {
namespace {

// The stem of a file name: the part before the last '.', or the whole name
// when its only dot leads it (".table").
std::string_view file_stem(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return name;
  }
  return name.substr(0, dot);
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

}  // namespace

Status read_code_tables(const std::string& directory, CodeTableMap& code_tables,
                        TextStore& meanings) {
  QV_ASSIGN_OR_RETURN(OpenDirectory opened, OpenDirectory::open(directory));
  QV_ASSIGN_OR_RETURN(const std::vector<std::string> names, opened.names("", ".table"));
  const int directory_fd = opened.fd();
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
    const std::string path = join_path(directory, name);
    const bool whole_path = path.size() >= PATH_MAX;
    QV_ASSIGN_OR_RETURN(const std::string_view text,
                        whole_path ? read_utf8_file(reader, AT_FDCWD, path.c_str(), path)
                                   : read_utf8_file(reader, directory_fd, name.c_str(), path));
    CodeTable table;
    QV_TRY(parser.parse(text, table));
    code_tables.insert_or_assign(code, std::move(table));
  }
  return {};
}

}  // namespace quorvel
