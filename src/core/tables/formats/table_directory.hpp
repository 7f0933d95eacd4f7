// The ecCodes-style table directory: "element.table" (Table B), "sequence.def"
// (Table D) and an optional "codetables" directory of code and flag tables.
// Readers add to maps the caller owns; on error the caller drops them all.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// `directory` joined with `name` by one '/', never doubled.
std::string join_path(std::string_view directory, std::string_view name);

// `text` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string to_utf8_lossy(std::string_view text);

// Whether `path` exists, following symbolic links; and whether it is a
// directory or a regular file.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);
bool is_regular_file(const std::string& path);

// The entries of `directory` whose names (invalid UTF-8 replaced by U+FFFD)
// start with `prefix` and end with `suffix`, as full paths, sorted by name in
// ascending byte order. The kind of entry plays no part. Fails with Io.
Expected<std::vector<std::string>> list_table_files(const std::string& directory,
                                                    std::string_view prefix,
                                                    std::string_view suffix);

// Table B rows, '|'-separated with '#' comments; rows of fewer than 8 fields
// are skipped. A file that cannot be opened or read fails as Text with the
// system's description; malformed rows fail with the CSV and integer errors.
Status read_element_table(const std::string& file, ElementMap& elements);

// Table D entries `"300002" = [ 000002, 000003 ]`, possibly over several
// lines. Read and UTF-8 failures are Io; malformed entries are Text.
Status read_sequence_def(const std::string& file, SequenceMap& sequences);

// One code or flag table per "<code>.table" file, in sorted name order; a
// later file for the same element replaces the earlier one whole. The
// meanings' text is added to `meanings`, which must outlive `code_tables`.
Status read_code_tables(const std::string& directory, CodeTableMap& code_tables,
                        TextStore& meanings);

// The three readers over `directory`; "codetables" only when it exists.
Status read_table_directory(const std::string& directory, TableMaps& maps);

// A new TableSet from one table directory.
Expected<TableSet> load_table_directory(const std::string& directory);

}  // namespace quorvel
