// The ecCodes "codetables" directory reader: one code or flag table per
// "<code>.table" file. Adds to a map the caller owns; on error the caller
// drops it.
#pragma once

#include <string>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// One code or flag table per "<code>.table" file, in sorted name order; a
// later file for the same element replaces the earlier one whole. The
// meanings' text is added to `meanings`, which must outlive `code_tables`.
Status read_code_tables(const std::string& directory, CodeTableMap& code_tables,
                        TextStore& meanings);

}  // namespace quorvel
