// parse_message and parse_message_any_edition: which check wins, the exact offsets it reports,
// every field at its offset, and sweeps over every truncation and every single-octet corruption of
// built messages. Buffers are exact heap copies, so a read past the end fails the sanitizer build.
#include "core/message/section_parser.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/bit_writer.hpp"
#include "support/exact_buffer.hpp"
#include "support/message_builder.hpp"
#include "support/parse_helpers.hpp"

namespace quorvel::testing {
namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

// A message with every part present: a section 2, descriptors and data.
MessageBuilder full_builder() {
  MessageBuilder b;
  b.section1.originating_centre = 98;
  b.section1.typical_year = 2024;
  b.section2 = std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC};
  b.descriptors = {301002, 1001, 12101};
  b.data = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0};
  return b;
}

MessageBuilder builder_without_section2() {
  MessageBuilder b = full_builder();
  b.section2.reset();
  return b;
}

MessageBuilder edition3_builder() {
  MessageBuilder b = full_builder();
  b.edition = 3;
  b.section1.typical_year = 24;
  return b;
}

MessageBuilder edition2_builder() {
  MessageBuilder b = builder_without_section2();
  b.edition = 2;
  b.section1.typical_year = 97;
  return b;
}

// ---------------------------------------------------------------------------
// Check order. Each fault breaks one field of a full message and is listed in
// the order the parser checks; applied together with any later fault, the
// earlier one must be the one reported.

struct Fault {
  const char* name;
  std::function<void(MessageBuilder&, const MessageLayout&)> apply;
  std::function<std::string(const MessageLayout&)> expected;
};

const std::vector<Fault>& faults_in_check_order() {
  static const std::vector<Fault> faults = {
      {"MissingMarker",
       [](MessageBuilder& b, const MessageLayout&) {
         b.overrides.marker = {'B', 'U', 'F', 'X'};
       },
       [](const MessageLayout&) { return kMissingMarkerText; }},
      {"Edition3", [](MessageBuilder& b, const MessageLayout&) { b.overrides.edition = 3; },
       [](const MessageLayout&) {
         return std::string("unsupported BUFR edition 3; only edition 4 is implemented");
       }},
      {"TotalLengthOneMore",
       [](MessageBuilder& b, const MessageLayout& at) {
         b.overrides.total_length = static_cast<std::uint32_t>(at.end + 1);
       },
       [](const MessageLayout& at) { return mismatch_text(at.end + 1, at.end); }},
      {"Section1OneOctetBeyondEnd",
       [](MessageBuilder& b, const MessageLayout& at) {
         b.overrides.section1_length = static_cast<std::uint32_t>(at.end - 8 + 1);
       },
       [](const MessageLayout&) { return truncated_text(1, 8); }},
      {"Section2OneOctetBeyondEnd",
       [](MessageBuilder& b, const MessageLayout& at) {
         b.overrides.section2_length = static_cast<std::uint32_t>(at.end - at.section2 + 1);
       },
       [](const MessageLayout& at) { return truncated_text(2, at.section2); }},
      {"Section3OneOctetBeyondEnd",
       [](MessageBuilder& b, const MessageLayout& at) {
         b.overrides.section3_length = static_cast<std::uint32_t>(at.end - at.section3 + 1);
       },
       [](const MessageLayout& at) { return truncated_text(3, at.section3); }},
      {"Section3Below7",
       [](MessageBuilder& b, const MessageLayout&) { b.overrides.section3_length = 6; },
       [](const MessageLayout& at) { return truncated_text(3, at.section3); }},
      {"Section4OneOctetBeyondEnd",
       [](MessageBuilder& b, const MessageLayout& at) {
         b.overrides.section4_length = static_cast<std::uint32_t>(at.end - at.section4 + 1);
       },
       [](const MessageLayout& at) { return truncated_text(4, at.section4); }},
      // Section 4 one octet longer leaves three octets for the terminator.
      {"Section5ShortOfFourOctets",
       [](MessageBuilder& b, const MessageLayout& at) {
         b.overrides.section4_length = static_cast<std::uint32_t>(at.section4_length() + 1);
       },
       [](const MessageLayout& at) { return truncated_text(5, at.section5 + 1); }},
      {"Terminator7776",
       [](MessageBuilder& b, const MessageLayout&) {
         b.overrides.terminator = {'7', '7', '7', '6'};
       },
       [](const MessageLayout&) { return kBadTerminatorText; }},
  };
  return faults;
}

struct FaultPair {
  std::size_t first;
  std::size_t later;  // == first: the fault alone
};

std::vector<FaultPair> all_fault_pairs() {
  std::vector<FaultPair> pairs;
  const std::size_t n = faults_in_check_order().size();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i; j < n; ++j) {
      pairs.push_back({i, j});
    }
  }
  return pairs;
}

class ParserCheckOrder : public ::testing::TestWithParam<FaultPair> {};

TEST_P(ParserCheckOrder, EarlierCheckWins) {
  const Fault& first = faults_in_check_order()[GetParam().first];
  const Fault& later = faults_in_check_order()[GetParam().later];
  MessageBuilder b = full_builder();
  const MessageLayout at = b.layout();
  // Two faults may set the same field; the earlier check's value is written last.
  later.apply(b, at);
  first.apply(b, at);
  ASSERT_EQ(b.layout().end, at.end);
  EXPECT_EQ(error_text(parse_exact(b.build())), first.expected(at));
}

INSTANTIATE_TEST_SUITE_P(Faults, ParserCheckOrder, ::testing::ValuesIn(all_fault_pairs()),
                         [](const auto& case_info) {
                           const auto& faults = faults_in_check_order();
                           std::string name = faults[case_info.param.first].name;
                           if (case_info.param.later != case_info.param.first) {
                             name += std::string("_Over_") + faults[case_info.param.later].name;
                           }
                           return name;
                         });

// ---------------------------------------------------------------------------
// Buffers too short to hold the fixed section-0 and section-1 fields.

// "BUFR", total length, edition, then a section-1 length, padded with zeros
// (or cut) to `total` octets.
std::vector<std::uint8_t> short_message(std::size_t total, std::uint32_t section1_length,
                                        std::uint8_t edition = 4) {
  BitWriter w;
  w.write_bytes("BUFR");
  w.write(total, 24);
  w.write(edition, 8);
  w.write(section1_length, 24);
  std::vector<std::uint8_t> bytes = w.take_bytes();
  bytes.resize(total);
  return bytes;
}

struct ShortCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::string expected;
};

class ParserShortBuffer : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ParserShortBuffer, Fails) {
  EXPECT_EQ(error_text(parse_exact(GetParam().bytes)), GetParam().expected);
}

std::vector<ShortCase> short_cases() {
  std::vector<ShortCase> cases = {
      {"Empty", {}, kTooShortText},
      {"SevenOctetsWithMarker", {'B', 'U', 'F', 'R', 0, 0, 7}, kTooShortText},
      {"EightOctetsNoMarker", {'b', 'U', 'F', 'R', 0, 0, 8, 4}, kMissingMarkerText},
      {"EightOctetsOnlySection0", short_message(8, 0), truncated_text(1, 8)},
      {"EightOctetsEdition3BeforeLength",
       [] {
         auto b = short_message(8, 0, 3);
         b[6] = 200;
         return b;
       }(),
       "unsupported BUFR edition 3; only edition 4 is implemented"},
      {"NineOctetsDeclaringEight",
       [] {
         auto b = short_message(9, 0);
         b[6] = 8;
         return b;
       }(),
       mismatch_text(8, 9)},
      {"TenOctets", short_message(10, 0), truncated_text(1, 8)},
      {"TenOctetsEdition3", short_message(10, 0, 3),
       "unsupported BUFR edition 3; only edition 4 is implemented"},
      {"Section1PastEnd", short_message(40, 33), truncated_text(1, 8)},
  };
  // Section 1 fits the buffer but the buffer stops before the flags octet.
  for (std::size_t total = 11; total <= 17; ++total) {
    cases.push_back({"FlagsOctetMissing",
                     short_message(total, static_cast<std::uint32_t>(total - 8)),
                     truncated_text(1, 8)});
  }
  // The flags octet is there but typical_year (offsets 23 and 24) is not; it is
  // read before section 2 is looked at, whatever the flags say.
  for (std::size_t total = 18; total <= 24; ++total) {
    auto bytes = short_message(total, static_cast<std::uint32_t>(total - 8));
    cases.push_back({"TypicalYearMissing", bytes, truncated_text(0, 23)});
    bytes[17] = 0x80;
    cases.push_back({"TypicalYearMissingWithSection2", bytes, truncated_text(0, 23)});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, ParserShortBuffer, ::testing::ValuesIn(short_cases()),
                         [](const auto& case_info) {
                           return std::string(case_info.param.name) + "_" +
                                  std::to_string(case_info.param.bytes.size());
                         });

// A section 1 declared 3 octets long lets sections 3 to 5 overlap the fixed
// section-1 fields:
//   8..10  section 1 length 3         -> section 3 at 11
//   11..13 section 3 length 7; 14 reserved; 15..16 subsets
//   17     section-3 flags, also the section-1 flags: 0, so no section 2
//   18..20 section 4 length 3         -> section 5 at 21
//   21..24 "7777", then `extra` octets inside the message
std::vector<std::uint8_t> overlapping_message(std::size_t extra) {
  BitWriter w;
  w.write_bytes("BUFR");
  w.write(25 + extra, 24);
  w.write(4, 8);
  w.write(3, 24);
  w.write(7, 24);
  w.write(0, 8);
  w.write(0x0102, 16);
  w.write(0, 8);
  w.write(3, 24);
  w.write_bytes("7777");
  for (std::size_t i = 0; i < extra; ++i) {
    w.write(0xE0 + i, 8);
  }
  return w.take_bytes();
}

class ParserOverlappingSections : public ::testing::TestWithParam<std::size_t> {};

// With fewer than 30 octets, typical_second and its neighbours lie outside the
// buffer although every section check passed.
TEST_P(ParserOverlappingSections, FailsWhenFixedFieldsLieBeyondTheEnd) {
  const auto bytes = overlapping_message(GetParam());
  ASSERT_EQ(bytes.size(), 25 + GetParam());
  EXPECT_EQ(error_text(parse_exact(bytes)), truncated_text(1, 8));
}

INSTANTIATE_TEST_SUITE_P(Extra, ParserOverlappingSections, ::testing::Range<std::size_t>(0, 5));

TEST(ParserOverlappingSections, ThirtyOctetsParseWithFieldsFromFixedOffsets) {
  const auto bytes = overlapping_message(5);
  ASSERT_EQ(bytes.size(), 30u);
  const auto parsed = parse_exact(bytes);
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->total_length, 30u);
  EXPECT_EQ(parsed->section1_length, 3u);
  EXPECT_EQ(parsed->section2_length, 0u);
  EXPECT_EQ(parsed->section3_length, 7u);
  EXPECT_EQ(parsed->number_of_subsets, 0x0102);
  EXPECT_TRUE(parsed->unexpanded_descriptors.empty());
  EXPECT_EQ(parsed->section4_length, 3u);
  EXPECT_EQ(parsed->section4_data_offset, 22u);
  EXPECT_EQ(parsed->section4_data_length, 0u);
  // Section-1 fields come from offsets 11 to 29 whatever section 1 declares.
  EXPECT_EQ(parsed->master_table_number, 0);
  EXPECT_EQ(parsed->originating_centre, 7);          // octets 12, 13
  EXPECT_EQ(parsed->originating_subcentre, 0x0001);  // octets 14, 15
  EXPECT_EQ(parsed->data_category, 0);               // octet 18
  EXPECT_EQ(parsed->local_data_subcategory, 3);      // octet 20
  EXPECT_EQ(parsed->typical_year, 0x3737);           // "77" at 23, 24
  EXPECT_EQ(parsed->typical_month, 0xE0);
  EXPECT_EQ(parsed->typical_second, 0xE4);
}

// ---------------------------------------------------------------------------
// Fields.

TEST(ParserFields, EveryFieldFromABuiltMessage) {
  MessageBuilder b;
  b.section1 = {.master_table_number = 11,
                .originating_centre = 0x1213,
                .originating_subcentre = 0x1415,
                .update_sequence_number = 16,
                .data_category = 18,
                .international_data_subcategory = 19,
                .local_data_subcategory = 20,
                .master_tables_version_number = 21,
                .local_tables_version_number = 22,
                .typical_year = 0x2324,
                .typical_month = 25,
                .typical_day = 26,
                .typical_hour = 27,
                .typical_minute = 28,
                .typical_second = 29,
                .local_use = {0xF1, 0xF2, 0xF3}};
  b.section2 = std::vector<std::uint8_t>(9, 0x22);
  b.number_of_subsets = 0xABCD;
  b.observed = false;
  b.compressed = true;
  b.descriptors = {1001, 301011, 101000, 31001, 222000, 63255};
  b.data = std::vector<std::uint8_t>(37, 0x44);
  b.after_terminator = {'7', '7'};
  const MessageLayout at = b.layout();
  const auto bytes = b.build();

  const auto parsed = parse_exact(bytes);
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  const BufrMessage& m = *parsed;
  EXPECT_EQ(m.total_length, bytes.size());
  EXPECT_EQ(m.edition, 4);
  EXPECT_EQ(m.section1_length, 25u);
  EXPECT_EQ(m.master_table_number, 11);
  EXPECT_EQ(m.originating_centre, 0x1213);
  EXPECT_EQ(m.originating_subcentre, 0x1415);
  EXPECT_EQ(m.update_sequence_number, 16);
  EXPECT_TRUE(m.local_section_present);
  EXPECT_EQ(m.data_category, 18);
  EXPECT_EQ(m.international_data_subcategory, 19);
  EXPECT_EQ(m.local_data_subcategory, 20);
  EXPECT_EQ(m.master_tables_version_number, 21);
  EXPECT_EQ(m.local_tables_version_number, 22);
  EXPECT_EQ(m.typical_year, 0x2324);
  EXPECT_EQ(m.typical_month, 25);
  EXPECT_EQ(m.typical_day, 26);
  EXPECT_EQ(m.typical_hour, 27);
  EXPECT_EQ(m.typical_minute, 28);
  EXPECT_EQ(m.typical_second, 29);
  EXPECT_EQ(m.section2_length, 13u);
  EXPECT_EQ(m.section3_length, 7u + 2 * 6);
  EXPECT_EQ(m.number_of_subsets, 0xABCD);
  EXPECT_FALSE(m.observed_data);
  EXPECT_TRUE(m.compressed_data);
  EXPECT_EQ(m.unexpanded_descriptors, b.descriptors);
  EXPECT_EQ(m.section4_length, 41u);
  EXPECT_EQ(m.section4_data_offset, at.section4 + 4);
  EXPECT_EQ(m.section4_data_length, 37u);
}

// One section-1 field at a time is set, by its documented offset, in a
// message whose fields are otherwise zero: the parser must find it under its
// own name and nowhere else.
struct FieldAccess {
  const char* name;
  std::size_t offset;
  std::size_t width;
  std::uint64_t (*get)(const BufrMessage&);
};

const std::vector<FieldAccess>& section1_fields() {
  static const std::vector<FieldAccess> fields = {
      {"master_table_number", 11, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.master_table_number; }},
      {"originating_centre", 12, 2,
       [](const BufrMessage& m) -> std::uint64_t { return m.originating_centre; }},
      {"originating_subcentre", 14, 2,
       [](const BufrMessage& m) -> std::uint64_t { return m.originating_subcentre; }},
      {"update_sequence_number", 16, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.update_sequence_number; }},
      {"data_category", 18, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.data_category; }},
      {"international_data_subcategory", 19, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.international_data_subcategory; }},
      {"local_data_subcategory", 20, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.local_data_subcategory; }},
      {"master_tables_version_number", 21, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.master_tables_version_number; }},
      {"local_tables_version_number", 22, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.local_tables_version_number; }},
      {"typical_year", 23, 2, [](const BufrMessage& m) -> std::uint64_t { return m.typical_year; }},
      {"typical_month", 25, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.typical_month; }},
      {"typical_day", 26, 1, [](const BufrMessage& m) -> std::uint64_t { return m.typical_day; }},
      {"typical_hour", 27, 1, [](const BufrMessage& m) -> std::uint64_t { return m.typical_hour; }},
      {"typical_minute", 28, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.typical_minute; }},
      {"typical_second", 29, 1,
       [](const BufrMessage& m) -> std::uint64_t { return m.typical_second; }},
  };
  return fields;
}

class ParserFieldOffset : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ParserFieldOffset, ReadsOnlyItsOwnOctets) {
  const FieldAccess& field = section1_fields()[GetParam()];
  MessageBuilder b;
  auto bytes = b.build();
  // Distinct high and low octets catch a swapped or little-endian read.
  const std::uint64_t value = field.width == 2 ? 0xA55A : 0xA5;
  bytes[field.offset] = static_cast<std::uint8_t>(value >> (8 * (field.width - 1)));
  if (field.width == 2) {
    bytes[field.offset + 1] = static_cast<std::uint8_t>(value);
  }
  const auto parsed = parse_exact(bytes);
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  for (const FieldAccess& other : section1_fields()) {
    EXPECT_EQ(other.get(*parsed), &other == &field ? value : 0u) << other.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Section1, ParserFieldOffset,
                         ::testing::Range<std::size_t>(0, section1_fields().size()),
                         [](const auto& case_info) {
                           return section1_fields()[case_info.param].name;
                         });

struct Section3FlagsCase {
  std::uint8_t flags;
  bool observed;
  bool compressed;
};

class ParserSection3Flags : public ::testing::TestWithParam<Section3FlagsCase> {};

TEST_P(ParserSection3Flags, OnlyBits80And40Count) {
  MessageBuilder b = full_builder();
  b.overrides.section3_flags = GetParam().flags;
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->observed_data, GetParam().observed);
  EXPECT_EQ(parsed->compressed_data, GetParam().compressed);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ParserSection3Flags,
    ::testing::Values(Section3FlagsCase{0x00, false, false}, Section3FlagsCase{0x80, true, false},
                      Section3FlagsCase{0x40, false, true}, Section3FlagsCase{0xC0, true, true},
                      Section3FlagsCase{0x3F, false, false}, Section3FlagsCase{0xBF, true, false},
                      Section3FlagsCase{0x7F, false, true}, Section3FlagsCase{0xFF, true, true}));

class ParserSection1Flags : public ::testing::TestWithParam<std::uint8_t> {};

// Any non-zero flags octet, not only bit 0x80, announces section 2.
TEST_P(ParserSection1Flags, AnyNonZeroValueReadsSection2) {
  MessageBuilder b = full_builder();
  b.overrides.section1_flags = GetParam();
  const MessageLayout at = b.layout();
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_TRUE(parsed->local_section_present);
  EXPECT_EQ(parsed->section2_length, at.section2_length());
  EXPECT_EQ(parsed->section3_length, at.section3_length());
  EXPECT_EQ(parsed->unexpanded_descriptors, b.descriptors);
}

INSTANTIATE_TEST_SUITE_P(Flags, ParserSection1Flags,
                         ::testing::Values(0x80, 0x01, 0x40, 0x7F, 0xFF));

TEST(ParserSection1Flags, ZeroMeansNoSection2) {
  MessageBuilder b = builder_without_section2();
  const MessageLayout at = b.layout();
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_FALSE(parsed->local_section_present);
  EXPECT_EQ(parsed->section2_length, 0u);
  EXPECT_EQ(parsed->section3_length, at.section3_length());
  EXPECT_EQ(parsed->section4_data_offset, at.section4 + 4);
}

// A zero flags octet in front of a section 2 makes the parser read section 2's
// length as section 3's.
TEST(ParserSection1Flags, ZeroInFrontOfASection2ReadsItAsSection3) {
  MessageBuilder b = full_builder();
  b.section2 = std::vector<std::uint8_t>{};  // section 2 is 4 octets: below 7 as section 3
  b.overrides.section1_flags = 0;
  const MessageLayout at = b.layout();
  EXPECT_EQ(error_text(parse_exact(b.build())), truncated_text(3, at.section2));
}

struct DescriptorCase {
  std::vector<std::uint8_t> octets;
  std::vector<std::uint32_t> codes;
};

class ParserDescriptors : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(ParserDescriptors, TwoOctetsGiveFXXYYY) {
  MessageBuilder b = builder_without_section2();
  b.descriptor_octets = GetParam().octets;
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->unexpanded_descriptors, GetParam().codes);
  EXPECT_EQ(parsed->section3_length, 7 + GetParam().octets.size());
}

INSTANTIATE_TEST_SUITE_P(
    Octets, ParserDescriptors,
    ::testing::Values(DescriptorCase{{}, {}}, DescriptorCase{{0xC1, 0x02}, {301002}},
                      DescriptorCase{{0x00, 0x01}, {1}}, DescriptorCase{{0x00, 0x00}, {0}},
                      DescriptorCase{{0x3F, 0xFF}, {63255}}, DescriptorCase{{0x40, 0x00}, {100000}},
                      DescriptorCase{{0x81, 0x23}, {201035}},
                      DescriptorCase{{0xFF, 0xFF}, {363255}},
                      DescriptorCase{{0xC1, 0x02, 0x00, 0x01, 0x01, 0x01}, {301002, 1, 1001}}));

// Encoders pad section 3 to an even length; the odd last octet is padding,
// whatever its value, and yields no descriptor.
class ParserOddDescriptorArea : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(ParserOddDescriptorArea, LastOctetIsPadding) {
  MessageBuilder b = builder_without_section2();
  b.descriptor_octets = GetParam().octets;
  const MessageLayout at = b.layout();
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->unexpanded_descriptors, GetParam().codes);
  EXPECT_EQ(parsed->section3_length, 7 + GetParam().octets.size());
  EXPECT_EQ(parsed->section4_data_offset, at.section4 + 4);
}

INSTANTIATE_TEST_SUITE_P(Octets, ParserOddDescriptorArea,
                         ::testing::Values(DescriptorCase{{0x00}, {}}, DescriptorCase{{0xFF}, {}},
                                           DescriptorCase{{0xC1, 0x02, 0xC1}, {301002}},
                                           DescriptorCase{{0x00, 0x01, 0x01, 0x01, 0x80},
                                                          {1, 1001}}));

// Section 4 lengths below the 4-octet header: only 3 can end in a real
// terminator, since with 0 to 2 the terminator would overlap the length field
// itself.
struct Section4Case {
  std::vector<std::uint8_t> octets;
  std::size_t data_length;
};

class ParserSection4 : public ::testing::TestWithParam<Section4Case> {};

TEST_P(ParserSection4, DataAreaFollowsTheHeader) {
  MessageBuilder b = builder_without_section2();
  b.section4_octets = GetParam().octets;
  const MessageLayout at = b.layout();
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->section4_length, GetParam().octets.size());
  EXPECT_EQ(parsed->section4_data_offset, at.section4 + 4);
  EXPECT_EQ(parsed->section4_data_length, GetParam().data_length);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ParserSection4,
                         ::testing::Values(Section4Case{{0, 0, 3}, 0},
                                           Section4Case{{0, 0, 4, 0}, 0},
                                           Section4Case{{0, 0, 5, 0, 0xAB}, 1}));

TEST(ParserSection4, LengthTwoEndsInsideItsLengthField) {
  MessageBuilder b = builder_without_section2();
  b.section4_octets = std::vector<std::uint8_t>{0, 0, 2};
  // The terminator would start on the length's last octet, 0x02.
  EXPECT_EQ(error_text(parse_exact(b.build())), kBadTerminatorText);
}

TEST(ParserSection3, LengthSevenGivesNoDescriptors) {
  MessageBuilder b = builder_without_section2();
  b.descriptors.clear();
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->section3_length, 7u);
  EXPECT_TRUE(parsed->unexpanded_descriptors.empty());
}

TEST(ParserTerminator, OctetsAfter7777InsideTheMessageAreIgnored) {
  MessageBuilder b = full_builder();
  b.after_terminator = {'B', 'U', 'F', 'R', 0xFF, 0x00, '7'};
  const MessageLayout at = b.layout();
  const auto parsed = parse_exact(b.build());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_EQ(parsed->total_length, at.end);
  EXPECT_EQ(parsed->section4_length, at.section4_length());
}

TEST(ParserTerminator, OneOctetAfterTheDeclaredEndIsALengthMismatch) {
  auto bytes = full_builder().build();
  const std::size_t declared = bytes.size();
  bytes.push_back('7');
  EXPECT_EQ(error_text(parse_exact(bytes)), mismatch_text(declared, declared + 1));
}

class ParserTerminatorOctet : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ParserTerminatorOctet, AnyWrongOctetIsABadTerminator) {
  MessageBuilder b = full_builder();
  std::array<std::uint8_t, 4> terminator = {'7', '7', '7', '7'};
  terminator[GetParam()] = '8';
  b.overrides.terminator = terminator;
  EXPECT_EQ(error_text(parse_exact(b.build())), kBadTerminatorText);
}

INSTANTIATE_TEST_SUITE_P(Position, ParserTerminatorOctet, ::testing::Range<std::size_t>(0, 4));

// Sections exactly filling the message pass; one octet more is caught at the
// section's own offset (the one-more cases are in ParserCheckOrder).
TEST(ParserBoundaries, Section2ReachingTheEndPassesItsOwnCheck) {
  MessageBuilder b = full_builder();
  const MessageLayout at = b.layout();
  b.overrides.section2_length = static_cast<std::uint32_t>(at.end - at.section2);
  // Section 3 then starts at the end: its length cannot be read.
  EXPECT_EQ(error_text(parse_exact(b.build())), truncated_text(3, at.end));
}

TEST(ParserBoundaries, Section4ReachingTheEndLeavesNoTerminator) {
  MessageBuilder b = full_builder();
  const MessageLayout at = b.layout();
  b.overrides.section4_length = static_cast<std::uint32_t>(at.end - at.section4);
  EXPECT_EQ(error_text(parse_exact(b.build())), truncated_text(5, at.end));
}

TEST(ParserBoundaries, Section1ReachingTheEnd) {
  MessageBuilder b = full_builder();
  const MessageLayout at = b.layout();
  b.overrides.section1_length = static_cast<std::uint32_t>(at.end - 8);
  // Section 2 then starts at the end: its length cannot be read.
  EXPECT_EQ(error_text(parse_exact(b.build())), truncated_text(2, at.end));
}

TEST(ParserBoundaries, LargestSectionLengthsDoNotWrap) {
  for (int section = 1; section <= 4; ++section) {
    MessageBuilder b = full_builder();
    const MessageLayout at = b.layout();
    std::size_t offset = 8;
    switch (section) {
      case 1:
        b.overrides.section1_length = 0xFFFFFF;
        break;
      case 2:
        b.overrides.section2_length = 0xFFFFFF;
        offset = at.section2;
        break;
      case 3:
        b.overrides.section3_length = 0xFFFFFF;
        offset = at.section3;
        break;
      default:
        b.overrides.section4_length = 0xFFFFFF;
        offset = at.section4;
        break;
    }
    EXPECT_EQ(error_text(parse_exact(b.build())), truncated_text(section, offset));
  }
}

// ---------------------------------------------------------------------------
// Field readers.

TEST(ReadAt, U16InsideAndAtTheEnd) {
  const std::vector<std::uint8_t> bytes = {0x81, 0x02, 0xF3};
  const ExactBuffer buffer(bytes);
  const auto first = read_u16_at(buffer.span(), 0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, 0x8102);
  const auto last = read_u16_at(buffer.span(), 1);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(*last, 0x02F3);
}

TEST(ReadAt, U24IsBigEndianWithoutSignExtension) {
  const std::vector<std::uint8_t> bytes = {0xFF, 0x80, 0x01};
  const ExactBuffer buffer(bytes);
  const auto value = read_u24_at(buffer.span(), 0, 2);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, 0xFF8001u);
}

struct ReadAtCase {
  std::size_t size;
  std::size_t offset;
};

class ReadAtOutside : public ::testing::TestWithParam<ReadAtCase> {};

TEST_P(ReadAtOutside, U16NamesSection0AndTheOffset) {
  const std::vector<std::uint8_t> bytes(GetParam().size, 0x11);
  const ExactBuffer buffer(bytes);
  const auto read = read_u16_at(buffer.span(), GetParam().offset);
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().message(), truncated_text(0, GetParam().offset));
}

TEST_P(ReadAtOutside, U24NamesTheGivenSectionAndTheOffset) {
  const std::vector<std::uint8_t> bytes(GetParam().size, 0x11);
  const ExactBuffer buffer(bytes);
  const auto read = read_u24_at(buffer.span(), GetParam().offset, 4);
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().message(), truncated_text(4, GetParam().offset));
}

INSTANTIATE_TEST_SUITE_P(Offsets, ReadAtOutside,
                         ::testing::Values(ReadAtCase{0, 0}, ReadAtCase{1, 0}, ReadAtCase{3, 2},
                                           ReadAtCase{3, 3}, ReadAtCase{3, 4},
                                           ReadAtCase{3, kMaxSize}, ReadAtCase{3, kMaxSize - 1}));

TEST(ReadAt, U24NeedsAllThreeOctets) {
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4};
  const ExactBuffer buffer(bytes);
  const auto inside = read_u24_at(buffer.span(), 1, 3);
  ASSERT_TRUE(inside.has_value());
  EXPECT_EQ(*inside, 0x020304u);
  const auto outside = read_u24_at(buffer.span(), 2, 3);
  ASSERT_FALSE(outside.has_value());
  EXPECT_EQ(outside.error().message(), truncated_text(3, 2));
}

// ---------------------------------------------------------------------------
// Editions 2, 3 and 4 through parse_message_any_edition.

struct EditionCase {
  const char* name;
  std::uint8_t edition;
  std::uint16_t centre;     // as written and as read
  std::uint16_t subcentre;  // written; edition 2 has none and reads 0
  std::uint16_t year;       // written (editions 2 and 3: year of century)
  std::uint16_t typical_year;
  std::uint8_t international_subcategory;  // as read: 255 where the edition has none
  std::uint8_t second;                     // as read
};

class ParserEdition : public ::testing::TestWithParam<EditionCase> {};

TEST_P(ParserEdition, EveryFieldFromItsOwnOctets) {
  const EditionCase& c = GetParam();
  MessageBuilder b = full_builder();
  b.edition = c.edition;
  b.section1 = {.master_table_number = 11,
                .originating_centre = c.centre,
                .originating_subcentre = c.subcentre,
                .update_sequence_number = 16,
                .data_category = 18,
                .international_data_subcategory = 19,
                .local_data_subcategory = 20,
                .master_tables_version_number = 21,
                .local_tables_version_number = 22,
                .typical_year = c.year,
                .typical_month = 25,
                .typical_day = 26,
                .typical_hour = 27,
                .typical_minute = 28,
                .typical_second = 29,
                .local_use = {0xF1}};
  const MessageLayout at = b.layout();
  const auto bytes = b.build();
  const auto parsed = parse_any_exact(bytes);
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  const BufrMessage& m = *parsed;
  EXPECT_EQ(m.edition, c.edition);
  EXPECT_EQ(m.total_length, bytes.size());
  EXPECT_EQ(m.section1_length, at.section1_length());
  EXPECT_EQ(m.master_table_number, 11);
  EXPECT_EQ(m.originating_centre, c.centre);
  EXPECT_EQ(m.originating_subcentre, c.edition == 2 ? 0 : c.subcentre);
  EXPECT_EQ(m.update_sequence_number, 16);
  EXPECT_TRUE(m.local_section_present);
  EXPECT_EQ(m.data_category, 18);
  EXPECT_EQ(m.international_data_subcategory, c.international_subcategory);
  EXPECT_EQ(m.local_data_subcategory, 20);
  EXPECT_EQ(m.master_tables_version_number, 21);
  EXPECT_EQ(m.local_tables_version_number, 22);
  EXPECT_EQ(m.typical_year, c.typical_year);
  EXPECT_EQ(m.typical_month, 25);
  EXPECT_EQ(m.typical_day, 26);
  EXPECT_EQ(m.typical_hour, 27);
  EXPECT_EQ(m.typical_minute, 28);
  EXPECT_EQ(m.typical_second, c.second);
  EXPECT_EQ(m.section2_length, at.section2_length());
  EXPECT_EQ(m.unexpanded_descriptors, b.descriptors);
  EXPECT_EQ(m.section4_data_offset, at.section4 + 4);
  EXPECT_EQ(m.section4_data_length, b.data.size());
  // The edition-4 reader refuses the older editions and agrees on edition 4.
  EXPECT_EQ(parse_exact(bytes).has_value(), c.edition == 4);
}

INSTANTIATE_TEST_SUITE_P(
    Editions, ParserEdition,
    ::testing::Values(EditionCase{"Edition2", 2, 0x1213, 0x14, 24, 2024, 255, 0},
                      EditionCase{"Edition3", 3, 0x13, 0x14, 24, 2024, 255, 0},
                      EditionCase{"Edition4", 4, 0x1213, 0x1415, 0x2324, 0x2324, 19, 29}),
    [](const auto& case_info) { return case_info.param.name; });

struct YearCase {
  std::uint8_t year_of_century;
  std::uint16_t year;
};

class ParserYearOfCentury : public ::testing::TestWithParam<YearCase> {};

TEST_P(ParserYearOfCentury, NinetiesAreTheNineteenNineties) {
  for (const std::uint8_t edition : {std::uint8_t{2}, std::uint8_t{3}}) {
    MessageBuilder b = builder_without_section2();
    b.edition = edition;
    b.section1.typical_year = GetParam().year_of_century;
    const auto parsed = parse_any_exact(b.build());
    ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
    EXPECT_EQ(parsed->typical_year, GetParam().year) << "edition " << int{edition};
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ParserYearOfCentury,
    ::testing::Values(YearCase{0, 2000}, YearCase{89, 2089}, YearCase{90, 1990}, YearCase{99, 1999},
                      YearCase{100, 2000}, YearCase{101, 2101}, YearCase{255, 2255}),
    [](const auto& case_info) { return std::to_string(case_info.param.year_of_century); });

struct AnyEditionFailure {
  const char* name;
  std::function<void(MessageBuilder&)> apply;
  std::string expected;
};

class ParserAnyEditionFailure : public ::testing::TestWithParam<AnyEditionFailure> {};

TEST_P(ParserAnyEditionFailure, Fails) {
  MessageBuilder b = full_builder();
  GetParam().apply(b);
  EXPECT_EQ(error_text(parse_any_exact(b.build())), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParserAnyEditionFailure,
    ::testing::Values(
        // The edition is checked before the total length, which edition 1 lacks.
        AnyEditionFailure{"Edition1",
                          [](MessageBuilder& b) {
                            b.overrides.edition = 1;
                            b.overrides.total_length = 3;
                          },
                          "edition 1 is not supported: its section 0 declares no total length"},
        AnyEditionFailure{"Edition0", [](MessageBuilder& b) { b.overrides.edition = 0; },
                          "unsupported BUFR edition 0; editions 2, 3 and 4 are implemented"},
        AnyEditionFailure{"Edition5", [](MessageBuilder& b) { b.overrides.edition = 5; },
                          "unsupported BUFR edition 5; editions 2, 3 and 4 are implemented"},
        AnyEditionFailure{"MarkerBeforeEdition",
                          [](MessageBuilder& b) {
                            b.overrides.edition = 1;
                            b.overrides.marker = {'B', 'U', 'F', 'X'};
                          },
                          kMissingMarkerText},
        // Sixteen octets stop before the minute.
        AnyEditionFailure{"Edition2Section1Of16",
                          [](MessageBuilder& b) {
                            b.edition = 2;
                            b.section1.typical_year = 24;
                            b.overrides.section1_length = 16;
                          },
                          truncated_text(1, 8)},
        AnyEditionFailure{"Edition3Section1Of16",
                          [](MessageBuilder& b) {
                            b.edition = 3;
                            b.section1.typical_year = 24;
                            b.overrides.section1_length = 16;
                          },
                          truncated_text(1, 8)},
        // Only bit 1 of the edition-3 flags announces section 2: with it
        // clear, every section is read one place early and section 5 lands
        // on the section-4 header.
        AnyEditionFailure{"Edition3FlagsWithoutBit1",
                          [](MessageBuilder& b) {
                            b.edition = 3;
                            b.section1.typical_year = 24;
                            b.overrides.section1_flags = 0x7F;
                          },
                          kBadTerminatorText}),
    [](const auto& case_info) { return case_info.param.name; });

// ---------------------------------------------------------------------------
// Sweeps.

struct SweepBase {
  const char* name;
  MessageBuilder (*make)();
  Expected<BufrMessage> (*parse)(std::span<const std::uint8_t>);
};

class ParserSweep : public ::testing::TestWithParam<SweepBase> {};

// The first error a message cut to `n` octets (total length patched to `n`)
// must give, from where each section lies in the whole message.
std::string expected_for_cut(const MessageLayout& at, bool has_section2, std::size_t n) {
  if (n <= 7) {
    return kTooShortText;
  }
  if (n < at.section2) {
    return truncated_text(1, 8);
  }
  if (has_section2 && n < at.section3) {
    return truncated_text(2, at.section2);
  }
  if (n < at.section4) {
    return truncated_text(3, at.section3);
  }
  if (n < at.section5) {
    return truncated_text(4, at.section4);
  }
  return truncated_text(5, at.section5);
}

TEST_P(ParserSweep, EveryPrefixFailsWithLengthMismatch) {
  const auto bytes = GetParam().make().build();
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::span<const std::uint8_t> prefix(bytes.data(), n);
    const std::string expected = n <= 7 ? kTooShortText : mismatch_text(bytes.size(), n);
    EXPECT_EQ(error_text(GetParam().parse(prefix)), expected) << "prefix " << n;
  }
}

TEST_P(ParserSweep, EveryPrefixDeclaringItsOwnLengthFailsAtTheCutSection) {
  const MessageBuilder b = GetParam().make();
  const MessageLayout at = b.layout();
  const auto bytes = b.build();
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    if (n >= 7) {
      put_u24(prefix, 4, static_cast<std::uint32_t>(n));
    }
    EXPECT_EQ(error_text(GetParam().parse(prefix)), expected_for_cut(at, b.section2.has_value(), n))
        << "prefix " << n;
  }
}

// Every value at every position: a result or an error, never a read outside
// the buffer; a result must describe sections that fit and a real terminator.
TEST_P(ParserSweep, EverySingleOctetCorruptionIsHandled) {
  const auto original = GetParam().make().build();
  std::size_t parsed_count = 0;
  for (std::size_t position = 0; position < original.size(); ++position) {
    for (unsigned value = 0; value < 256; ++value) {
      std::vector<std::uint8_t> bytes = original;
      bytes[position] = static_cast<std::uint8_t>(value);
      const auto parsed = GetParam().parse(bytes);
      // Edition 4 reads alike in both parsers, failures included.
      if (bytes[7] == 4) {
        const auto any = parse_any_exact(bytes);
        ASSERT_EQ(error_text(any), error_text(parsed)) << position << " " << value;
        if (parsed) {
          EXPECT_EQ(any->section4_data_offset, parsed->section4_data_offset);
          EXPECT_EQ(any->typical_year, parsed->typical_year);
        }
      }
      if (!parsed) {
        continue;
      }
      ++parsed_count;
      const BufrMessage& m = *parsed;
      const std::size_t s5 =
          8 + m.section1_length + m.section2_length + m.section3_length + m.section4_length;
      ASSERT_LE(s5 + 4, bytes.size()) << position << " " << value;
      EXPECT_EQ(std::memcmp(bytes.data() + s5, "7777", 4), 0) << position << " " << value;
      EXPECT_EQ(m.total_length, bytes.size());
      EXPECT_EQ(m.edition, bytes[7]);
      EXPECT_EQ(m.local_section_present, m.edition == 4 ? bytes[17] != 0 : (bytes[15] & 0x80) != 0);
      if (!m.local_section_present) {
        EXPECT_EQ(m.section2_length, 0u);
      }
      EXPECT_EQ(m.unexpanded_descriptors.size(), (m.section3_length - 7) / 2);
      EXPECT_EQ(m.section4_data_offset, s5 - m.section4_length + 4);
      EXPECT_LE(m.section4_data_offset + m.section4_data_length, bytes.size());
    }
  }
  // Corrupting data octets leaves the message valid, so some must parse.
  EXPECT_GT(parsed_count, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ParserSweep,
    ::testing::Values(SweepBase{"WithSection2", &full_builder, &parse_exact},
                      SweepBase{"WithoutSection2", &builder_without_section2, &parse_exact},
                      SweepBase{"Edition3WithSection2", &edition3_builder, &parse_any_exact},
                      SweepBase{"Edition2WithoutSection2", &edition2_builder, &parse_any_exact}),
    [](const auto& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace quorvel::testing
