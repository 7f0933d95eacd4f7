// The descriptor walk shared by the uncompressed and the compressed decoder:
// sequences, replication, operators, bitmaps and back-references. What is
// read for an element, a factor, a marker or a back-reference differs between
// the two layouts and comes from the Layout policy:
//
//   Status associated_field(std::uint32_t width);
//   Expected<std::optional<double>> element(const ElementFields& element);
//       appends the element's value(s) and returns the value a bitmap
//       definition takes (nullopt: the bitmap takes nothing);
//   Expected<std::uint64_t> replication_factor(const ElementFields& factor);
//   Status absent(const ElementFields& element);
//       appends the element's value(s) as missing, reading nothing (2-21);
//   Status operator_element(const ElementFields& element);
//       appends the value(s) of an element whose width an operator gave
//       (2-05, 2-06): text, or an unscaled number without a meaning, read
//       as `element` says whatever other operators are in force;
//   Status skip_unknown(const ElementFields& element);
//       steps over an unknown element wider than 64 bits (2-06) and
//       appends its value(s) as missing;
//   Expected<std::uint64_t> reference_bits(std::uint32_t width);
//       reads the bits of one new reference value (2-03);
//   std::size_t start_recording();
//   Status replay(std::size_t mark, std::uint64_t times);
//   void stop_recording();
//       keep the values appended after start_recording, and append those
//       after `mark` again, `times` times (delayed data repetition);
//   Status marker(std::uint32_t code);
//   Status back_reference(const ElementFields& element);
//   BufrError too_deep();
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/base/interrupt.hpp"
#include "core/decode/decoded_value.hpp"
#include "core/message/descriptor.hpp"
#include "core/tables/replication.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {

// Where a decode failed: the descriptor being read or visited, its 0-based
// position in its subset's expanded descriptor list as the walk visits it
// (sequences expanded, replications unrolled, every descriptor counted, the
// factor of a delayed replication included) and the 0-based subset. A
// compressed message is walked once, as subset 0. `known` is false when the
// failure lay outside the walk (or the decode succeeded).
struct DecodeWhere {
  std::uint32_t descriptor = 0;
  std::uint64_t position = 0;
  std::uint32_t subset = 0;
  bool known = false;
};

// Bounds on the work one decode may do, far above any real message: a small
// hostile message could otherwise repeat values or empty groups without end.
//
// The value bound follows the size of the data area, because a compressed
// column of 65535 subsets can cost as little as seven bits: 32 values per
// octet (twice the densest real message we know, satellite winds with
// quality bitmaps), never fewer than 2^21 and never more than 2^23. A data
// area of up to 64 KB thus yields at most 2^21 values, about 150 MB as
// Python objects; 2^23 needs a data area of 256 KB or more.
struct DecodeLimits {
  static constexpr std::uint64_t kValuesPerDataOctet = 32;
  static constexpr std::uint64_t kMinValues = std::uint64_t{1} << 21;
  static constexpr std::uint64_t kMaxValues = std::uint64_t{1} << 23;

  // Values one decode may make; 0 scales the bound to the data area.
  std::uint64_t max_values = 0;
  // Descriptors visited, including those that read and append nothing.
  std::uint64_t max_steps = std::uint64_t{1} << 26;
  // Polled every kStepsPerPoll steps. A step takes nanoseconds (a compressed
  // column up to a few hundred microseconds, and the value bound caps their
  // sum), so polls lie well within a millisecond apart: a poll must be cheap
  // and decide for itself how often to do anything costly.
  Interrupt interrupt{};
  static constexpr std::uint64_t kStepsPerPoll = 1024;
  // Filled with where the walk failed, when not null.
  DecodeWhere* where = nullptr;

  // These limits with the value bound settled for a data area of
  // `data_octets`.
  [[nodiscard]] constexpr DecodeLimits for_data(std::size_t data_octets) const {
    if (max_values != 0) {
      return *this;
    }
    const std::uint64_t octets = std::min<std::uint64_t>(data_octets, kMaxValues);
    return {std::clamp(octets * kValuesPerDataOctet, kMinValues, kMaxValues), max_steps, interrupt,
            where};
  }
};

inline constexpr std::string_view kTextUnit = "CCITT IA5";

// The fields of a Table B element that reading needs. Usually those of the
// table's definition; a 2-25-255 back-reference reads an altered copy, and
// the characters of 2-05 and an element the tables lack after 2-06 read
// fields made from the operator.
struct ElementFields {
  std::uint32_t code = 0;
  std::string_view name;
  std::string_view unit;
  bool is_text = false;
  std::int32_t scale = 0;
  std::int64_t reference = 0;
  std::uint32_t width = 0;

  static ElementFields of(const ElementDefinition& definition) {
    return ElementFields{
        definition.code,  definition.name,      definition.unit, definition.unit == kTextUnit,
        definition.scale, definition.reference, definition.width};
  }
};

// Operator state: fresh for each uncompressed subset, one for a compressed message.
struct DecodeState {
  std::int32_t width_change = 0;
  std::int32_t scale_change = 0;
  std::int64_t reference_multiplier = 1;
  std::uint32_t associated_field_width = 0;
  bool next_width_pending = false;
  std::uint32_t next_width = 0;
  bool text_width_override = false;
  std::uint32_t text_width = 0;
  bool bitmap_defining = false;
  // The bitmap as its length and the positions of its present entries (any
  // octet but 1), so that a back-reference takes the next present entry
  // without passing the absent ones again: a bitmap reused after each
  // 2-37-000 would otherwise cost its whole length per back-reference.
  std::size_t bitmap_size = 0;
  std::vector<std::size_t> bitmap_present;
  // The next entry of bitmap_present a back-reference takes.
  std::size_t bitmap_cursor = 0;
  std::size_t history_start = 0;
  // The element behind each value read so far (a pointer into the TableSet,
  // not a copy of its fields), which the bitmap's positions index.
  std::vector<const ElementDefinition*> history;
  // Elements the tables lack that 2-06 gave a width, by their place in
  // `history` (where they stand as &kUnknownElement), in reading order.
  std::vector<std::pair<std::size_t, ElementFields>> unknown_history;
  // 2-03-YYY: while not 0, each element defines a new reference value of
  // this many bits instead of carrying data.
  std::uint32_t reference_bits = 0;
  // The new reference values in force, by element code.
  std::vector<std::pair<std::uint32_t, std::int64_t>> new_references;
  // 2-21-YYY: elements still to come whose data are not present.
  std::uint32_t absent_left = 0;

  // Back to the start-of-subset state, keeping the vectors' storage.
  void reset() {
    width_change = 0;
    scale_change = 0;
    reference_multiplier = 1;
    associated_field_width = 0;
    next_width_pending = false;
    next_width = 0;
    text_width_override = false;
    text_width = 0;
    bitmap_defining = false;
    clear_bitmap();
    history_start = 0;
    history.clear();
    unknown_history.clear();
    reference_bits = 0;
    new_references.clear();
    absent_left = 0;
  }

  // Where `code` stands in new_references; its size when it is not there.
  std::size_t new_reference_index(std::uint32_t code) const {
    std::size_t k = 0;
    while (k < new_references.size() && new_references[k].first != code) {
      ++k;
    }
    return k;
  }

  // The new reference value of `code`, when 2-03 gave it one.
  const std::int64_t* new_reference(std::uint32_t code) const {
    const std::size_t k = new_reference_index(code);
    return k < new_references.size() ? &new_references[k].second : nullptr;
  }

  // Gives `code` the new reference value `reference`, replacing any it had.
  void set_new_reference(std::uint32_t code, std::int64_t reference) {
    const std::size_t k = new_reference_index(code);
    if (k < new_references.size()) {
      new_references[k].second = reference;
    } else {
      new_references.emplace_back(code, reference);
    }
  }

  void clear_bitmap() {
    bitmap_size = 0;
    bitmap_present.clear();
    bitmap_cursor = 0;
  }

  void add_bitmap_entry(std::uint8_t octet) {
    if (octet != 1) {
      bitmap_present.push_back(bitmap_size);
    }
    ++bitmap_size;
  }
};

// How a numeric element is read under the current operators.
struct NumericRead {
  std::uint32_t width = 0;
  double divisor = 1.0;
  __int128 reference = 0;
  bool missing_allowed = true;
};

// 10^scale as the double power, as every scaled value divides by it. The
// common scales come from a table of the same powers.
inline double power_of_ten(std::int64_t scale) {
  constexpr std::int64_t kTabled = 64;
  static const std::array<double, 2 * kTabled + 1> table = [] {
    std::array<double, 2 * kTabled + 1> powers{};
    for (std::int64_t k = -kTabled; k <= kTabled; ++k) {
      powers[static_cast<std::size_t>(k + kTabled)] = std::pow(10.0, static_cast<double>(k));
    }
    return powers;
  }();
  if (scale >= -kTabled && scale <= kTabled) {
    return table[static_cast<std::size_t>(scale + kTabled)];
  }
  return std::pow(10.0, static_cast<double>(scale));
}

inline NumericRead numeric_read(const ElementFields& element, const DecodeState& state) {
  NumericRead read;
  if (state.next_width_pending) {
    read.width = state.next_width;
  } else {
    read.width = static_cast<std::uint32_t>(
        std::max<std::int64_t>(0, std::int64_t{element.width} + state.width_change));
  }
  read.divisor = power_of_ten(std::int64_t{element.scale} + state.scale_change);
  read.reference = static_cast<__int128>(element.reference) * state.reference_multiplier;
  if (!state.new_references.empty()) [[unlikely]] {
    // A reference sent in section 4 is the reference itself: 2-07 does not
    // multiply it.
    if (const std::int64_t* changed = state.new_reference(element.code)) {
      read.reference = *changed;
    }
  }
  read.missing_allowed = descriptor_x(element.code) != 31;
  return read;
}

// How an element whose width an operator gave (2-06) is read: that width,
// no scale or reference, missing when all bits are set outside class 31.
inline NumericRead raw_read(const ElementFields& element) {
  NumericRead read;
  read.width = element.width;
  read.missing_allowed = descriptor_x(element.code) != 31;
  return read;
}

inline std::uint32_t text_read_width(const ElementFields& element, const DecodeState& state) {
  return state.text_width_override ? state.text_width : element.width;
}

inline bool is_missing(std::uint64_t raw, std::uint32_t width, bool missing_allowed) {
  return missing_allowed && width < 64 && raw == (std::uint64_t{1} << width) - 1;
}

inline double scaled_value(__int128 reference, std::uint64_t raw, double divisor) {
  const __int128 sum = reference + static_cast<__int128>(raw);
  // Converting a 64-bit integer is one instruction; a wider one is a call.
  if (sum >= std::numeric_limits<std::int64_t>::min() &&
      sum <= std::numeric_limits<std::int64_t>::max()) {
    return static_cast<double>(static_cast<std::int64_t>(sum)) / divisor;
  }
  return static_cast<double>(sum) / divisor;
}

// The repeat count a replication factor's value gives: none or negative is 0,
// beyond the unsigned 64-bit range saturates.
inline std::uint64_t replication_count(std::optional<double> value) {
  if (!value || !(*value > 0.0)) {
    return 0;
  }
  if (*value >= 18446744073709551616.0) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(*value);
}

// The octet a bitmap definition takes from a 0-31-031 value.
inline std::uint8_t bitmap_octet(double value) {
  if (!(value > 0.0)) {
    return 0;
  }
  return static_cast<std::uint8_t>(std::min(255.0, value));
}

// A new reference value of `width` (1..64) bits: the first bit is the sign,
// the others the magnitude.
inline std::int64_t signed_reference(std::uint64_t raw, std::uint32_t width) {
  const std::uint64_t sign = std::uint64_t{1} << (width - 1);
  const auto magnitude = static_cast<std::int64_t>(raw & (sign - 1));
  return (raw & sign) != 0 ? -magnitude : magnitude;
}

// Where an element the tables lack stands in DecodeState::history.
inline const ElementDefinition kUnknownElement{};

// Character data as text: none when every octet is 0xFF; octets from 0x80 up
// become '?'; trailing white space goes.
std::optional<std::string> decode_text(std::string_view octets);

template <class Layout>
class DescriptorWalk {
 public:
  DescriptorWalk(Layout& layout, const TableSet& tables, DecodeState& state,
                 const DecodeLimits& limits)
      : layout_(layout), tables_(tables), state_(state), limits_(limits) {
    if (limits_.where != nullptr) {
      *limits_.where = DecodeWhere{};
    }
  }

  // Positions count from here on for the uncompressed subset `subset`.
  void start_subset(std::uint32_t subset) {
    subset_ = subset;
    position_offset_ = steps_;
  }

  Status walk(std::span<const std::uint32_t> codes, int depth) {
    if (depth > kMaxNestingDepth) {
      return layout_.too_deep();
    }
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (Status counted = count_step(); !counted) [[unlikely]] {
        return failed(codes[i], std::move(counted));
      }
      const std::uint32_t code = codes[i];
      switch (descriptor_f(code)) {
        case 0:
          if (Status done = element(code); !done) [[unlikely]] {
            return failed(code, std::move(done));
          }
          break;
        case 1:
          if (Status done = replication(codes, i, depth); !done) [[unlikely]] {
            return failed(code, std::move(done));
          }
          break;
        case 2:
          if (Status done = op(code); !done) [[unlikely]] {
            return failed(code, std::move(done));
          }
          break;
        case 3: {
          const SequenceDefinition* sequence = tables_.find_sequence(code);
          if (sequence == nullptr) {
            return failed(code, BufrError::missing_sequence(code));
          }
          if (Status done = walk(sequence->members, depth + 1); !done) [[unlikely]] {
            return failed(code, std::move(done));
          }
          break;
        }
        default:
          return failed(code, BufrError::invalid_descriptor(code));
      }
    }
    return {};
  }

 private:
  // The failure of the step that visited `code`, the last step counted at
  // this depth (deeper failures were recorded where they happened). Finding
  // the position from steps_ only once a walk has failed keeps the cost off
  // the success path.
  [[gnu::cold]] Status failed(std::uint32_t code, Status failure) {
    note_failure(code, steps_ - 1 - position_offset_);
    return failure;
  }

  // Records `code` at `position` as the failing descriptor unless one
  // deeper in the walk, which fails first, was recorded already.
  void note_failure(std::uint32_t code, std::uint64_t position) {
    DecodeWhere* where = limits_.where;
    if (where == nullptr || where->known) {
      return;
    }
    *where = DecodeWhere{code, position, subset_, true};
  }

  // The one place that charges the walk's work: one step per descriptor
  // visited. Every other operation of the walk costs at most a constant per
  // step or per value, so this bound and the value bound bound the time.
  // Every kStepsPerPoll steps the caller may stop the walk.
  Status count_step() {
    if (++steps_ > limits_.max_steps) {
      return BufrError::too_many_decode_steps(limits_.max_steps);
    }
    if (steps_ % DecodeLimits::kStepsPerPoll == 0 && limits_.interrupt.requested()) {
      return BufrError::interrupted();
    }
    return {};
  }

  // Records the element of a value just read for later back-references.
  // Each entry comes with a value, or with a column of none when a
  // compressed message has no subsets: the value bound holds it either way.
  Status remember(const ElementDefinition* definition) {
    if (state_.history.size() >= limits_.max_values) {
      return BufrError::too_many_values(limits_.max_values);
    }
    state_.history.push_back(definition);
    return {};
  }

  Status element(std::uint32_t code) {
    // One test for the two rare states, off the path of every other element.
    if ((state_.reference_bits | state_.absent_left) != 0) [[unlikely]] {
      return element_in_rare_state(code);
    }
    return read_element(code);
  }

  [[gnu::noinline]] Status element_in_rare_state(std::uint32_t code) {
    if (state_.reference_bits != 0) {
      return define_reference(code);
    }
    --state_.absent_left;
    if (!present_without_data(code)) {
      return absent_element(code);
    }
    return read_element(code);
  }

  [[gnu::always_inline]] Status read_element(std::uint32_t code) {
    if (state_.associated_field_width != 0 && descriptor_x(code) != 31) {
      QV_TRY(layout_.associated_field(state_.associated_field_width));
    }
    const ElementDefinition* definition = tables_.find_element(code);
    if (definition == nullptr) {
      if (state_.next_width_pending) {
        return unknown_element(code);
      }
      return BufrError::missing_element(code);
    }
    QV_ASSIGN_OR_RETURN(const std::optional<double> bitmap_value,
                        layout_.element(ElementFields::of(*definition)));
    state_.next_width_pending = false;
    if (code == 31031 && state_.bitmap_defining) {
      if (bitmap_value) {
        state_.add_bitmap_entry(bitmap_octet(*bitmap_value));
      }
      return {};
    }
    return remember(definition);
  }

  // Under 2-21, elements of classes 1 to 9 and 31 still carry data.
  static bool present_without_data(std::uint32_t code) {
    const std::uint32_t x = descriptor_x(code);
    return (x >= 1 && x <= 9) || x == 31;
  }

  // An element between 2-03-YYY and 2-03-255: its bits are its new reference.
  Status define_reference(std::uint32_t code) {
    QV_ASSIGN_OR_RETURN(const std::uint64_t raw, layout_.reference_bits(state_.reference_bits));
    state_.set_new_reference(code, signed_reference(raw, state_.reference_bits));
    return {};
  }

  // An element whose data 2-21 says are not present: a missing value that
  // reads no bits, in the history like any element.
  Status absent_element(std::uint32_t code) {
    const ElementDefinition* definition = tables_.find_element(code);
    if (definition == nullptr) {
      return BufrError::missing_element(code);
    }
    QV_TRY(layout_.absent(ElementFields::of(*definition)));
    return remember(definition);
  }

  // An element the tables lack, whose width 2-06 gave: its bits as an
  // unscaled number without a name from the tables.
  Status unknown_element(std::uint32_t code) {
    ElementFields fields;
    fields.code = code;
    fields.name = kUnknownElementName;
    fields.width = state_.next_width;
    state_.next_width_pending = false;
    if (fields.width > 64) {
      QV_TRY(layout_.skip_unknown(fields));
    } else {
      QV_TRY(layout_.operator_element(fields));
    }
    state_.unknown_history.emplace_back(state_.history.size(), fields);
    return remember(&kUnknownElement);
  }

  // The fields a back-reference reads for history entry `index`.
  ElementFields history_fields(std::size_t index) const {
    const ElementDefinition* definition = state_.history[index];
    if (definition != &kUnknownElement) {
      return ElementFields::of(*definition);
    }
    const auto& unknowns = state_.unknown_history;
    const auto found = std::lower_bound(unknowns.begin(), unknowns.end(), index,
                                        [](const std::pair<std::size_t, ElementFields>& entry,
                                           std::size_t at) { return entry.first < at; });
    return found->second;
  }

  // The group after the replication descriptor at codes[i]; moves i past it.
  Status replication(std::span<const std::uint32_t> codes, std::size_t& i, int depth) {
    const std::uint32_t code = codes[i];
    QV_ASSIGN_OR_RETURN(const Replication replication, read_replication(codes, i));
    const auto group = replication.group(codes);
    i = replication.last_index();
    if (!replication.delayed()) {
      for (std::uint32_t copy = 0; copy < replication.repeats; ++copy) {
        QV_TRY(walk(group, depth + 1));
      }
      return {};
    }
    const std::uint32_t factor_code = codes[replication.factor_index()];
    const ElementDefinition* factor = tables_.find_element(factor_code);
    if (factor == nullptr) {
      note_failure(factor_code, steps_ - position_offset_);
      return BufrError::missing_element(factor_code);
    }
    Expected<std::uint64_t> count = layout_.replication_factor(ElementFields::of(*factor));
    if (!count) {
      note_failure(factor_code, steps_ - position_offset_);
      return std::move(count).error();
    }
    if (Status remembered = remember(factor); !remembered) {
      note_failure(factor_code, steps_ - position_offset_);
      return remembered;
    }
    // The factor, right after the replication descriptor, takes a position
    // of its own that no step counts. Unsigned wrap-around keeps steps_ minus
    // the offset right should the offset pass below zero.
    --position_offset_;
    if (is_data_repetition(factor_code) && *count > 1) [[unlikely]] {
      return repeat_data(group, *count, depth, code);
    }
    for (std::uint64_t copy = 0; copy < *count; ++copy) {
      if (Status done = walk(group, depth + 1); !done) [[unlikely]] {
        // Only a group nested too deeply fails before counting a step of its
        // own; the replication descriptor lies before its factor then.
        note_failure(code, steps_ - 2 - position_offset_);
        return done;
      }
    }
    return {};
  }

  // 0-31-011 and 0-31-012 repeat the group's data, not only its descriptors:
  // the data are sent once.
  static bool is_data_repetition(std::uint32_t factor_code) {
    return factor_code == 31011 || factor_code == 31012;
  }

  // The group read once, its values and history entries then repeated, so
  // that `count` copies follow one another as if each had been sent.
  [[gnu::noinline]] Status repeat_data(std::span<const std::uint32_t> group, std::uint64_t count,
                                       int depth, std::uint32_t code) {
    const std::size_t mark = layout_.start_recording();
    const std::size_t history_mark = state_.history.size();
    Status done = walk(group, depth + 1);
    if (!done) [[unlikely]] {
      layout_.stop_recording();
      note_failure(code, steps_ - 2 - position_offset_);
      return done;
    }
    done = layout_.replay(mark, count - 1);
    const std::size_t history_end = state_.history.size();
    for (std::uint64_t copy = 1; done && copy < count && history_end != history_mark; ++copy) {
      for (std::size_t k = history_mark; done && k < history_end; ++k) {
        const ElementDefinition* definition = state_.history[k];
        if (definition == &kUnknownElement) {
          state_.unknown_history.emplace_back(state_.history.size(), history_fields(k));
        }
        done = remember(definition);
      }
    }
    layout_.stop_recording();
    return done;
  }

  Status op(std::uint32_t code) {
    const std::uint32_t x = descriptor_x(code);
    const std::uint32_t y = descriptor_y(code) & 0xFFu;
    const auto signed_y = static_cast<std::int32_t>(y);
    switch (x) {
      case 1:
        state_.width_change = y == 0 ? 0 : signed_y - 128;
        return {};
      case 2:
        state_.scale_change = y == 0 ? 0 : signed_y - 128;
        return {};
      case 3:
        return reference_operator(code, y);
      case 4:
        state_.associated_field_width = y;
        return {};
      case 5:
        return y == 0 ? Status{} : inserted_text(code, y);
      case 9:
        // IEEE floating point changes what section 4 holds; no message we
        // know uses it.
        if (y != 0) {
          return BufrError::unsupported_data_operator(code);
        }
        return {};
      case 21:
        state_.absent_left = y;
        return {};
      case 6:
        state_.next_width_pending = true;
        state_.next_width = y;
        return {};
      case 7:
        return scale_operator(code, y);
      case 8:
        state_.text_width_override = y != 0;
        state_.text_width = 8 * y;
        return {};
      case 22:
      case 62:
        return y == 0 ? layout_.marker(code) : Status{};
      case 36:
        if (y != 0) {
          return {};
        }
        QV_TRY(layout_.marker(code));
        state_.bitmap_defining = true;
        state_.clear_bitmap();
        state_.history_start = state_.history.size();
        return {};
      case 23:
      case 24:
      case 25:
      case 32:
        return y == 255 ? back_reference(x == 25) : layout_.marker(code);
      case 26:
      case 27:
      case 29:
      case 30:
      case 31:
      case 33:
      case 34:
      case 35:
      case 37:
      case 38:
      case 39:
      case 40:
      case 41:
      case 42:
        QV_TRY(layout_.marker(code));
        if ((x == 35 && y == 0) || (x == 37 && y != 0)) {
          state_.clear_bitmap();
          state_.history_start = 0;
        } else if (x == 37) {
          state_.bitmap_cursor = 0;
        }
        return {};
      default:
        return {};
    }
  }

  // 2-03-YYY starts defining new reference values of YYY bits, 2-03-255 ends
  // the definitions (they stay in force), 2-03-000 cancels them all.
  Status reference_operator(std::uint32_t code, std::uint32_t y) {
    if (y == 0) {
      state_.reference_bits = 0;
      state_.new_references.clear();
      return {};
    }
    if (y == 255) {
      state_.reference_bits = 0;
      return {};
    }
    if (y > 64) {
      return BufrError::reference_operator_too_wide(code);
    }
    state_.reference_bits = y;
    return {};
  }

  // 2-05-YYY: YYY characters, a text value under the operator's code.
  Status inserted_text(std::uint32_t code, std::uint32_t y) {
    ElementFields fields;
    fields.code = code;
    fields.name = kInsertedTextName;
    fields.unit = kTextUnit;
    fields.is_text = true;
    fields.width = 8 * y;
    return layout_.operator_element(fields);
  }

  Status scale_operator(std::uint32_t code, std::uint32_t y) {
    if (y == 0) {
      state_.width_change = 0;
      state_.scale_change = 0;
      state_.reference_multiplier = 1;
      return {};
    }
    // 10^19 no longer fits the signed 64-bit multiplier.
    if (y > 18) {
      return BufrError::scale_operator_too_large(code);
    }
    std::int64_t multiplier = 1;
    for (std::uint32_t k = 0; k < y; ++k) {
      multiplier *= 10;
    }
    state_.scale_change = static_cast<std::int32_t>(y);
    state_.width_change = static_cast<std::int32_t>((10 * y + 2) / 3);
    state_.reference_multiplier = multiplier;
    return {};
  }

  // Reads the value the next present bitmap entry names; nothing when every
  // present entry is taken.
  Status back_reference(bool difference) {
    if (state_.bitmap_cursor >= state_.bitmap_present.size()) {
      return {};
    }
    const std::size_t p = state_.bitmap_present[state_.bitmap_cursor++];
    const std::size_t size = state_.bitmap_size;
    const std::size_t base = state_.history_start > size ? state_.history_start - size : 0;
    const std::size_t index = base + p;
    if (index >= state_.history.size()) {
      return BufrError::bitmap_outside_history();
    }
    ElementFields fields = history_fields(index);
    if (difference) {
      // Differences are signed: one more bit, centred on zero.
      const std::uint32_t width = fields.width;
      if (!fields.is_text && width >= 64) {
        return BufrError::difference_reference_too_wide(fields.code, width);
      }
      fields.reference = width >= 64   ? 0
                         : width == 63 ? std::numeric_limits<std::int64_t>::min()
                                       : -(std::int64_t{1} << width);
      fields.width = width >= 65535 ? width : width + 1;
    }
    return layout_.back_reference(fields);
  }

  Layout& layout_;
  const TableSet& tables_;
  DecodeState& state_;
  const DecodeLimits& limits_;
  std::uint64_t steps_ = 0;
  // steps_ minus this is the position of the next descriptor counted, in the
  // subset being walked.
  std::uint64_t position_offset_ = 0;
  std::uint32_t subset_ = 0;
};

}  // namespace quorvel
