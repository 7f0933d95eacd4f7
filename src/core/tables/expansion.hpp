// Table D expansion: a descriptor list flattened through the sequences of a
// TableSet, replications unrolled, element-modifying operators absorbed and
// associated fields marked with 999999. Table B is never consulted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/tables/replication.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Most descriptors one expansion may visit. Nested fixed replications grow
// exponentially: a hundred bytes of descriptors can stand for more codes than
// any memory holds, or for endless work that appends nothing. An associated
// field doubles what each element appends, so the result stays under 2^19
// codes (2 MB). The largest expansion in the WMO tables has under 18,000.
inline constexpr std::uint64_t kMaxExpansionSteps = std::uint64_t{1} << 18;

// The expansion of `descriptors`. Errors: UnsupportedReplication,
// MissingReplicationFactor, MissingSequence, Text for a nesting deeper than
// kMaxNestingDepth, an F of 4 or more, or more than kMaxExpansionSteps codes.
Expected<std::vector<std::uint32_t>> expand_descriptors(const TableSet& tables,
                                                        std::span<const std::uint32_t> descriptors);

}  // namespace quorvel
