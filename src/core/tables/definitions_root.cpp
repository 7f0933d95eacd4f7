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

namespace {

// The first of `directories` that holds `name`, as a path; nothing when none does.
std::optional<std::string> first_holding(std::span<const std::string> directories,
                                         const char* name) {
  for (const std::string& directory : directories) {
    if (std::string file = join_path(directory, name); path_exists(file)) {
      return file;
    }
  }
  return std::nullopt;
}

// The code tables of every directory, those of the earlier ones winning.
Status read_code_tables_of(std::span<const std::string> directories, TableMaps& maps) {
  for (auto it = directories.rbegin(); it != directories.rend(); ++it) {
    if (const std::string code_tables = join_path(*it, "codetables"); path_exists(code_tables)) {
      QV_TRY(read_code_tables(code_tables, maps.code_tables, maps.meanings));
    }
  }
  return {};
}

// The master tables version nearest to `version` that some root holds: the
// smallest newer one, else the largest older one; nothing when there is none.
std::optional<unsigned> nearest_version(std::span<const std::string> wmo_directories,
                                        unsigned version, std::vector<ConsultedPath>* consulted) {
  std::optional<unsigned> newer;
  std::optional<unsigned> older;
  for (const std::string& wmo : wmo_directories) {
    note(consulted, wmo);
    auto names = list_directory(wmo, "", "");
    if (!names) {
      continue;
    }
    for (const std::string& path : *names) {
      const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
      if (name.empty() || name.size() > 3 ||
          name.find_first_not_of("0123456789") != std::string_view::npos) {
        continue;
      }
      const unsigned candidate = static_cast<unsigned>(std::stoul(std::string(name)));
      if (candidate == version || candidate > 255 || !resolve_table_directory(path)) {
        continue;
      }
      if (candidate > version && (!newer || candidate < *newer)) {
        newer = candidate;
      } else if (candidate < version && (!older || candidate > *older)) {
        older = candidate;
      }
    }
  }
  return newer ? newer : older;
}

}  // namespace

std::vector<std::string> split_definitions_path(std::string_view path) {
  std::vector<std::string> roots;
  while (true) {
    const std::size_t colon = path.find(':');
    if (const std::string_view entry = path.substr(0, colon); !entry.empty()) {
      roots.emplace_back(entry);
    }
    if (colon == std::string_view::npos) {
      return roots;
    }
    path.remove_prefix(colon + 1);
  }
}

Expected<ChosenTables> choose_definition_tables(std::span<const std::string> roots,
                                                const BufrMessage& message,
                                                std::vector<ConsultedPath>* consulted,
                                                TableChoiceOptions options) {
  if (roots.empty()) {
    return BufrError::table_directory_missing("");
  }
  std::vector<std::string> tables;
  for (const std::string& root : roots) {
    tables.push_back(
        joined(root, {"bufr", "tables", fmt::format("{}", message.master_table_number)}));
  }
  const auto master_directories = [&](unsigned version, std::vector<std::string>& found) -> Status {
    std::optional<BufrError> first_failure;
    for (const std::string& table : tables) {
      auto master =
          resolve_table_directory(joined(table, {"wmo", fmt::format("{}", version)}), consulted);
      if (master) {
        found.push_back(std::move(*master));
      } else if (!first_failure) {
        first_failure = std::move(master).error();
      }
    }
    if (found.empty()) {
      return std::move(*first_failure);
    }
    return {};
  };
  ChosenTables chosen;
  chosen.master_version = message.master_tables_version_number;
  std::vector<std::string> masters;
  if (Status found = master_directories(chosen.master_version, masters); !found) {
    std::vector<std::string> wmo;
    for (const std::string& table : tables) {
      wmo.push_back(join_path(table, "wmo"));
    }
    const std::optional<unsigned> replacement =
        options.nearest_master_version ? nearest_version(wmo, chosen.master_version, consulted)
                                       : std::nullopt;
    if (!replacement) {
      return std::move(found).error();
    }
    chosen.master_version = *replacement;
    QV_TRY(master_directories(chosen.master_version, masters));
  }
  for (const std::string& master : masters) {
    note_table_directory(consulted, master);
  }
  chosen.directories = masters;
  TableMaps maps;
  // A file that no root holds is read from the first, where it fails as it
  // would with that root alone.
  QV_TRY(read_element_table(
      first_holding(masters, "element.table").value_or(join_path(masters[0], "element.table")),
      maps.elements));
  QV_TRY(read_sequence_def(
      first_holding(masters, "sequence.def").value_or(join_path(masters[0], "sequence.def")),
      maps.sequences));
  QV_TRY(read_code_tables_of(masters, maps));
  const unsigned local_version = message.local_tables_version_number;
  if (local_version != 0) {
    const std::string version_name = message.master_tables_version_number == 19
                                         ? fmt::format("19-{}", local_version)
                                         : fmt::format("{}", local_version);
    std::vector<std::string> locals;
    for (const std::string& table : tables) {
      std::string local =
          joined(table, {"local", version_name, fmt::format("{}", message.originating_centre),
                         fmt::format("{}", message.originating_subcentre)});
      note(consulted, local);
      chosen.directories.push_back(local);
      if (path_exists(local)) {
        note_table_directory(consulted, local);
        locals.push_back(std::move(local));
      }
    }
    if (const auto file = first_holding(locals, "element.table")) {
      QV_TRY(read_element_table(*file, maps.elements, true));
    }
    if (const auto file = first_holding(locals, "sequence.def")) {
      QV_TRY(read_sequence_def(*file, maps.sequences));
    }
    QV_TRY(read_code_tables_of(locals, maps));
  }
  chosen.tables = TableSet(std::move(maps));
  return chosen;
}

Expected<TableSet> select_definition_tables(const std::string& root, const BufrMessage& message,
                                            std::vector<ConsultedPath>* consulted) {
  QV_ASSIGN_OR_RETURN(ChosenTables chosen,
                      choose_definition_tables(std::span(&root, 1), message, consulted));
  return std::move(chosen.tables);
}

Expected<std::string> choose_definitions_root(std::optional<std::string_view> path_variable,
                                              std::string_view system_root) {
  if (path_variable && !path_variable->empty()) {
    std::string roots;
    for (const std::string& entry : split_definitions_path(*path_variable)) {
      if (is_directory(entry)) {
        roots += roots.empty() ? entry : ":" + entry;
      }
    }
    if (roots.empty()) {
      return BufrError::definitions_path_unusable(to_utf8_lossy(*path_variable));
    }
    return roots;
  }
  if (const std::string system(system_root); is_directory(system)) {
    return system;
  }
  return BufrError::no_definitions_root(to_utf8_lossy(system_root));
}

}  // namespace quorvel
