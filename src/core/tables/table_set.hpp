// The in-memory BUFR tables: Table B elements, Table D sequences and
// code/flag-table meanings, keyed by descriptor code. A TableSet is built
// complete from three filled maps and never changes afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/tables/code_table.hpp"

namespace quorvel {

struct ElementDefinition {
  std::uint32_t code = 0;
  std::string name;
  std::string unit;
  std::int32_t scale = 0;
  std::int64_t reference = 0;
  std::uint16_t width = 0;
  std::string element_type;
  std::string abbreviation;
};

struct SequenceDefinition {
  std::uint32_t code = 0;
  std::vector<std::uint32_t> members;
};

using ElementMap = std::unordered_map<std::uint32_t, ElementDefinition>;
using SequenceMap = std::unordered_map<std::uint32_t, SequenceDefinition>;
using CodeTableMap = std::unordered_map<std::uint32_t, CodeTable>;

// The three maps a loader fills before it wraps them in a TableSet, and the
// text that the code tables' meanings point into.
struct TableMaps {
  ElementMap elements;
  SequenceMap sequences;
  CodeTableMap code_tables;
  TextStore meanings;
};

class TableSet {
 public:
  TableSet() = default;
  explicit TableSet(TableMaps maps) : maps_(std::move(maps)) {}

  // Lookups never fail: an absent entry is nullptr, and the caller that needs
  // the entry makes the error. Pointers live as long as the TableSet.
  const ElementDefinition* find_element(std::uint32_t code) const {
    const auto found = maps_.elements.find(code);
    return found == maps_.elements.end() ? nullptr : &found->second;
  }
  const SequenceDefinition* find_sequence(std::uint32_t code) const {
    const auto found = maps_.sequences.find(code);
    return found == maps_.sequences.end() ? nullptr : &found->second;
  }
  // The meaning of `raw` in the code or flag table of element `code`. The
  // view's characters stay at one address for the life of the TableSet, so
  // callers may key caches on data().
  // The code or flag table of `code`, or nullptr; its meanings are those of
  // find_meaning.
  const CodeTable* find_code_table(std::uint32_t code) const {
    const auto table = maps_.code_tables.find(code);
    return table == maps_.code_tables.end() ? nullptr : &table->second;
  }

  std::optional<std::string_view> find_meaning(std::uint32_t code, std::uint64_t raw) const {
    const CodeTable* table = find_code_table(code);
    if (table == nullptr) {
      return std::nullopt;
    }
    const std::string_view* meaning = table->find(raw);
    if (meaning == nullptr) {
      return std::nullopt;
    }
    return *meaning;
  }

  std::size_t element_count() const { return maps_.elements.size(); }
  std::size_t sequence_count() const { return maps_.sequences.size(); }
  std::size_t code_table_count() const { return maps_.code_tables.size(); }

 private:
  TableMaps maps_;
};

}  // namespace quorvel
