// Table selection under an ecCodes-style definitions root: the master tables
// a message names, then its local tables over them, in one TableSet.
#pragma once

#include <cstddef>
#include <string>

#include "core/base/bufr_error.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Most alias files followed from one master table path. A chain longer than
// this, or one that comes back to itself, fails instead of running forever.
inline constexpr int kMaxTableAliases = 32;

// Most bytes an alias file may hold: it names one sibling directory, and a
// larger file is read whole on each step of the chain before being trimmed.
inline constexpr std::size_t kMaxTableAliasFileSize = 4096;

// The directory `path` stands for: `path` itself when it is a directory, or
// the sibling an alias file there names, followed to its end. Errors name the
// path being resolved at the failing step; an alias file larger than
// kMaxTableAliasFileSize fails with Io naming it and the bound.
Expected<std::string> resolve_table_directory(const std::string& path);

// Master tables from <root>/bufr/tables/<M>/wmo/<V> (alias files followed),
// then, when the local version L is not 0, local tables from
// <root>/bufr/tables/<M>/local/<L or 19-L>/<centre>/<subcentre> over them.
// Missing local directories and entries are not errors.
Expected<TableSet> select_definition_tables(const std::string& root, const BufrMessage& message);

}  // namespace quorvel
