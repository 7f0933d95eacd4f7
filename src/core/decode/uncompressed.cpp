#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/decode/bit_reader.hpp"
#include "core/decode/decode.hpp"

namespace quorvel {
namespace {

struct RecordedValue {
  DecodedValue value;
  std::optional<std::string> text;
};

// Hands values on to `inner`, keeping a copy of each.
class RecordingSink final : public ValueSink {
 public:
  RecordingSink(ValueSink& sink, std::vector<RecordedValue>& store) : inner(&sink), store_(store) {}

  Status value(const DecodedValue& value, std::optional<std::string_view> text) override {
    store_.push_back({value, text ? std::optional<std::string>(*text) : std::nullopt});
    return inner->value(value, text);
  }
  Status column(std::span<const DecodedValue> column, std::span<const std::string> texts) override {
    return inner->column(column, texts);
  }
  Status begin_subset(std::uint32_t subset) override { return inner->begin_subset(subset); }

  ValueSink* const inner;

 private:
  std::vector<RecordedValue>& store_;
};

// Reads values one subset after another, each value where its descriptor
// stands in the walk.
class UncompressedLayout {
 public:
  UncompressedLayout(const TableSet& tables, BitReader& reader, DecodeState& state, ValueSink& sink,
                     const DecodeLimits& limits)
      : tables_(tables),
        reader_(reader),
        state_(state),
        sink_(&sink),
        limits_(limits),
        recorder_(sink, recorded_) {}

  Status associated_field(std::uint32_t width) {
    QV_ASSIGN_OR_RETURN(const std::uint64_t raw, reader_.read_bits(width));
    DecodedValue value;
    value.descriptor = kAssociatedFieldCode;
    value.name = kAssociatedFieldName;
    value.raw = raw;
    value.has_raw = true;
    value.raw_value = static_cast<double>(raw);
    value.has_raw_value = true;
    return append(value);
  }

  Expected<std::optional<double>> element(const ElementFields& element) { return read(element); }

  Expected<std::uint64_t> replication_factor(const ElementFields& factor) {
    QV_ASSIGN_OR_RETURN(const std::optional<double> value, read(factor));
    return replication_count(value);
  }

  Status back_reference(const ElementFields& element) {
    QV_TRY(read(element));
    return {};
  }

  Status absent(const ElementFields& element) { return append(unread(element)); }

  Status operator_element(const ElementFields& element) {
    if (element.is_text) {
      QV_TRY(read_text(element, element.width));
      return {};
    }
    QV_TRY(read_number(element, raw_read(element), false));
    return {};
  }

  Status skip_unknown(const ElementFields& element) {
    QV_TRY(reader_.skip_bits(element.width));
    return append(unread(element));
  }

  Expected<std::uint64_t> reference_bits(std::uint32_t width) { return reader_.read_bits(width); }

  // Values pass through the recorder while a repetition runs, so that
  // appending costs nothing more otherwise.
  std::size_t start_recording() {
    if (recording_++ == 0) {
      sink_ = &recorder_;
    }
    return recorded_.size();
  }

  Status replay(std::size_t mark, std::uint64_t times) {
    const std::size_t end = recorded_.size();
    for (std::uint64_t copy = 0; copy < times && mark != end; ++copy) {
      for (std::size_t k = mark; k < end; ++k) {
        // A copy: appending may record again and move the vector.
        const RecordedValue entry = recorded_[k];
        QV_TRY(append(entry.value, entry.text));
      }
    }
    return {};
  }

  void stop_recording() {
    if (--recording_ == 0) {
      sink_ = recorder_.inner;
      recorded_.clear();
    }
  }

  Status marker(std::uint32_t code) {
    DecodedValue value;
    value.descriptor = code;
    value.name = kOperatorName;
    value.has_raw = true;
    value.has_raw_value = true;
    return append(value);
  }

  BufrError too_deep() const { return BufrError::decode_too_deep(); }

 private:
  Status append(const DecodedValue& value, std::optional<std::string_view> text = std::nullopt) {
    if (count_ >= limits_.max_values) {
      return BufrError::too_many_values(limits_.max_values);
    }
    ++count_;
    return sink_->value(value, text);
  }

  // A value of `element` without bits, number or text.
  static DecodedValue unread(const ElementFields& element) {
    DecodedValue value;
    value.descriptor = element.code;
    value.name = element.name;
    value.unit = element.unit;
    return value;
  }

  // Reads one element, appends its value and returns its scaled value.
  Expected<std::optional<double>> read(const ElementFields& element) {
    if (element.is_text) {
      return read_text(element, text_read_width(element, state_));
    }
    return read_number(element, numeric_read(element, state_), true);
  }

  Expected<std::optional<double>> read_text(const ElementFields& element, std::uint32_t width) {
    DecodedValue value;
    value.descriptor = element.code;
    value.name = element.name;
    value.unit = element.unit;
    QV_TRY(reader_.read_bytes(width, octets_));
    const std::optional<std::string> text = decode_text(octets_);
    ++text_counter_;
    value.raw_value = static_cast<double>(width / 8) + static_cast<double>(text_counter_) * 1000.0;
    value.has_raw_value = true;
    if (text) {
      value.text = 0;
    }
    QV_TRY(append(value, text));
    return value.raw_value_or_none();
  }

  Expected<std::optional<double>> read_number(const ElementFields& element, const NumericRead& how,
                                              bool with_meaning) {
    DecodedValue value;
    value.descriptor = element.code;
    value.name = element.name;
    value.unit = element.unit;
    QV_ASSIGN_OR_RETURN(const std::uint64_t raw, reader_.read_bits(how.width));
    value.raw = raw;
    value.has_raw = true;
    if (!is_missing(raw, how.width, how.missing_allowed)) {
      value.raw_value = scaled_value(how.reference, raw, how.divisor);
      value.has_raw_value = true;
    }
    if (with_meaning) {
      if (const auto meaning = tables_.find_meaning(element.code, raw)) {
        value.meaning = *meaning;
        value.has_meaning = true;
      }
    }
    QV_TRY(append(value));
    return value.raw_value_or_none();
  }

  const TableSet& tables_;
  BitReader& reader_;
  DecodeState& state_;
  ValueSink* sink_;
  const DecodeLimits& limits_;
  std::uint64_t count_ = 0;
  // Text fields are numbered through the whole message, across subsets.
  std::uint64_t text_counter_ = 0;
  std::string octets_;
  // The values a delayed data repetition has read so far, while one runs.
  std::vector<RecordedValue> recorded_;
  int recording_ = 0;
  RecordingSink recorder_;
};

}  // namespace

Status decode_uncompressed(std::span<const std::uint32_t> descriptors, std::uint32_t subsets,
                           const TableSet& tables, std::span<const std::uint8_t> data,
                           ValueSink& sink, const DecodeLimits& limits) {
  BitReader reader(data);
  DecodeState state;
  const DecodeLimits bounds = limits.for_data(data.size());
  UncompressedLayout layout(tables, reader, state, sink, bounds);
  DescriptorWalk<UncompressedLayout> walk(layout, tables, state, bounds);
  for (std::uint32_t subset = 0; subset < subsets; ++subset) {
    state.reset();
    walk.start_subset(subset);
    QV_TRY(sink.begin_subset(subset));
    QV_TRY(walk.walk(descriptors, 0));
  }
  return {};
}

}  // namespace quorvel
