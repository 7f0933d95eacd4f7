#include "core/tables/expansion.hpp"

#include "core/message/descriptor.hpp"

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
  if (depth > kMaxExpansionDepth) {
    return BufrError::expansion_too_deep();
  }
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (++expansion.steps > kMaxExpansionSteps) {
      return BufrError::expansion_too_large(kMaxExpansionSteps);
    }
    const std::uint32_t code = codes[i];
    const std::uint32_t x = descriptor_x(code);
    // Y as a count or operand is an octet, as in a message; only a Table D
    // member can carry more.
    const std::uint32_t y = descriptor_y(code) & 0xFFu;
    switch (descriptor_f(code)) {
      case 0:
        if (expansion.associated_field_width != 0 && x != 31) {
          expansion.output.push_back(kAssociatedFieldCode);
        }
        expansion.output.push_back(code);
        break;
      case 1: {
        const std::size_t following = codes.size() - i - 1;
        if (x == 0 || following < x) {
          return BufrError::unsupported_replication(code);
        }
        if (y != 0) {
          const auto group = codes.subspan(i + 1, x);
          for (std::uint32_t copy = 0; copy < y; ++copy) {
            QV_TRY(expand_sequence(expansion, group, depth + 1));
          }
          i += x;
          break;
        }
        if (following < std::size_t{x} + 1) {
          return BufrError::missing_replication_factor(code);
        }
        QV_TRY(expand_sequence(expansion, codes.subspan(i + 1, x + 1), depth + 1));
        i += x + 1;
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
