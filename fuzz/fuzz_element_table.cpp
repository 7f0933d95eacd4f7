// The element.table reader over any file content.
#include <cstddef>
#include <cstdint>

#include "core/tables/formats/element_table.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& scratch = quorvel::fuzz::ScratchDirectory::get();
  const std::string path = scratch.write("element.table", quorvel::fuzz::Bytes(data, size));
  quorvel::ElementMap elements;
  (void)quorvel::read_element_table(path, elements);
  return 0;
}
