// Code and flag tables: meanings by raw value, and the store that owns the
// meanings' text. A table set holds hundreds of tables and thousands of short
// meanings; with a node and a string allocated for each, making and freeing
// them was most of the cost of loading a table directory.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// Append-only storage for text that views elsewhere point into. Stored text
// never moves, also not when the store itself is moved, so a view stays valid
// for as long as the store (or whatever it was moved into) lives.
class TextStore {
 public:
  TextStore() = default;
  TextStore(TextStore&&) = default;
  TextStore& operator=(TextStore&&) = default;
  // A copy would hold views into the original.
  TextStore(const TextStore&) = delete;
  TextStore& operator=(const TextStore&) = delete;

  // A stable copy of `text`.
  std::string_view add(std::string_view text) {
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < text.size()) {
      const std::size_t size = std::max(kBlockSize, text.size());
      blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(size), size, 0});
    }
    Block& block = blocks_.back();
    char* const start = block.data.get() + block.used;
    std::copy(text.begin(), text.end(), start);
    block.used += text.size();
    return {start, text.size()};
  }

 private:
  static constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

  // Text goes into the last block; the rest of a block too full for the next
  // text is left unused.
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t used = 0;
  };
  std::vector<Block> blocks_;
};

// One code or flag table: a meaning per whole raw value, flag tables stored
// the same way. The meanings are views; their text lives elsewhere (a
// TextStore, or static text) for at least as long as the table.
//
// An open-addressing hash table with linear probing, kept at most half full.
class CodeTable {
 public:
  CodeTable() = default;
  CodeTable(std::initializer_list<std::pair<std::uint64_t, std::string_view>> entries) {
    reserve(entries.size());
    for (const auto& [raw, meaning] : entries) {
      insert_or_assign(raw, meaning);
    }
  }

  // Room for `count` entries without growing.
  void reserve(std::size_t count) {
    if (count * 2 > slots_.size()) {
      rehash(std::bit_ceil(std::max<std::size_t>(count * 2, kMinSlots)));
    }
  }

  // Sets the meaning of `raw`, replacing any it had.
  void insert_or_assign(std::uint64_t raw, std::string_view meaning) {
    reserve(size_ + 1);
    Slot& slot = slots_[index_for(raw)];
    if (!slot.used) {
      slot.used = true;
      slot.raw = raw;
      ++size_;
    }
    slot.meaning = meaning;
  }

  // The meaning of `raw`, or nullptr when the table has none.
  const std::string_view* find(std::uint64_t raw) const {
    if (size_ == 0) {
      return nullptr;
    }
    const Slot& slot = slots_[index_for(raw)];
    return slot.used ? &slot.meaning : nullptr;
  }

  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }

  // The same raw values with the same meaning texts.
  friend bool operator==(const CodeTable& left, const CodeTable& right) {
    if (left.size_ != right.size_) {
      return false;
    }
    return std::all_of(left.slots_.begin(), left.slots_.end(), [&](const Slot& slot) {
      if (!slot.used) {
        return true;
      }
      const std::string_view* other = right.find(slot.raw);
      return other != nullptr && *other == slot.meaning;
    });
  }

 private:
  static constexpr std::size_t kMinSlots = 8;

  struct Slot {
    std::uint64_t raw = 0;
    std::string_view meaning;
    bool used = false;
  };

  // The slot holding `raw`, or the empty slot where it would go; there is
  // always an empty one, as the table is kept at most half full. The slot
  // count must be a power of two.
  std::size_t index_for(std::uint64_t raw) const {
    const std::size_t mask = slots_.size() - 1;
    // Multiplying by 2^64 / golden ratio spreads the runs of small
    // consecutive values that code tables have over the upper bits.
    std::size_t index = static_cast<std::size_t>((raw * 0x9E3779B97F4A7C15ULL) >> 32) & mask;
    while (slots_[index].used && slots_[index].raw != raw) {
      index = (index + 1) & mask;
    }
    return index;
  }

  void rehash(std::size_t slot_count) {
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slot_count));
    for (const Slot& slot : old) {
      if (slot.used) {
        slots_[index_for(slot.raw)] = slot;
      }
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

}  // namespace quorvel
