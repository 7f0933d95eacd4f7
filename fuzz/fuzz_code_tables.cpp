// The code-table reader over a codetables directory made from the input:
// NUL-separated parts, each a file name stem on its first line and the
// file's content after it. Read through the whole table directory reader,
// beside an empty element.table and sequence.def.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/tables/formats/table_directory.hpp"
#include "fuzz_support.hpp"

namespace {

constexpr std::size_t kMaxFiles = 12;
constexpr std::size_t kMaxStem = 64;

// A file name made from the first line of a part: never a path, never empty.
std::string file_name(std::string_view stem) {
  std::string name(stem.substr(0, kMaxStem));
  for (char& c : name) {
    if (c == '/' || c == '\0') {
      c = '_';
    }
  }
  return name + ".table";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quorvel::fuzz::as_text;
  const auto& scratch = quorvel::fuzz::ScratchDirectory::get();
  static const std::string root = [&] {
    std::string directory = scratch.make_subdirectory("tables");
    scratch.write("tables/element.table", std::string_view());
    scratch.write("tables/sequence.def", std::string_view());
    return directory;
  }();
  scratch.make_subdirectory("tables/codetables");
  for (const quorvel::fuzz::Bytes part :
       quorvel::fuzz::split_at_nul(quorvel::fuzz::Bytes(data, size), kMaxFiles)) {
    const std::string_view text = as_text(part);
    const std::size_t line_end = text.find('\n');
    const std::string_view stem = text.substr(0, line_end);
    const std::string_view content =
        line_end == std::string_view::npos ? std::string_view() : text.substr(line_end + 1);
    scratch.write("tables/codetables/" + file_name(stem), content);
  }
  const auto tables = quorvel::load_table_directory(root);
  if (tables) {
    // Lookups in what was loaded, hits and misses alike.
    for (std::uint64_t raw = 0; raw < 4; ++raw) {
      (void)tables->find_meaning(20003, raw);
      (void)tables->find_meaning(1, raw);
    }
  }
  return 0;
}
