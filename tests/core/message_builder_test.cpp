// The MessageBuilder's own layout, checked octet by octet against a
// hand-worked message, so parser tests built on it rest on known ground.
#include "support/message_builder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quorvel::testing {
namespace {

TEST(MessageBuilder, LaysOutEverySectionWithItsLength) {
  MessageBuilder b;
  b.section1.master_table_number = 0x0B;
  b.section1.originating_centre = 0x0C0D;
  b.section1.typical_year = 0x07E8;
  b.section1.local_use = {0xEE};
  b.section2 = std::vector<std::uint8_t>{0x5A};
  b.number_of_subsets = 0x0102;
  b.compressed = true;
  b.descriptors = {301002, 1};
  b.data = {0xD1, 0xD2};
  b.after_terminator = {0x99};

  // clang-format off
  const std::vector<std::uint8_t> expected = {
      'B', 'U', 'F', 'R', 0x00, 0x00, 0x3A, 0x04,                        // total 58, edition 4
      0x00, 0x00, 0x17, 0x0B, 0x0C, 0x0D, 0x00, 0x00, 0x00, 0x80,        // section 1, 23 octets
      0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0xE8, 0x00, 0x00, 0x00,
      0x00, 0x00, 0xEE,
      0x00, 0x00, 0x05, 0x00, 0x5A,                                      // section 2
      0x00, 0x00, 0x0B, 0x00, 0x01, 0x02, 0xC0, 0xC1, 0x02, 0x00, 0x01,  // section 3
      0x00, 0x00, 0x06, 0x00, 0xD1, 0xD2,                                // section 4
      '7', '7', '7', '7', 0x99};                                         // section 5, extra
  // clang-format on
  EXPECT_EQ(b.build(), expected);

  const MessageLayout at = b.layout();
  EXPECT_EQ(at.section1, 8u);
  EXPECT_EQ(at.section2, 31u);
  EXPECT_EQ(at.section3, 36u);
  EXPECT_EQ(at.section4, 47u);
  EXPECT_EQ(at.section5, 53u);
  EXPECT_EQ(at.end, 58u);
  EXPECT_EQ(at.section3_length(), 11u);
}

TEST(MessageBuilder, OverridesChangeOnlyTheirField) {
  MessageBuilder b;
  const std::vector<std::uint8_t> plain = b.build();
  const MessageLayout at = b.layout();
  b.overrides.edition = 3;
  b.overrides.section3_length = 0xABCDEF;
  b.overrides.terminator = {'7', '7', '7', '6'};
  const std::vector<std::uint8_t> broken = b.build();
  ASSERT_EQ(broken.size(), plain.size());
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (plain[i] != broken[i]) {
      changed.push_back(i);
    }
  }
  EXPECT_EQ(changed, (std::vector<std::size_t>{7, at.section3, at.section3 + 1, at.section3 + 2,
                                               at.section5 + 3}));
}

TEST(MessageBuilderDeathTest, RefusesCodesWithoutA16BitForm) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(descriptor_octets_of(1256), "no 16-bit form");
  EXPECT_DEATH(descriptor_octets_of(64000), "no 16-bit form");
  EXPECT_DEATH(descriptor_octets_of(400000), "no 16-bit form");
}

}  // namespace
}  // namespace quorvel::testing
