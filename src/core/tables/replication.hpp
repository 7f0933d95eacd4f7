// How a replication descriptor 1-XX-YYY reads in a descriptor list, shared by
// Table D expansion and the decoders' walk so that both accept and refuse the
// same lists with the same errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/base/bufr_error.hpp"
#include "core/message/descriptor.hpp"

namespace quorvel {

// Deepest nesting of sequences and replicated groups below the top list, for
// expansion and decoding alike: each level is a frame of a recursive walk.
inline constexpr int kMaxNestingDepth = 64;

// A replication descriptor read at index `at` of a list. Y as a count is an
// octet, as in a message; only a Table D member can carry more. With Y = 0
// (delayed) the descriptor after it is the factor, whose value gives the
// repeats, and the group follows the factor.
struct Replication {
  std::size_t at = 0;
  std::uint32_t count = 0;    // X: descriptors in the group
  std::uint32_t repeats = 0;  // Y; 0 when delayed

  bool delayed() const { return repeats == 0; }
  // Delayed replication only.
  std::size_t factor_index() const { return at + 1; }
  std::size_t group_index() const { return delayed() ? at + 2 : at + 1; }
  // The last index the replication covers, where a walk resumes after it.
  std::size_t last_index() const { return group_index() + count - 1; }
  std::span<const std::uint32_t> group(std::span<const std::uint32_t> codes) const {
    return codes.subspan(group_index(), count);
  }
};

// The replication descriptor at codes[at] (F = 1), checked against the list.
// Errors, the first that applies: UnsupportedReplication when X is 0 or
// fewer than X descriptors follow; MissingReplicationFactor when delayed and
// the factor and the group do not both fit. The factor's code is not checked
// here: each caller decides what it needs of it.
inline Expected<Replication> read_replication(std::span<const std::uint32_t> codes,
                                              std::size_t at) {
  const std::uint32_t code = codes[at];
  const Replication replication{at, descriptor_x(code), descriptor_y(code) & 0xFFu};
  const std::size_t following = codes.size() - at - 1;
  if (replication.count == 0 || following < replication.count) {
    return BufrError::unsupported_replication(code);
  }
  if (replication.delayed() && following < std::size_t{replication.count} + 1) {
    return BufrError::missing_replication_factor(code);
  }
  return replication;
}

}  // namespace quorvel
