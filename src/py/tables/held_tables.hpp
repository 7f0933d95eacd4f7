// What a TableSet object holds: the tables, shared with the cache and with
// every object made from the same load, and where they came from, which is
// how the object pickles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/tables/table_set.hpp"
#include "py/tables/table_cache.hpp"

namespace quorvel::py {

struct TableSource {
  enum class Kind : std::uint8_t { empty, eccodes, bufr4, bufr4_codes, definitions };

  Kind kind = Kind::empty;
  // The table directory (eccodes) or CSV directory (bufr4, bufr4_codes), as the file
  // system's bytes.
  std::string path;
  DefinitionKey definitions;  // for definitions: the root and the header fields used
  bool lenient = false;       // for eccodes: rows of element.table may differ in field count
};

struct HeldTables {
  std::shared_ptr<const TableSet> tables;
  TableSource source;
};

}  // namespace quorvel::py
