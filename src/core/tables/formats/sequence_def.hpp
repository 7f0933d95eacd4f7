// The ecCodes "sequence.def" (Table D) reader. Adds to a map the caller owns;
// on error the caller drops it.
#pragma once

#include <string>

#include "core/base/bufr_error.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Table D entries `"300002" = [ 000002, 000003 ]`, possibly over several
// lines. Read and UTF-8 failures are Io; malformed entries are Text.
Status read_sequence_def(const std::string& file, SequenceMap& sequences);

}  // namespace quorvel
