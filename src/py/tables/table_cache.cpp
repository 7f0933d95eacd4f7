#include "py/tables/table_cache.hpp"

#include <cstdlib>
#include <exception>
#include <future>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/tables/definitions_root.hpp"

namespace quorvel::py {

struct TableCache::Entry {
  explicit Entry(DefinitionKey k) : key(std::move(k)), result(promise.get_future().share()) {}

  DefinitionKey key;
  std::promise<Result> promise;  // set once, by the thread that loads
  std::shared_future<Result> result;
  // Written by the loading thread before it sets the result, read only by
  // those that got the result, so the future orders the two.
  std::vector<ConsultedPath> consulted;
};

DefinitionKey definition_key(const std::string& root, const BufrMessage& message, bool as_reader) {
  DefinitionKey key;
  key.root = root;
  key.as_reader = as_reader;
  key.master_table_number = message.master_table_number;
  key.master_tables_version_number = message.master_tables_version_number;
  key.local_tables_version_number = message.local_tables_version_number;
  if (message.local_tables_version_number != 0) {
    key.originating_centre = message.originating_centre;
    key.originating_subcentre = message.originating_subcentre;
  }
  return key;
}

BufrMessage message_for(const DefinitionKey& key) {
  BufrMessage message;
  message.master_table_number = key.master_table_number;
  message.master_tables_version_number = key.master_tables_version_number;
  message.local_tables_version_number = key.local_tables_version_number;
  message.originating_centre = key.originating_centre;
  message.originating_subcentre = key.originating_subcentre;
  return message;
}

TableCache::~TableCache() = default;

std::shared_ptr<TableCache::Entry> TableCache::find_or_start(const DefinitionKey& key,
                                                             bool& started) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if ((*it)->key == key) {
      entries_.splice(entries_.begin(), entries_, it);
      started = false;
      return entries_.front();
    }
  }
  entries_.push_front(std::make_shared<Entry>(key));
  if (entries_.size() > capacity_) {
    // A load still running keeps its entry alive and delivers its result.
    entries_.pop_back();
  }
  ++loads_;
  started = true;
  return entries_.front();
}

void TableCache::forget(const std::shared_ptr<Entry>& entry) {
  const std::lock_guard lock(mutex_);
  entries_.remove(entry);
}

TableCache::Result TableCache::load(const std::shared_ptr<Entry>& entry) {
  std::optional<Result> result;
  try {
    std::vector<ConsultedPath> consulted;
    const DefinitionKey& key = entry->key;
    const std::vector<std::string> roots =
        key.as_reader ? split_definitions_path(key.root) : std::vector<std::string>{key.root};
    auto tables = choose_definition_tables(roots, message_for(key), &consulted,
                                           TableChoiceOptions{key.as_reader});
    if (tables) {
      entry->consulted = std::move(consulted);
      result.emplace(std::make_shared<const ChosenTables>(std::move(*tables)));
    } else if (std::holds_alternative<error::Io>(tables.error().kind())) {
      // A failed read may not fail again: the next caller tries afresh.
      forget(entry);
      result.emplace(std::move(tables).error());
    } else {
      // Missing or malformed tables stay so until a file they were looked
      // for in changes, like loaded ones: a file of many messages naming
      // them is not read again for each.
      entry->consulted = std::move(consulted);
      result.emplace(std::move(tables).error());
    }
  } catch (...) {
    // Out of memory: those waiting get the same exception, and the next
    // caller loads again.
    forget(entry);
    entry->promise.set_exception(std::current_exception());
    throw;
  }
  entry->promise.set_value(*result);
  return std::move(*result);
}

TableCache::Result TableCache::tables_for(const DefinitionKey& key) {
  // An entry found stale is replaced once; the tables loaded then are
  // returned as they are, so a file rewritten without pause cannot keep a
  // caller here.
  for (bool check = true;; check = false) {
    bool started = false;
    std::shared_ptr<Entry> entry;
    {
      const std::lock_guard lock(mutex_);
      entry = find_or_start(key, started);
    }
    if (started) {
      return load(entry);
    }
    const Result& result = entry->result.get();
    if (!check || !any_path_changed(entry->consulted)) {
      return result;
    }
    forget(entry);
  }
}

TableCache::Counts TableCache::counts() {
  const std::lock_guard lock(mutex_);
  return Counts{entries_.size(), capacity_, loads_};
}

std::shared_ptr<const TableSet> chosen_table_set(std::shared_ptr<const ChosenTables> chosen) {
  const TableSet* tables = &chosen->tables;
  return {std::move(chosen), tables};
}

Expected<std::shared_ptr<const TableSet>> cached_definition_tables(TableCache& cache,
                                                                   const std::string& root,
                                                                   const BufrMessage& message) {
  QV_ASSIGN_OR_RETURN(auto chosen, cache.tables_for(definition_key(root, message)));
  return chosen_table_set(std::move(chosen));
}

Expected<std::string> default_definitions_root() {
  const char* value = std::getenv("ECCODES_DEFINITION_PATH");
  return choose_definitions_root(value == nullptr ? std::nullopt
                                                  : std::optional<std::string_view>(value));
}

}  // namespace quorvel::py
