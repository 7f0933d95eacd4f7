#include <cmath>
#include <limits>
#include <utility>

#include "bitstream/bit_reader.hpp"
#include "bitstream/decoding/decode.hpp"

namespace quorvel {
namespace {

// Reads one column of `subsets` values per element: a reference value, the
// width of the increments, then one increment per subset. Columns are kept
// in the result as they are; the result reads them subset by subset.
class CompressedLayout {
 public:
  CompressedLayout(const TableSet& tables, BitReader& reader, DecodeState& state,
                   std::uint32_t subsets, DecodedValues& out, const DecodeLimits& limits)
      : tables_(tables),
        reader_(reader),
        state_(state),
        subsets_(subsets),
        out_(out),
        limits_(limits) {}

  Status associated_field(std::uint32_t width) {
    NumericRead how;
    how.width = width;
    how.missing_allowed = false;
    return read_numeric_column(kAssociatedFieldCode, kAssociatedFieldName, how, false);
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
    for (const DecodedValue& value : last_column()) {
      if (!value.has_raw_value ||
          !(std::fabs(value.raw_value - count) <= std::numeric_limits<double>::epsilon())) {
        return BufrError::varying_replication_factors();
      }
    }
    return replication_count(count);
  }

  Status back_reference(const ElementFields& element) { return read_column(element); }

  Status marker(std::uint32_t code) {
    QV_TRY(reserve_column());
    DecodedValue value;
    value.descriptor = code;
    value.name = kOperatorName;
    value.has_raw = true;
    value.has_raw_value = true;
    out_.values.append(subsets_, value);
    return {};
  }

  BufrError too_deep() const { return BufrError::compressed_decode_too_deep(); }

 private:
  Status reserve_column() {
    if (out_.values.size() + std::uint64_t{subsets_} > limits_.max_values) {
      return BufrError::too_many_values(limits_.max_values);
    }
    return {};
  }

  std::span<const DecodedValue> last_column() const {
    return {out_.values.end() - subsets_, subsets_};
  }

  // Without subsets every column is empty.
  const DecodedValue* first_of_last_column() const {
    return subsets_ == 0 ? nullptr : last_column().data();
  }

  Status read_column(const ElementFields& element) {
    if (element.is_text) {
      return read_text_column(element);
    }
    return read_numeric_column(element.code, element.name, numeric_read(element, state_), true);
  }

  Status read_numeric_column(std::uint32_t code, std::string_view name, const NumericRead& how,
                             bool with_meanings) {
    QV_TRY(reserve_column());
    QV_ASSIGN_OR_RETURN(const std::uint64_t reference_raw, reader_.read_bits(how.width));
    QV_ASSIGN_OR_RETURN(const std::uint64_t increment_width, reader_.read_bits(6));
    const bool reference_missing = is_missing(reference_raw, how.width, how.missing_allowed);
    const auto increment_bits = static_cast<std::uint32_t>(increment_width);
    const std::uint64_t increment_missing =
        increment_bits == 0 ? 0 : (std::uint64_t{1} << increment_bits) - 1;

    DecodedValue value;
    value.descriptor = code;
    value.name = name;
    value.has_raw = true;
    DecodedValue* column = out_.values.append(subsets_, value);
    for (std::uint32_t k = 0; k < subsets_; ++k) {
      std::uint64_t increment = 0;
      if (increment_bits != 0) {
        QV_ASSIGN_OR_RETURN(increment, reader_.read_bits(increment_bits));
      }
      const bool missing = reference_missing || (increment_bits != 0 && how.missing_allowed &&
                                                 increment == increment_missing);
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
      column[k] = value;
    }
    if (with_meanings) {
      for (DecodedValue& entry : std::span(column, subsets_)) {
        if (const auto meaning = tables_.find_meaning(code, entry.raw)) {
          entry.meaning = *meaning;
          entry.has_meaning = true;
        }
      }
    }
    return {};
  }

  Status read_text_column(const ElementFields& element) {
    QV_TRY(reserve_column());
    const std::uint32_t width = text_read_width(element, state_);
    QV_TRY(reader_.read_bytes(width, octets_));
    QV_ASSIGN_OR_RETURN(const std::uint64_t increment_octets, reader_.read_bits(6));
    const std::uint64_t first_ordinal = text_counter_ * subsets_;
    ++text_counter_;

    DecodedValue value;
    value.descriptor = element.code;
    value.name = element.name;
    value.has_raw_value = true;
    // Every subset holds the reference text: store it once.
    std::uint32_t shared_text = DecodedValue::kNoText;
    DecodedValue* column = out_.values.append(subsets_, value);
    if (increment_octets == 0 && subsets_ != 0) {
      shared_text = store_text(decode_text(octets_));
    }
    for (std::uint32_t k = 0; k < subsets_; ++k) {
      if (increment_octets != 0) {
        QV_TRY(reader_.read_bytes(static_cast<std::uint32_t>(increment_octets * 8), octets_));
        value.text = store_text(decode_text(octets_));
      } else {
        value.text = shared_text;
      }
      value.raw_value = static_cast<double>((first_ordinal + k + 1) * 1000 + width / 8);
      column[k] = value;
    }
    return {};
  }

  std::uint32_t store_text(std::optional<std::string> text) {
    if (!text) {
      return DecodedValue::kNoText;
    }
    out_.texts.push_back(std::move(*text));
    return static_cast<std::uint32_t>(out_.texts.size() - 1);
  }

  const TableSet& tables_;
  BitReader& reader_;
  DecodeState& state_;
  std::uint32_t subsets_;
  DecodedValues& out_;
  const DecodeLimits& limits_;
  std::uint64_t text_counter_ = 0;
  std::string octets_;
};

}  // namespace

Expected<DecodedValues> decode_compressed(std::span<const std::uint32_t> descriptors,
                                          std::uint32_t subsets, const TableSet& tables,
                                          std::span<const std::uint8_t> data,
                                          const DecodeLimits& limits) {
  DecodedValues out;
  out.by_column = true;
  out.subsets = subsets;
  BitReader reader(data);
  DecodeState state;
  CompressedLayout layout(tables, reader, state, subsets, out, limits);
  DescriptorWalk<CompressedLayout> walk(layout, tables, state, limits);
  QV_TRY(walk.walk(descriptors, 0));
  return out;
}

}  // namespace quorvel
