// The WMO BUFR4 tables in their CSV form: Table B from every
// "BUFRCREX_TableB_en_*.csv" and Table D from every "BUFR_TableD_en_*.csv" of
// one directory, and on request the code and flag tables.
#pragma once

#include <string>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Files are read in sorted name order. A later Table B row replaces an earlier
// one of the same code; a sequence is the members one file gives for it, and
// a later file's sequence replaces an earlier file's whole.
Expected<TableSet> load_bufr4_tables(const std::string& directory);

// The same, with the code and flag tables of every
// "BUFRCREX_CodeFlag_en_*.csv": each row whose code figure is one number
// gives that figure (a bit number for flag tables, numbered as in ecCodes'
// code tables) its entry name; ranges, "All N" rows and rows without a name
// are skipped. A later row replaces an earlier one of the same figure.
Expected<TableSet> load_bufr4_tables_with_code_tables(const std::string& directory);

}  // namespace quorvel
