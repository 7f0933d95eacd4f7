// The decoders' own limits and the outcomes chosen where arithmetic would
// leave the 64-bit range; the value rules are in decode_uncompressed_test.cpp
// and decode_compressed_test.cpp.
#include "core/decode/decode.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/bit_writer.hpp"
#include "support/counting_poll.hpp"

namespace quorvel {
namespace {

using Codes = std::vector<std::uint32_t>;
using testing::BitWriter;

ElementDefinition element(std::uint32_t code, std::uint16_t width, std::int32_t scale = 0,
                          std::int64_t reference = 0, std::string unit = "NUMERIC") {
  ElementDefinition definition;
  definition.code = code;
  definition.name = fmt::format("E{}", code);
  definition.unit = std::move(unit);
  definition.scale = scale;
  definition.reference = reference;
  definition.width = width;
  return definition;
}

TableSet tables() {
  TableMaps maps;
  for (ElementDefinition definition : {
           element(1001, 7), element(1015, 32, 0, 0, "CCITT IA5"),
           element(2001, 0),  // a zero-width element reads no bits
           element(8001, 63), element(8002, 64), element(12101, 16, 2, -27315), element(31002, 16),
           element(31031, 1), element(31090, 20),  // a factor wide enough for huge counts
       }) {
    maps.elements.insert_or_assign(definition.code, std::move(definition));
  }
  return TableSet(std::move(maps));
}

std::string message_of(const BufrError& error) { return error.message(); }

std::string decode_failure(const Codes& codes, std::vector<std::uint8_t> data,
                           std::uint32_t subsets = 1, bool compressed = false,
                           DecodeLimits limits = {}) {
  const TableSet set = tables();
  const auto decoded = compressed ? decode_compressed(codes, subsets, set, data, limits)
                                  : decode_uncompressed(codes, subsets, set, data, limits);
  return decoded ? std::string("decoded") : message_of(decoded.error());
}

std::vector<std::uint8_t> bits(std::initializer_list<std::pair<std::uint64_t, unsigned>> fields) {
  BitWriter writer;
  for (const auto& [value, width] : fields) {
    writer.write(value, width);
  }
  return writer.take_bytes();
}

// ---- Bounded work ------------------------------------------------------------------

struct LimitCase {
  const char* name;
  Codes codes;
  std::vector<std::uint8_t> data;
  std::uint32_t subsets;
  bool compressed;
  const char* expected;
};

class DecodeLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(DecodeLimitTest, FailsAtTheLimit) {
  const LimitCase& c = GetParam();
  const DecodeLimits limits{1000, 5000};
  EXPECT_EQ(decode_failure(c.codes, c.data, c.subsets, c.compressed, limits),
            std::string("csv/table parse error: ") + c.expected);
}

INSTANTIATE_TEST_SUITE_P(Work, DecodeLimitTest,
                         ::testing::Values(
                             // A huge delayed count over values that read no bits.
                             LimitCase{"markers",
                                       {101000, 31090, 222000},
                                       bits({{1000000, 20}}),
                                       1,
                                       false,
                                       "section 4 decode exceeded 1000 values"},
                             LimitCase{"zero_width_elements",
                                       {101000, 31090, 2001},
                                       bits({{1000000, 20}}),
                                       1,
                                       false,
                                       "section 4 decode exceeded 1000 values"},
                             // Nested fixed replication of an operator that appends nothing.
                             LimitCase{"empty_operators",
                                       {103255, 102255, 101255, 201000},
                                       {},
                                       1,
                                       false,
                                       "section 4 decode exceeded 5000 descriptor steps"},
                             // Compressed columns count every subset's value.
                             LimitCase{"compressed_markers",
                                       {101000, 31090, 222000},
                                       bits({{1000, 20}, {0, 6}}),
                                       100,
                                       true,
                                       "section 4 decode exceeded 1000 values"},
                             LimitCase{"compressed_without_subsets",
                                       {103255, 102255, 101255, 222000},
                                       {},
                                       0,
                                       true,
                                       "section 4 decode exceeded 5000 descriptor steps"},
                             // Columns of no subsets make no values, yet each is
                             // remembered for back-references: the value bound holds
                             // that history too.
                             LimitCase{"compressed_history_without_subsets",
                                       {103255, 102255, 101255, 2001},
                                       std::vector<std::uint8_t>(1000, 0),
                                       0,
                                       true,
                                       "section 4 decode exceeded 1000 values"},
                             // Zero-width values, the cheapest to remember.
                             LimitCase{"zero_width_under_nested_replication",
                                       {201001, 104255, 103255, 102255, 101255, 1001},
                                       {},
                                       1,
                                       false,
                                       "section 4 decode exceeded 1000 values"}),
                         [](const ::testing::TestParamInfo<LimitCase>& param) {
                           return std::string(param.param.name);
                         });

TEST(DecodeLimitTest, ExactlyAtTheLimitSucceeds) {
  const TableSet set = tables();
  const auto data = bits({{999, 20}});
  const auto decoded =
      decode_uncompressed(Codes{101000, 31090, 222000}, 1, set, data, DecodeLimits{1000, 5000});
  ASSERT_TRUE(decoded) << message_of(decoded.error());
  EXPECT_EQ(decoded->size(), 1000U);
}

// Counts what a decode hands over without keeping it.
class CountingSink final : public ValueSink {
 public:
  Status value(const DecodedValue& /*value*/, std::optional<std::string_view> /*text*/) override {
    ++values;
    return {};
  }
  Status column(std::span<const DecodedValue> column,
                std::span<const std::string> /*texts*/) override {
    values += column.size();
    return {};
  }

  std::uint64_t values = 0;
};

// A bitmap of 65534 absent entries, then a million pairs of 2-37-000 (start
// the bitmap over) and 2-23-255 (which finds no present entry). Passing the
// absent entries again for each back-reference cost 6.5e10 comparisons
// (minutes); the work must be a step per descriptor, all within the bound.
class BitmapReuseTest : public ::testing::TestWithParam<bool> {};

TEST_P(BitmapReuseTest, CostsOneStepPerDescriptor) {
  constexpr std::uint64_t kAbsent = 65534;
  constexpr std::uint64_t kReuses = 1000000;
  const bool compressed = GetParam();
  const Codes codes{236000, 101000, 31002, 31031, 102000, 31090, 237000, 223255};
  BitWriter writer;
  // One subset; a compressed column adds an increment width of 0.
  const auto field = [&](std::uint64_t value, unsigned width) {
    writer.write(value, width);
    if (compressed) {
      writer.write(0, 6);
    }
  };
  field(kAbsent, 16);
  for (std::uint64_t k = 0; k < kAbsent; ++k) {
    field(1, 1);
  }
  field(kReuses, 20);
  const auto data = writer.take_bytes();
  const TableSet set = tables();
  const auto decode = [&](CountingSink& sink, const DecodeLimits& limits) {
    return compressed ? decode_compressed(codes, 1, set, data, sink, limits)
                      : decode_uncompressed(codes, 1, set, data, sink, limits);
  };
  // The 2-36-000 marker, two factors, the bitmap and a marker per reuse.
  const std::uint64_t values = 3 + kAbsent + kReuses;
  const std::uint64_t steps = 3 + kAbsent + 2 * kReuses;

  CountingSink sink;
  const Status done = decode(sink, DecodeLimits{values, steps});
  ASSERT_TRUE(done) << message_of(done.error());
  EXPECT_EQ(sink.values, values);

  CountingSink short_sink;
  const Status stopped = decode(short_sink, DecodeLimits{values, steps - 1});
  ASSERT_FALSE(stopped);
  EXPECT_EQ(message_of(stopped.error()),
            fmt::format("csv/table parse error: section 4 decode exceeded {} descriptor steps",
                        steps - 1));
}

INSTANTIATE_TEST_SUITE_P(Work, BitmapReuseTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return std::string(param.param ? "compressed" : "uncompressed");
                         });

struct ScaledBoundCase {
  std::size_t data_octets;
  std::uint64_t max_values;
};

class ScaledValueBoundTest : public ::testing::TestWithParam<ScaledBoundCase> {};

TEST_P(ScaledValueBoundTest, FollowsTheDataArea) {
  const ScaledBoundCase& c = GetParam();
  const DecodeLimits settled = DecodeLimits{}.for_data(c.data_octets);
  EXPECT_EQ(settled.max_values, c.max_values);
  EXPECT_EQ(settled.max_steps, DecodeLimits{}.max_steps);
  // A bound given explicitly stays as it is.
  EXPECT_EQ((DecodeLimits{1000, 5000}.for_data(c.data_octets).max_values), 1000U);
}

INSTANTIATE_TEST_SUITE_P(
    Work, ScaledValueBoundTest,
    ::testing::Values(ScaledBoundCase{0, 1U << 21}, ScaledBoundCase{65536, 1U << 21},
                      ScaledBoundCase{65537, (1U << 21) + 32},
                      ScaledBoundCase{262143, (1U << 23) - 32}, ScaledBoundCase{262144, 1U << 23},
                      ScaledBoundCase{std::numeric_limits<std::size_t>::max(), 1U << 23}));

// ---- Interruption ------------------------------------------------------------------

// Decode limits whose interrupt is `poll`.
DecodeLimits limits_polled_by(testing::CountingPoll& poll) {
  return DecodeLimits{0, DecodeLimits{}.max_steps, poll.interrupt()};
}

class InterruptTest : public ::testing::TestWithParam<bool> {};

// Nested replication of an operator runs far past the step bound unless the
// poll stops it; the error is the Interrupted variant, not a text.
TEST_P(InterruptTest, StopsAtThePollThatAsks) {
  const bool compressed = GetParam();
  const TableSet set = tables();
  const Codes codes{103255, 102255, 101255, 201000};
  testing::CountingPoll poll{3};
  const auto decoded = compressed ? decode_compressed(codes, 1, set, {}, limits_polled_by(poll))
                                  : decode_uncompressed(codes, 1, set, {}, limits_polled_by(poll));
  ASSERT_FALSE(decoded);
  EXPECT_TRUE(std::holds_alternative<error::Interrupted>(decoded.error().kind()));
  EXPECT_EQ(poll.calls, 3);
}

// 1111 steps: one poll, after step kStepsPerPoll, and a whole result.
TEST_P(InterruptTest, PollsOncePerStepsPerPoll) {
  const bool compressed = GetParam();
  const TableSet set = tables();
  const Codes codes{103010, 102010, 101010, 201000};
  testing::CountingPoll poll;
  const auto decoded = compressed ? decode_compressed(codes, 1, set, {}, limits_polled_by(poll))
                                  : decode_uncompressed(codes, 1, set, {}, limits_polled_by(poll));
  ASSERT_TRUE(decoded) << message_of(decoded.error());
  EXPECT_EQ(poll.calls, static_cast<int>(1111 / DecodeLimits::kStepsPerPoll));
}

INSTANTIATE_TEST_SUITE_P(Layouts, InterruptTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "compressed" : "uncompressed";
                         });

// ---- Beyond 64 bits ----------------------------------------------------------------

TEST(DecodeRangeTest, ScaleOperatorAbove18Fails) {
  EXPECT_EQ(decode_failure({207019, 12101}, bits({{0, 64}})),
            "csv/table parse error: operator 207019 scales reference values beyond the 64-bit "
            "range");
}

TEST(DecodeRangeTest, ScaleOperator18KeepsTheExactReference) {
  // Width 16 + 60, which is more than 64 bits: the read itself fails.
  EXPECT_EQ(decode_failure({207018, 12101}, bits({{0, 64}, {0, 16}})),
            "csv/table parse error: cannot read 76 bits into u64");
  // With the width brought back under 64 the reference -27315 * 10^18 is
  // far beyond 64 bits, yet the value is exact before its conversion.
  const TableSet set = tables();
  const auto data = bits({{0, 58}});
  const auto decoded = decode_uncompressed(Codes{207018, 201170, 12101}, 1, set, data);
  ASSERT_TRUE(decoded) << message_of(decoded.error());
  const DecodedValue& value = decoded->values[0];
  EXPECT_DOUBLE_EQ(value.raw_value, -27315e18 / 1e20);
}

TEST(DecodeRangeTest, DifferenceOnWidth64Fails) {
  // 8002 is 64 bits wide: its difference would need a reference of -2^64.
  const Codes codes{8002, 222000, 236000, 101001, 31031, 225000, 225255};
  const auto data = bits({{1, 64}, {0, 1}});
  EXPECT_EQ(decode_failure(codes, data),
            "csv/table parse error: difference statistics on element 008002 of width 64 exceed "
            "the 64-bit range");
}

TEST(DecodeRangeTest, DifferenceOnWidth63UsesTheLowestReference) {
  const Codes codes{8001, 222000, 236000, 101001, 31031, 225000, 225255};
  const auto data = bits({{1, 63}, {0, 1}, {0, 64}});
  const TableSet set = tables();
  const auto decoded = decode_uncompressed(codes, 1, set, data);
  ASSERT_TRUE(decoded) << message_of(decoded.error());
  const DecodedValue& difference = decoded->values.back();
  EXPECT_EQ(difference.descriptor, 8001U);
  EXPECT_EQ(difference.raw, 0U);
  EXPECT_EQ(difference.raw_value, -std::ldexp(1.0, 63));
}

TEST(DecodeRangeTest, CompressedIncrementBeyond64BitsFails) {
  // Reference all ones but for the last bit, increment 2: 2^64 would wrap.
  const auto data = bits({{std::numeric_limits<std::uint64_t>::max() - 1, 64}, {2, 6}, {2, 2}});
  EXPECT_EQ(decode_failure({8002}, data, 1, true),
            "csv/table parse error: compressed value of element 008002 exceeds 64 bits");
}

TEST(DecodeRangeTest, CompressedIncrementWiderThanTheElementIsRead) {
  // 7-bit element, 10-bit increments: the sum is taken as it is.
  const auto data = bits({{3, 7}, {10, 6}, {1000, 10}, {0, 10}});
  const TableSet set = tables();
  const auto decoded = decode_compressed(Codes{1001}, 2, set, data, {});
  ASSERT_TRUE(decoded) << message_of(decoded.error());
  ASSERT_EQ(decoded->size(), 2U);
  EXPECT_EQ(decoded->in_column(0, 0).raw, 1003U);
  EXPECT_EQ(decoded->in_column(0, 1).raw, 3U);
}

TEST(DecodeRangeTest, HugeDelayedCountSaturates) {
  EXPECT_EQ(replication_count(std::nullopt), 0U);
  EXPECT_EQ(replication_count(-5.0), 0U);
  EXPECT_EQ(replication_count(std::nan("")), 0U);
  EXPECT_EQ(replication_count(2.9), 2U);
  EXPECT_EQ(replication_count(1e30), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(replication_count(std::numeric_limits<double>::infinity()),
            std::numeric_limits<std::uint64_t>::max());
}

// ---- Layout ------------------------------------------------------------------------

TEST(DecodeLayoutTest, CompressedValuesComeSubsetBySubset) {
  // Two columns over three subsets, the second a text column.
  BitWriter writer;
  writer.write(1, 7);
  writer.write(2, 6);
  writer.write(0, 2);
  writer.write(1, 2);
  writer.write(2, 2);
  writer.write_bytes(std::string_view("AB  "));
  writer.write(0, 6);
  const auto data = writer.take_bytes();
  const TableSet set = tables();
  const auto decoded = decode_compressed(Codes{1001, 1015}, 3, set, data, {});
  ASSERT_TRUE(decoded) << message_of(decoded.error());
  const auto flat = decoded->flattened();
  ASSERT_EQ(flat.size(), 6U);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(flat[2 * k].descriptor, 1001U);
    EXPECT_EQ(flat[2 * k].raw, 1 + k);
    EXPECT_EQ(flat[2 * k + 1].descriptor, 1015U);
    EXPECT_EQ(decoded->text_of(flat[2 * k + 1]), std::optional<std::string_view>("AB"));
    EXPECT_EQ(flat[2 * k + 1].raw_value, static_cast<double>((k + 1) * 1000 + 4));
  }
}

}  // namespace
}  // namespace quorvel
