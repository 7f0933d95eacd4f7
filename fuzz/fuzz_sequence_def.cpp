// The sequence.def reader over any file content; what it loads is then
// expanded, which must end within the expansion's own bounds.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/tables/expansion.hpp"
#include "core/tables/formats/sequence_def.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& scratch = quorvel::fuzz::ScratchDirectory::get();
  const std::string path = scratch.write("sequence.def", quorvel::fuzz::Bytes(data, size));
  quorvel::TableMaps maps;
  if (!quorvel::read_sequence_def(path, maps.sequences)) {
    return 0;
  }
  std::vector<std::uint32_t> codes;
  for (const auto& [code, sequence] : maps.sequences) {
    codes.push_back(code);
    if (codes.size() == 16) {
      break;
    }
  }
  const quorvel::TableSet tables(std::move(maps));
  (void)quorvel::expand_descriptors(tables, codes);
  return 0;
}
