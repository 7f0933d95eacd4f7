// The WMO BUFR4 tables in their CSV form: Table B from every
// "BUFRCREX_TableB_en_*.csv" and Table D from every "BUFR_TableD_en_*.csv" of
// one directory. Code and flag tables are not read.
#pragma once

#include <string>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Files are read in sorted name order. A later Table B row replaces an earlier
// one of the same code; a sequence is the members one file gives for it, and
// a later file's sequence replaces an earlier file's whole.
Expected<TableSet> load_bufr4_tables(const std::string& directory);

}  // namespace quorvel
