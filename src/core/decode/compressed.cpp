#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "core/decode/bit_reader.hpp"
#include "core/decode/decode.hpp"

namespace quorvel {
namespace {

// Reads one column of `subsets` values per element: a reference value, the
// width of the increments, then one increment per subset. Each column is
// built in one reused buffer and handed to the sink.
class CompressedLayout {
 public:
  CompressedLayout(const TableSet& tables, BitReader& reader, DecodeState& state,
                   std::uint32_t subsets, ValueSink& sink, const DecodeLimits& limits)
      : tables_(tables),
        reader_(reader),
        state_(state),
        subsets_(subsets),
        sink_(sink),
        limits_(limits) {}

  Status associated_field(std::uint32_t width) {
    NumericRead how;
    how.width = width;
    how.missing_allowed = false;
    return read_numeric_column(kAssociatedFieldCode, kAssociatedFieldName, {}, how, false);
  }

  // The bitmap takes the first subset's value, or 0 when there is none.
  Expected<std::optional<double>> element(const ElementFields& element) {
    QV_TRY(read_column(element));
    const DecodedValue* first = first_of_last_column();
    if (first == nullptr || !first->has_raw_value) {
      return std::optional<double>(0.0);
    }
    return std::optional<double>(first->raw_value);
  }

  // Every subset must repeat the group equally often.
  Expected<std::uint64_t> replication_factor(const ElementFields& factor) {
    QV_TRY(read_column(factor));
    const DecodedValue* first = first_of_last_column();
    if (first == nullptr || !first->has_raw_value) {
      return std::uint64_t{0};
    }
    const double count = first->raw_value;
    for (const DecodedValue& value : column_) {
      if (!value.has_raw_value ||
          !(std::fabs(value.raw_value - count) <= std::numeric_limits<double>::epsilon())) {
        return BufrError::varying_replication_factors();
      }
    }
    return replication_count(count);
  }

  Status back_reference(const ElementFields& element) { return read_column(element); }

  Status absent(const ElementFields& element) { return unread_column(element); }

  Status operator_element(const ElementFields& element) {
    if (element.is_text) {
      return read_text_column(element, element.width);
    }
    return read_numeric_column(element.code, element.name, element.unit, raw_read(element), false);
  }

  // The reference bits, the increment width, then that many bits per subset.
  Status skip_unknown(const ElementFields& element) {
    QV_TRY(reader_.skip_bits(element.width));
    QV_ASSIGN_OR_RETURN(const std::uint64_t increment_width, reader_.read_bits(6));
    QV_TRY(reader_.skip_bits(increment_width * subsets_));
    return unread_column(element);
  }

  // Sent once for all subsets, without an increment width: 2-03 defines one
  // reference for the whole message.
  Expected<std::uint64_t> reference_bits(std::uint32_t width) { return reader_.read_bits(width); }

  std::size_t start_recording() {
    ++recording_;
    return recorded_.size();
  }

  Status replay(std::size_t mark, std::uint64_t times) {
    const std::size_t end = recorded_.size();
    for (std::uint64_t copy = 0; copy < times && mark != end; ++copy) {
      for (std::size_t k = mark; k < end; ++k) {
        column_ = recorded_[k].column;
        texts_ = recorded_[k].texts;
        QV_TRY(hand_over());
      }
    }
    return {};
  }

  void stop_recording() {
    if (--recording_ == 0) {
      recorded_.clear();
    }
  }

  Status marker(std::uint32_t code) {
    DecodedValue value;
    value.descriptor = code;
    value.name = kOperatorName;
    value.has_raw = true;
    value.has_raw_value = true;
    fill_column(value);
    return hand_over();
  }

  BufrError too_deep() const { return BufrError::compressed_decode_too_deep(); }

 private:
  // Gives the column just built to the sink; without subsets there is none.
  Status hand_over() {
    if (subsets_ == 0) {
      return {};
    }
    if (limits_.max_values - std::min(limits_.max_values, count_) < subsets_) {
      return BufrError::too_many_values(limits_.max_values);
    }
    count_ += subsets_;
    if (recording_ != 0) [[unlikely]] {
      record();
    }
    return sink_.column(column_, texts_);
  }

  [[gnu::cold, gnu::noinline]] void record() { recorded_.push_back({column_, texts_}); }

  // A column of values of `element` without bits, number or text.
  Status unread_column(const ElementFields& element) {
    texts_.clear();
    DecodedValue value;
    value.descriptor = element.code;
    value.name = element.name;
    value.unit = element.unit;
    fill_column(value);
    return hand_over();
  }

  // The first subset's entry of the column just read, if there are subsets.
  const DecodedValue* first_of_last_column() const {
    return column_.empty() ? nullptr : &column_.front();
  }

  Status read_column(const ElementFields& element) {
    if (element.is_text) {
      return read_text_column(element, text_read_width(element, state_));
    }
    return read_numeric_column(element.code, element.name, element.unit,
                               numeric_read(element, state_), true);
  }

  Status read_numeric_column(std::uint32_t code, std::string_view name, std::string_view unit,
                             const NumericRead& how, bool with_meanings) {
    texts_.clear();
    QV_ASSIGN_OR_RETURN(const std::uint64_t reference_raw, reader_.read_bits(how.width));
    QV_ASSIGN_OR_RETURN(const std::uint64_t increment_width, reader_.read_bits(6));
    const bool reference_missing = is_missing(reference_raw, how.width, how.missing_allowed);
    const auto increment_bits = static_cast<std::uint32_t>(increment_width);
    const std::uint64_t increment_missing =
        increment_bits == 0 ? 0 : (std::uint64_t{1} << increment_bits) - 1;

    DecodedValue value;
    value.descriptor = code;
    value.name = name;
    value.unit = unit;
    value.has_raw = true;
    // Each entry is written once, meaning included.
    const auto complete = [&](std::uint64_t increment, bool missing) -> Status {
      if (missing) {
        value.raw = reference_raw;
        value.has_raw_value = false;
      } else {
        if (increment > std::numeric_limits<std::uint64_t>::max() - reference_raw) {
          return BufrError::compressed_value_too_large(code);
        }
        value.raw = reference_raw + increment;
        value.raw_value = scaled_value(how.reference, value.raw, how.divisor);
        value.has_raw_value = true;
      }
      value.has_meaning = false;
      if (with_meanings) {
        if (const auto meaning = tables_.find_meaning(code, value.raw)) {
          value.meaning = *meaning;
          value.has_meaning = true;
        }
      }
      return {};
    };
    if (increment_bits == 0) {
      // No increments: every subset holds the reference value.
      QV_TRY(complete(0, reference_missing));
      fill_column(value);
      return hand_over();
    }
    column_.resize(subsets_);
    if (reader_.bits_left() / increment_bits >= subsets_ &&
        increment_missing <= std::numeric_limits<std::uint64_t>::max() - reference_raw) {
      // Every increment is there and no sum leaves 64 bits: the common case,
      // read without checks per entry.
      read_increments(code, name, unit, reference_raw, reference_missing, increment_bits,
                      increment_missing, how,
                      with_meanings ? tables_.find_code_table(code) : nullptr);
      return hand_over();
    }
    for (std::uint32_t k = 0; k < subsets_; ++k) {
      QV_ASSIGN_OR_RETURN(const std::uint64_t increment, reader_.read_bits(increment_bits));
      const bool missing =
          reference_missing || (how.missing_allowed && increment == increment_missing);
      QV_TRY(complete(increment, missing));
      column_[k] = value;
    }
    return hand_over();
  }

  // Sets every entry of column_ to `value`, field by field: the compilers
  // copy a whole record through a temporary that stalls on store forwarding.
  void fill_column(const DecodedValue& value) {
    column_.resize(subsets_);
    const std::uint64_t raw = value.raw;
    const double raw_value = value.raw_value;
    const std::string_view name = value.name;
    const std::string_view unit = value.unit;
    const std::string_view meaning = value.meaning;
    const std::uint32_t descriptor = value.descriptor;
    const std::uint32_t text = value.text;
    const bool has_raw = value.has_raw;
    const bool has_raw_value = value.has_raw_value;
    const bool has_meaning = value.has_meaning;
    for (DecodedValue& entry : column_) {
      entry.raw = raw;
      entry.raw_value = raw_value;
      entry.name = name;
      entry.unit = unit;
      entry.meaning = meaning;
      entry.descriptor = descriptor;
      entry.text = text;
      entry.has_raw = has_raw;
      entry.has_raw_value = has_raw_value;
      entry.has_meaning = has_meaning;
    }
  }

  // Fills column_ from the increments that follow, all of which the caller
  // has checked are present and keep reference + increment within 64 bits.
  void read_increments(std::uint32_t code, std::string_view name, std::string_view unit,
                       std::uint64_t reference_raw, bool reference_missing,
                       std::uint32_t increment_bits, std::uint64_t increment_missing,
                       const NumericRead& how, const CodeTable* meanings) {
    // Scaled values in 64-bit arithmetic when the largest and smallest sums fit.
    const __int128 lowest = how.reference + static_cast<__int128>(reference_raw);
    const __int128 highest = lowest + static_cast<__int128>(increment_missing);
    const bool narrow = lowest >= std::numeric_limits<std::int64_t>::min() &&
                        highest <= std::numeric_limits<std::int64_t>::max();
    const auto reference64 = static_cast<std::int64_t>(narrow ? lowest : 0);
    for (DecodedValue& entry : column_) {
      const std::uint64_t increment = reader_.read_present_bits(increment_bits);
      // Field by field, as in fill_column.
      entry.name = name;
      entry.unit = unit;
      entry.descriptor = code;
      entry.text = DecodedValue::kNoText;
      entry.has_raw = true;
      entry.has_meaning = false;
      if (reference_missing || (how.missing_allowed && increment == increment_missing)) {
        entry.raw = reference_raw;
        entry.has_raw_value = false;
      } else {
        entry.raw = reference_raw + increment;
        entry.raw_value =
            narrow ? static_cast<double>(reference64 + static_cast<std::int64_t>(increment)) /
                         how.divisor
                   : scaled_value(how.reference, entry.raw, how.divisor);
        entry.has_raw_value = true;
      }
      if (meanings != nullptr) {
        if (const std::string_view* meaning = meanings->find(entry.raw)) {
          entry.meaning = *meaning;
          entry.has_meaning = true;
        }
      }
    }
  }

  Status read_text_column(const ElementFields& element, std::uint32_t width) {
    texts_.clear();
    QV_TRY(reader_.read_bytes(width, octets_));
    QV_ASSIGN_OR_RETURN(const std::uint64_t increment_octets, reader_.read_bits(6));
    const std::uint64_t first_ordinal = text_counter_ * subsets_;
    ++text_counter_;

    DecodedValue value;
    value.descriptor = element.code;
    value.name = element.name;
    value.unit = element.unit;
    value.has_raw_value = true;
    // Every subset holds the reference text: keep it once.
    std::uint32_t shared_text = DecodedValue::kNoText;
    if (increment_octets == 0 && subsets_ != 0) {
      shared_text = keep_text(decode_text(octets_));
    }
    value.text = shared_text;
    fill_column(value);
    for (std::uint32_t k = 0; k < subsets_; ++k) {
      DecodedValue& entry = column_[k];
      if (increment_octets != 0) {
        QV_TRY(reader_.read_bytes(static_cast<std::uint32_t>(increment_octets * 8), octets_));
        entry.text = keep_text(decode_text(octets_));
      }
      entry.raw_value = static_cast<double>((first_ordinal + k + 1) * 1000 + width / 8);
    }
    return hand_over();
  }

  std::uint32_t keep_text(std::optional<std::string> text) {
    if (!text) {
      return DecodedValue::kNoText;
    }
    texts_.push_back(std::move(*text));
    return static_cast<std::uint32_t>(texts_.size() - 1);
  }

  const TableSet& tables_;
  BitReader& reader_;
  DecodeState& state_;
  std::uint32_t subsets_;
  ValueSink& sink_;
  const DecodeLimits& limits_;
  std::uint64_t count_ = 0;
  std::uint64_t text_counter_ = 0;
  std::string octets_;
  // The column being read, and the texts its entries point to.
  std::vector<DecodedValue> column_;
  std::vector<std::string> texts_;
  // The columns a delayed data repetition has read so far, while one runs.
  struct Recorded {
    std::vector<DecodedValue> column;
    std::vector<std::string> texts;
  };
  std::vector<Recorded> recorded_;
  int recording_ = 0;
};

}  // namespace

Status decode_compressed(std::span<const std::uint32_t> descriptors, std::uint32_t subsets,
                         const TableSet& tables, std::span<const std::uint8_t> data,
                         ValueSink& sink, const DecodeLimits& limits) {
  BitReader reader(data);
  DecodeState state;
  const DecodeLimits bounds = limits.for_data(data.size());
  CompressedLayout layout(tables, reader, state, subsets, sink, bounds);
  DescriptorWalk<CompressedLayout> walk(layout, tables, state, bounds);
  return walk.walk(descriptors, 0);
}

}  // namespace quorvel
