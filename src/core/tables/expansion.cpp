#include "core/tables/expansion.hpp"

#include "core/message/descriptor.hpp"
#include "core/tables/replication.hpp"

namespace quorvel {
namespace {

// One expansion call's state, shared by every level of the recursion.
struct Expansion {
  const TableSet& tables;
  std::vector<std::uint32_t>& output;
  // The 2-04 width stays in force across sequence and group ends.
  std::uint32_t associated_field_width = 0;
  std::uint64_t steps = 0;
};

Status expand_sequence(Expansion& expansion, std::span<const std::uint32_t> codes, int depth) {
  if (depth > kMaxNestingDepth) {
    return BufrError::expansion_too_deep();
  }
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (++expansion.steps > kMaxExpansionSteps) {
      return BufrError::expansion_too_large(kMaxExpansionSteps);
    }
    const std::uint32_t code = codes[i];
    const std::uint32_t x = descriptor_x(code);
    // Y as an operand is an octet, as in a message; only a Table D member
    // can carry more.
    const std::uint32_t y = descriptor_y(code) & 0xFFu;
    switch (descriptor_f(code)) {
      case 0:
        if (expansion.associated_field_width != 0 && x != 31) {
          expansion.output.push_back(kAssociatedFieldCode);
        }
        expansion.output.push_back(code);
        break;
      case 1: {
        QV_ASSIGN_OR_RETURN(const Replication replication, read_replication(codes, i));
        if (replication.delayed()) {
          // The factor stays in the expansion, ahead of the group it counts.
          QV_TRY(expand_sequence(expansion,
                                 codes.subspan(replication.factor_index(), replication.count + 1),
                                 depth + 1));
        } else {
          const auto group = replication.group(codes);
          for (std::uint32_t copy = 0; copy < replication.repeats; ++copy) {
            QV_TRY(expand_sequence(expansion, group, depth + 1));
          }
        }
        i = replication.last_index();
        break;
      }
      case 2:
        switch (x) {
          case 4:
            expansion.associated_field_width = y;
            break;
          case 1:
          case 2:
          case 6:
          case 7:
          case 8:
            break;
          default:
            expansion.output.push_back(code);
            break;
        }
        break;
      case 3: {
        const SequenceDefinition* sequence = expansion.tables.find_sequence(code);
        if (sequence == nullptr) {
          return BufrError::missing_sequence(code);
        }
        QV_TRY(expand_sequence(expansion, sequence->members, depth + 1));
        break;
      }
      default:
        return BufrError::invalid_descriptor(code);
    }
  }
  return {};
}

}  // namespace

Expected<std::vector<std::uint32_t>> expand_descriptors(
    const TableSet& tables, std::span<const std::uint32_t> descriptors) {
  std::vector<std::uint32_t> output;
  output.reserve(descriptors.size());
  Expansion expansion{tables, output};
  QV_TRY(expand_sequence(expansion, descriptors, 0));
  return output;
}

}  // namespace quorvel
