// The ecCodes "element.table" (Table B) reader. Adds to a map the caller owns;
// on error the caller drops it.
#pragma once

#include <string>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Table B rows, '|'-separated with '#' comments; rows of fewer than 8 fields
// are skipped. A file that cannot be opened or read fails as Text with the
// system's description, one that is not a regular file or is larger than
// kMaxTableFileSize as Text naming it; malformed rows fail with the CSV and
// integer errors. Rows must all have the first row's field count, and
// numbers no white space around them, unless `lenient`.
Status read_element_table(const std::string& file, ElementMap& elements, bool lenient = false);

}  // namespace quorvel
