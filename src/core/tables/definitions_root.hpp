// Table selection under an ecCodes-style definitions root: the master tables
// a message names, then its local tables over them, in one TableSet.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/base/directory.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Most alias files followed from one master table path. A chain longer than
// this, or one that comes back to itself, fails instead of running forever.
inline constexpr int kMaxTableAliases = 32;

// Most bytes an alias file may hold: it names one sibling directory, and a
// larger file is read whole on each step of the chain before being trimmed.
inline constexpr std::size_t kMaxTableAliasFileSize = 4096;

// A path a selection read or looked for, stamped before it did: when every
// stamp still holds, selecting again would read the same bytes.
struct ConsultedPath {
  std::string path;
  PathStamp stamp;
};

// Whether any of `consulted` has a different stamp now.
bool any_path_changed(std::span<const ConsultedPath> consulted);

// The directory `path` stands for: `path` itself when it is a directory, or
// the sibling an alias file there names, followed to its end. Errors name the
// path being resolved at the failing step; an alias file larger than
// kMaxTableAliasFileSize fails with Io naming it and the bound.
// Each alias file read is added to `consulted` when it is not null.
Expected<std::string> resolve_table_directory(const std::string& path,
                                              std::vector<ConsultedPath>* consulted = nullptr);

// How far a choice of tables may depart from what a message names.
struct TableChoiceOptions {
  // A master tables version that no root holds is replaced by the nearest
  // newer version present, else the newest older one.
  bool nearest_master_version = false;
};

// The tables chosen for a message, and what they were chosen from.
struct ChosenTables {
  TableSet tables;
  // The master tables version read: the message's, unless replaced.
  unsigned master_version = 0;
  // The table directories looked in, in every root: the master ones, then
  // the local ones (whether they exist or not).
  std::vector<std::string> directories;
};

// Master tables from <root>/bufr/tables/<M>/wmo/<V> (alias files followed),
// then, when the local version L is not 0, local tables from
// <root>/bufr/tables/<M>/local/<L or 19-L>/<centre>/<subcentre> over them.
// With several roots each file comes from the first root that holds it:
// element.table and sequence.def whole, the code tables file by file. Local
// element tables may mix rows of different field counts. Missing local
// directories and entries are not errors. When `consulted` is not null,
// every file and directory read or looked for is added to it (alias files,
// the three entries of each table directory, the local directories), so that
// a caller keeping the tables can tell when they are out of date.
Expected<ChosenTables> choose_definition_tables(std::span<const std::string> roots,
                                                const BufrMessage& message,
                                                std::vector<ConsultedPath>* consulted = nullptr,
                                                TableChoiceOptions options = {});

// The same for one root, as exactly the message names them.
Expected<TableSet> select_definition_tables(const std::string& root, const BufrMessage& message,
                                            std::vector<ConsultedPath>* consulted = nullptr);

// The entries of a colon-separated list of roots, as ECCODES_DEFINITION_PATH
// holds them; empty entries are dropped.
std::vector<std::string> split_definitions_path(std::string_view path);

// The ecCodes definitions root installed on Debian-like systems.
inline constexpr std::string_view kSystemDefinitionsRoot = "/usr/share/eccodes/definitions";

// The definitions roots to use by default, from the value of
// ECCODES_DEFINITION_PATH (nothing when unset): when set and not empty, every
// entry of its colon-separated list that is a directory, joined by colons
// again, or an error naming the value when none is; otherwise `system_root`
// when it is a directory, or an error saying what to install or set.
Expected<std::string> choose_definitions_root(
    std::optional<std::string_view> path_variable,
    std::string_view system_root = kSystemDefinitionsRoot);

}  // namespace quorvel
