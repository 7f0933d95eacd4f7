// The WMO BUFR4 CSV loader over one Table B file (the input up to its first
// NUL), one Table D file (up to the second) and one code and flag table file
// (the rest).
#include <cstddef>
#include <cstdint>

#include "core/tables/formats/bufr4_loader.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& scratch = quorvel::fuzz::ScratchDirectory::get();
  const std::string root = scratch.make_subdirectory("bufr4");
  const auto parts = quorvel::fuzz::split_at_nul(quorvel::fuzz::Bytes(data, size), 3);
  scratch.write("bufr4/BUFRCREX_TableB_en_00.csv", parts[0]);
  if (parts.size() > 1) {
    scratch.write("bufr4/BUFR_TableD_en_00.csv", parts[1]);
  }
  if (parts.size() > 2) {
    scratch.write("bufr4/BUFRCREX_CodeFlag_en_00.csv", parts[2]);
  }
  (void)quorvel::load_bufr4_tables_with_code_tables(root);
  return 0;
}
