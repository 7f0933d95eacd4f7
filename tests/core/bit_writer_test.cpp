// The BitWriter lays out the data that parser and decoder tests feed in, so
// its own bit order, widths 0 and 64 and unaligned writes are checked here
// against hand-worked octets and the one-bit-at-a-time reference reader.
#include "support/bit_writer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "support/reference_bit_reader.hpp"

namespace quorvel::testing {
namespace {

// The next `width` bits from the one-bit-at-a-time reader; a failed read
// fails the test.
std::uint64_t next(ReferenceBitReader& reader, unsigned width) {
  const auto read = reader.read_bits(width);
  if (const auto* failure = std::get_if<std::string>(&read)) {
    ADD_FAILURE() << *failure;
    return 0;
  }
  return std::get<std::uint64_t>(read);
}

struct Piece {
  std::uint64_t value;
  unsigned width;
};

struct WriteCase {
  const char* name;
  std::vector<Piece> pieces;
  std::vector<std::uint8_t> expected;
};

class BitWriterOctets : public ::testing::TestWithParam<WriteCase> {};

TEST_P(BitWriterOctets, MatchesHandWorkedOctets) {
  BitWriter writer;
  std::uint64_t bits = 0;
  for (const Piece& piece : GetParam().pieces) {
    writer.write(piece.value, piece.width);
    bits += piece.width;
  }
  EXPECT_EQ(writer.bit_count(), bits);
  EXPECT_EQ(writer.take_bytes(), GetParam().expected);
  EXPECT_EQ(writer.bit_count(), 0u);
  EXPECT_EQ(writer.byte_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitWriterOctets,
    ::testing::Values(WriteCase{"WidthZeroWritesNothing", {{0, 0}, {0, 0}}, {}},
                      WriteCase{"OneBitIsTheHighBit", {{1, 1}}, {0x80}},
                      // 101, then 1 followed by 62 zeros and a 1, then five padding zeros.
                      WriteCase{"Width64AfterThreeBits",
                                {{0x5, 3}, {0x8000000000000001ULL, 64}},
                                {0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20}}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(BitWriter, MaxValueCoversWidthsZeroToSixtyFour) {
  EXPECT_EQ(max_value(0), 0u);
  EXPECT_EQ(max_value(1), 1u);
  EXPECT_EQ(max_value(8), 0xFFu);
  EXPECT_EQ(max_value(63), 0x7FFFFFFFFFFFFFFFULL);
  EXPECT_EQ(max_value(64), 0xFFFFFFFFFFFFFFFFULL);
}

class BitWriterRoundTrip : public ::testing::TestWithParam<unsigned> {};

// Every width from 0 to 64 written at every start bit reads back unchanged.
TEST_P(BitWriterRoundTrip, EveryWidthAtEveryStartBit) {
  const unsigned start = GetParam();
  std::mt19937_64 random(start);
  for (unsigned width = 0; width <= 64; ++width) {
    const std::uint64_t value = random() & max_value(width);
    BitWriter writer;
    writer.write(max_value(start), start);
    writer.write(value, width);
    writer.write(1, 1);  // a marker bit right after the value
    const std::vector<std::uint8_t> bytes = writer.take_bytes();
    ASSERT_EQ(bytes.size(), (start + width + 1 + 7) / 8);
    ReferenceBitReader reader(bytes);
    EXPECT_EQ(next(reader, start), max_value(start));
    EXPECT_EQ(next(reader, width), value) << "width " << width;
    EXPECT_EQ(next(reader, 1), 1u) << "width " << width;
    // Padding bits are zero.
    const std::uint64_t padding = bytes.size() * 8 - reader.position();
    EXPECT_EQ(next(reader, static_cast<unsigned>(padding)), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(StartBits, BitWriterRoundTrip, ::testing::Range(0u, 8u));

TEST(BitWriter, WriteBytesUnalignedShiftsEveryOctet) {
  BitWriter writer;
  writer.write(0xF, 4);
  const std::vector<std::uint8_t> octets = {0x12, 0xAB};
  writer.write_bytes(octets);
  EXPECT_EQ(writer.bit_count(), 20u);
  EXPECT_FALSE(writer.aligned());
  EXPECT_EQ(writer.take_bytes(), (std::vector<std::uint8_t>{0xF1, 0x2A, 0xB0}));
}

TEST(BitWriterDeathTest, RefusesWidthAbove64AndValuesThatDoNotFit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BitWriter writer;
  EXPECT_DEATH(writer.write(0, 65), "width above 64");
  EXPECT_DEATH(writer.write(2, 1), "does not fit");
  EXPECT_DEATH(writer.write(1, 0), "does not fit");
}

}  // namespace
}  // namespace quorvel::testing
