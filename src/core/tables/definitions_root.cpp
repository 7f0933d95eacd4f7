#include "core/tables/definitions_root.hpp"

#include <fcntl.h>
#include <fmt/format.h>

#include <initializer_list>

#include "core/base/directory.hpp"
#include "core/base/file_io.hpp"
#include "core/base/lossy_utf8.hpp"
#include "core/base/text_rules.hpp"
#include "core/tables/formats/code_table_file.hpp"
#include "core/tables/formats/element_table.hpp"
#include "core/tables/formats/sequence_def.hpp"
#include "core/tables/formats/table_directory.hpp"

namespace quorvel {
namespace {

std::string joined(const std::string& root, std::initializer_list<std::string> components) {
  std::string path = root;
  for (const std::string& component : components) {
    path = join_path(path, component);
  }
  return path;
}

void note(std::vector<ConsultedPath>* consulted, const std::string& path) {
  if (consulted != nullptr) {
    consulted->push_back({path, stamp_path(path)});
  }
}

// The entries of a table directory read_table_directory reads, noted before
// it reads them.
void note_table_directory(std::vector<ConsultedPath>* consulted, const std::string& directory) {
  if (consulted != nullptr) {
    for (const char* name : {"element.table", "sequence.def", "codetables"}) {
      note(consulted, join_path(directory, name));
    }
  }
}

}  // namespace

bool any_path_changed(std::span<const ConsultedPath> consulted) {
  for (const ConsultedPath& entry : consulted) {
    if (stamp_path(entry.path) != entry.stamp) {
      return true;
    }
  }
  return false;
}

Expected<std::string> resolve_table_directory(const std::string& path,
                                              std::vector<ConsultedPath>* consulted) {
  std::string current = path;
  FileReader reader(kMaxTableAliasFileSize);
  for (int aliases = 0;; ++aliases) {
    if (is_directory(current)) {
      return current;
    }
    // A missing directory or an alias is what the choice rests on: one made
    // or edited later changes it.
    note(consulted, current);
    if (!is_regular_file(current)) {
      return BufrError::table_directory_missing(to_utf8_lossy(current));
    }
    if (aliases == kMaxTableAliases) {
      return BufrError::table_alias_loop(to_utf8_lossy(path), kMaxTableAliases);
    }
    QV_ASSIGN_OR_RETURN(const std::string_view text,
                        read_utf8_file(reader, AT_FDCWD, current.c_str(), current));
    const std::string_view alias = trim_white_space(text);
    if (alias.empty() || alias.find_first_of("/\\") != std::string_view::npos) {
      return BufrError::invalid_table_alias(to_utf8_lossy(current), alias);
    }
    const auto parent = parent_path(current);
    if (!parent) {
      return BufrError::table_directory_missing(to_utf8_lossy(current));
    }
    current = parent->empty() ? std::string(alias) : join_path(*parent, alias);
  }
}

Expected<TableSet> select_definition_tables(const std::string& root, const BufrMessage& message,
                                            std::vector<ConsultedPath>* consulted) {
  const std::string tables =
      joined(root, {"bufr", "tables", fmt::format("{}", message.master_table_number)});
  QV_ASSIGN_OR_RETURN(
      const std::string master,
      resolve_table_directory(
          joined(tables, {"wmo", fmt::format("{}", message.master_tables_version_number)}),
          consulted));
  note_table_directory(consulted, master);
  TableMaps maps;
  QV_TRY(read_table_directory(master, maps));
  const unsigned local_version = message.local_tables_version_number;
  if (local_version == 0) {
    return TableSet(std::move(maps));
  }
  const std::string version_name = message.master_tables_version_number == 19
                                       ? fmt::format("19-{}", local_version)
                                       : fmt::format("{}", local_version);
  const std::string local =
      joined(tables, {"local", version_name, fmt::format("{}", message.originating_centre),
                      fmt::format("{}", message.originating_subcentre)});
  note(consulted, local);
  if (!path_exists(local)) {
    return TableSet(std::move(maps));
  }
  note_table_directory(consulted, local);
  if (const std::string file = join_path(local, "element.table"); path_exists(file)) {
    QV_TRY(read_element_table(file, maps.elements));
  }
  if (const std::string file = join_path(local, "sequence.def"); path_exists(file)) {
    QV_TRY(read_sequence_def(file, maps.sequences));
  }
  if (const std::string directory = join_path(local, "codetables"); path_exists(directory)) {
    QV_TRY(read_code_tables(directory, maps.code_tables, maps.meanings));
  }
  return TableSet(std::move(maps));
}

Expected<std::string> choose_definitions_root(std::optional<std::string_view> path_variable,
                                              std::string_view system_root) {
  if (path_variable && !path_variable->empty()) {
    std::string_view rest = *path_variable;
    while (true) {
      const std::size_t colon = rest.find(':');
      const std::string entry(rest.substr(0, colon));
      if (!entry.empty() && is_directory(entry)) {
        return entry;
      }
      if (colon == std::string_view::npos) {
        return BufrError::definitions_path_unusable(to_utf8_lossy(*path_variable));
      }
      rest.remove_prefix(colon + 1);
    }
  }
  if (const std::string system(system_root); is_directory(system)) {
    return system;
  }
  return BufrError::no_definitions_root(to_utf8_lossy(system_root));
}

}  // namespace quorvel
