// The tables chosen under a definitions root, kept between calls: decoding
// many small messages would otherwise spend nearly all its time reading the
// same table files again. One cache per module state; every function here
// may run with the GIL released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/bufr_error.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/definitions_root.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel::py {

// What select_definition_tables reads for a message: the root and the
// header fields that name the tables. Centre and subcentre are kept only
// when there are local tables (local version not 0), so that messages of
// every centre share one entry of the master tables alone.
struct DefinitionKey {
  std::string root;
  // The reader's choice: `root` is a colon-separated list of roots, and a
  // master tables version no root holds is replaced by the nearest one.
  bool as_reader = false;
  std::uint8_t master_table_number = 0;
  std::uint8_t master_tables_version_number = 0;
  std::uint8_t local_tables_version_number = 0;
  std::uint16_t originating_centre = 0;
  std::uint16_t originating_subcentre = 0;

  bool operator==(const DefinitionKey&) const = default;
};

DefinitionKey definition_key(const std::string& root, const BufrMessage& message,
                             bool as_reader = false);

// A header with only the fields of `key` set, for selecting its tables.
BufrMessage message_for(const DefinitionKey& key);

// A bounded, least-recently-used map from DefinitionKey to the tables loaded
// for it, safe to share between threads. An entry is used again only while
// every file and directory its load read or looked for keeps its stamp (see
// select_definition_tables), so edited tables are read afresh. A load that
// failed for missing or malformed tables is kept the same way; one whose
// read failed is not. When threads ask at once for a key being loaded, one loads
// and the others wait for its result.
class TableCache {
 public:
  // A choice of master and local tables holds about 1.2 MB; the shared
  // files alone name 26 choices, and an archive cycling through more than
  // the cache holds would load tables for every message.
  static constexpr std::size_t kCapacity = 64;

  using Result = Expected<std::shared_ptr<const ChosenTables>>;

  explicit TableCache(std::size_t capacity = kCapacity) : capacity_(capacity) {}
  TableCache(const TableCache&) = delete;
  TableCache& operator=(const TableCache&) = delete;
  ~TableCache();

  Result tables_for(const DefinitionKey& key);

  struct Counts {
    std::size_t entries = 0;
    std::size_t capacity = 0;
    std::uint64_t loads = 0;  // loads started since the cache was made
  };
  Counts counts();

 private:
  struct Entry;

  // With mutex_ held: the entry of `key` made most recent, or a new loading
  // entry (`started` set) with the least recent entry past the bound evicted.
  std::shared_ptr<Entry> find_or_start(const DefinitionKey& key, bool& started);
  // Takes `entry` out of the list if it is still there.
  void forget(const std::shared_ptr<Entry>& entry);
  Result load(const std::shared_ptr<Entry>& entry);

  const std::size_t capacity_;
  std::mutex mutex_;
  std::list<std::shared_ptr<Entry>> entries_;  // most recently used first
  std::uint64_t loads_ = 0;
};

// The tables for `message` under `root`, from `cache` or loaded into it.
Expected<std::shared_ptr<const TableSet>> cached_definition_tables(TableCache& cache,
                                                                   const std::string& root,
                                                                   const BufrMessage& message);

// The tables of `chosen`, sharing its ownership.
std::shared_ptr<const TableSet> chosen_table_set(std::shared_ptr<const ChosenTables> chosen);

// The definitions roots (colon-separated) used when a caller names none: see
// choose_definitions_root. Reads the environment, so call it with the GIL
// held (os.environ changes it under the GIL).
Expected<std::string> default_definitions_root();

}  // namespace quorvel::py
