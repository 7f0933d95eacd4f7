// The ecCodes-style table directory: "element.table" (Table B), "sequence.def"
// (Table D) and an optional "codetables" directory of code and flag tables.
// Readers add to maps the caller owns; on error the caller drops them all.
#pragma once

#include <string>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// The three readers over `directory`; "codetables" only when it exists.
// `lenient` lets element.table rows differ in field count.
Status read_table_directory(const std::string& directory, TableMaps& maps, bool lenient = false);

// A new TableSet from one table directory.
Expected<TableSet> load_table_directory(const std::string& directory);
// The same, element.table rows differing in field count.
Expected<TableSet> load_lenient_table_directory(const std::string& directory);

}  // namespace quorvel
