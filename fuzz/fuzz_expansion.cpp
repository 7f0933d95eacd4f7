// Table D expansion of descriptors from the input through sequences from
// the input, and through the real version 37 tables when installed.
//
// Input: a sequence count, then for each sequence two octets of code (its F
// forced to 3), a member count and two octets per member; the octets after
// the last sequence are the descriptors to expand, two octets each.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/tables/expansion.hpp"
#include "fuzz_support.hpp"

namespace {

class Cursor {
 public:
  explicit Cursor(quorvel::fuzz::Bytes input) : input_(input) {}

  bool has(std::size_t count) const { return input_.size() - position_ >= count; }
  std::uint8_t octet() { return input_[position_++]; }
  std::uint32_t code() {
    const std::uint8_t high = octet();
    return quorvel::fuzz::code_of_octets(high, octet());
  }

 private:
  quorvel::fuzz::Bytes input_;
  std::size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Cursor cursor(quorvel::fuzz::Bytes(data, size));
  if (!cursor.has(1)) {
    return 0;
  }
  quorvel::TableMaps maps;
  const std::uint8_t sequence_count = cursor.octet();
  for (std::uint8_t s = 0; s < sequence_count && cursor.has(3); ++s) {
    const auto high = static_cast<std::uint8_t>(cursor.octet() | 0xC0u);
    const std::uint32_t code = quorvel::fuzz::code_of_octets(high, cursor.octet());
    const std::uint8_t member_count = cursor.octet();
    quorvel::SequenceDefinition sequence;
    sequence.code = code;
    for (std::uint8_t m = 0; m < member_count && cursor.has(2); ++m) {
      sequence.members.push_back(cursor.code());
    }
    maps.sequences.insert_or_assign(code, std::move(sequence));
  }
  std::vector<std::uint32_t> descriptors;
  while (cursor.has(2)) {
    descriptors.push_back(cursor.code());
  }
  const quorvel::TableSet tables(std::move(maps));
  (void)quorvel::expand_descriptors(tables, descriptors);
  if (const quorvel::TableSet* real = quorvel::fuzz::real_tables()) {
    (void)quorvel::expand_descriptors(*real, descriptors);
  }
  return 0;
}
