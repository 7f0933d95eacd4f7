#include "core/tables/formats/table_directory.hpp"

#include <utility>

#include "core/base/directory.hpp"
#include "core/tables/formats/code_table_file.hpp"
#include "core/tables/formats/element_table.hpp"
#include "core/tables/formats/sequence_def.hpp"

namespace quorvel {

Status read_table_directory(const std::string& directory, TableMaps& maps, bool lenient) {
  QV_TRY(read_element_table(join_path(directory, "element.table"), maps.elements, lenient));
  QV_TRY(read_sequence_def(join_path(directory, "sequence.def"), maps.sequences));
  const std::string code_tables = join_path(directory, "codetables");
  if (path_exists(code_tables)) {
    QV_TRY(read_code_tables(code_tables, maps.code_tables, maps.meanings));
  }
  return {};
}

namespace {

Expected<TableSet> load(const std::string& directory, bool lenient) {
  TableMaps maps;
  QV_TRY(read_table_directory(directory, maps, lenient));
  return TableSet(std::move(maps));
}

}  // namespace

Expected<TableSet> load_table_directory(const std::string& directory) {
  return load(directory, false);
}

Expected<TableSet> load_lenient_table_directory(const std::string& directory) {
  return load(directory, true);
}

}  // namespace quorvel
