#include "core/decode/bit_reader.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/reference_bit_reader.hpp"

namespace quorvel {
namespace {

using testing::ReferenceBitReader;

std::string error_text(const BufrError& error) { return error.message(); }
std::string text_failure(const std::string& text) { return "csv/table parse error: " + text; }

TEST(BitReaderTest, ReadsFieldsAcrossOctetsAndStopsAtTheEnd) {
  const std::vector<std::uint8_t> data = {0xA5, 0x0F};
  BitReader reader(data);
  EXPECT_EQ(reader.read_bits(4).value(), 10U);
  EXPECT_EQ(reader.read_bits(8).value(), 0x50U);
  EXPECT_EQ(reader.read_bits(4).value(), 15U);
  const auto past_end = reader.read_bits(1);
  ASSERT_FALSE(past_end);
  EXPECT_EQ(error_text(past_end.error()),
            text_failure("not enough bits while reading section 4 at bit 16 for width 1 (16 bits "
                         "available)"));
  EXPECT_EQ(reader.position(), 16U);
  // A zero-width read succeeds even at the very end.
  EXPECT_EQ(reader.read_bits(0).value(), 0U);
}

TEST(BitReaderTest, WidthLimits) {
  const std::vector<std::uint8_t> ones(8, 0xFF);
  BitReader reader(ones);
  const auto too_wide = reader.read_bits(65);
  ASSERT_FALSE(too_wide);
  EXPECT_EQ(error_text(too_wide.error()), text_failure("cannot read 65 bits into u64"));
  EXPECT_EQ(reader.read_bits(64).value(), UINT64_MAX);
}

TEST(BitReaderTest, ReadBytesLeftAlignsTheLastBits) {
  const std::vector<std::uint8_t> data = {0x41, 0x42};
  BitReader reader(data);
  std::string out;
  ASSERT_TRUE(reader.read_bytes(12, out));
  EXPECT_EQ(out, std::string("\x41\x40", 2));
  EXPECT_EQ(reader.position(), 12U);
}

TEST(BitReaderTest, ReadBytesFailsAtTheOctetThatCrossesTheEnd) {
  const std::vector<std::uint8_t> data = {0x00, 0x00, 0x00};
  BitReader reader(data);
  ASSERT_TRUE(reader.read_bits(4));
  std::string out;
  const auto failed = reader.read_bytes(24, out);
  ASSERT_FALSE(failed);
  EXPECT_EQ(error_text(failed.error()),
            text_failure("not enough bits while reading section 4 at bit 20 for width 8 (24 bits "
                         "available)"));
  EXPECT_EQ(reader.position(), 20U);
}

// Random data and random widths, including ones past the end and above 64:
// the word-at-a-time reader must match the one-bit reader read for read.
class BitReaderDifferentialTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(BitReaderDifferentialTest, MatchesTheOneBitReader) {
  std::mt19937_64 random(GetParam());
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> data(random() % 40);
    for (auto& octet : data) {
      octet = static_cast<std::uint8_t>(random());
    }
    BitReader reader(data);
    ReferenceBitReader reference(data);
    for (int read = 0; read < 60; ++read) {
      const bool as_bytes = random() % 4 == 0;
      const auto width =
          static_cast<std::uint32_t>(random() % 5 == 0 ? random() % 80 : random() % 65);
      if (as_bytes) {
        std::string got;
        const auto status = reader.read_bytes(width, got);
        const auto expected = reference.read_bytes(width);
        ASSERT_EQ(status.has_value(), expected.index() == 0);
        if (status) {
          EXPECT_EQ(got, std::get<0>(expected));
        } else {
          EXPECT_EQ(error_text(status.error()), text_failure(std::get<1>(expected)));
        }
      } else {
        const auto got = reader.read_bits(width);
        const auto expected = reference.read_bits(width);
        ASSERT_EQ(got.has_value(), expected.index() == 0);
        if (got) {
          EXPECT_EQ(*got, std::get<std::uint64_t>(expected)) << "width " << width;
        } else {
          EXPECT_EQ(error_text(got.error()), text_failure(std::get<std::string>(expected)));
        }
      }
      ASSERT_EQ(reader.position(), reference.position());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, BitReaderDifferentialTest, ::testing::Range(1U, 9U));

}  // namespace
}  // namespace quorvel
