// Every BufrError factory against the exact text users see, including code
// padding to six digits, codes of seven digits and the largest payloads.
#include "core/base/bufr_error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "core/base/file_io.hpp"

namespace quorvel {
namespace {

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

struct MessageCase {
  const char* name;
  std::function<BufrError()> make;
  const char* expected;
};

class BufrErrorMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(BufrErrorMessage, IsExactly) { EXPECT_EQ(GetParam().make().message(), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    MessageStructure, BufrErrorMessage,
    ::testing::Values(
        MessageCase{"TooShort", [] { return BufrError::too_short(); },
                    "message is too short to be BUFR"},
        MessageCase{"MissingMarker", [] { return BufrError::missing_marker(); },
                    "missing BUFR marker"},
        // An 8-bit payload prints as a number, never as a character.
        MessageCase{"UnsupportedEdition3", [] { return BufrError::unsupported_edition(3); },
                    "unsupported BUFR edition 3; only edition 4 is implemented"},
        MessageCase{"UnsupportedEdition0", [] { return BufrError::unsupported_edition(0); },
                    "unsupported BUFR edition 0; only edition 4 is implemented"},
        MessageCase{"UnsupportedEdition255", [] { return BufrError::unsupported_edition(255); },
                    "unsupported BUFR edition 255; only edition 4 is implemented"},
        MessageCase{"UnsupportedEditionOfTwoToFour",
                    [] { return BufrError::unsupported_edition_of_two_to_four(255); },
                    "unsupported BUFR edition 255; editions 2, 3 and 4 are implemented"},
        MessageCase{"EditionOne", [] { return BufrError::edition_one_unsupported(); },
                    "edition 1 is not supported: its section 0 declares no total length"},
        MessageCase{"LengthMismatchDeclaredFirst",
                    [] { return BufrError::length_mismatch(100, 101); },
                    "declared length 100 does not match buffer length 101"},
        MessageCase{"LengthMismatchLargest",
                    [] { return BufrError::length_mismatch(16777215, kMaxSize); },
                    "declared length 16777215 does not match buffer length 18446744073709551615"},
        MessageCase{"SectionTruncated", [] { return BufrError::section_truncated(1, 8); },
                    "section 1 at offset 8 is truncated"},
        MessageCase{"SectionTruncatedSection0", [] { return BufrError::section_truncated(0, 23); },
                    "section 0 at offset 23 is truncated"},
        MessageCase{"SectionTruncatedLargest",
                    [] { return BufrError::section_truncated(255, kMaxSize); },
                    "section 255 at offset 18446744073709551615 is truncated"},
        MessageCase{"BadTerminator", [] { return BufrError::bad_terminator(); },
                    "section 5 terminator is not 7777"},
        MessageCase{"OddDescriptorArea", [] { return BufrError::odd_descriptor_area(); },
                    "section 3 descriptor area has odd byte count"},
        // Not a table problem: no prefix.
        MessageCase{"Interrupted", [] { return BufrError::interrupted(); }, "interrupted"}),
    [](const auto& case_info) { return case_info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    DescriptorCodes, BufrErrorMessage,
    ::testing::Values(
        MessageCase{"MissingSequencePadded", [] { return BufrError::missing_sequence(1001); },
                    "descriptor 001001 was not found in Table D"},
        MessageCase{"MissingSequenceZero", [] { return BufrError::missing_sequence(0); },
                    "descriptor 000000 was not found in Table D"},
        MessageCase{"MissingSequenceSixDigits", [] { return BufrError::missing_sequence(307080); },
                    "descriptor 307080 was not found in Table D"},
        MessageCase{"MissingSequenceSevenDigits",
                    [] { return BufrError::missing_sequence(1234567); },
                    "descriptor 1234567 was not found in Table D"},
        MessageCase{"MissingReplicationFactor",
                    [] { return BufrError::missing_replication_factor(101000); },
                    "delayed replication descriptor 101000 is missing its replication factor or "
                    "replicated descriptors"},
        MessageCase{"MissingReplicationFactorPadded",
                    [] { return BufrError::missing_replication_factor(31001); },
                    "delayed replication descriptor 031001 is missing its replication factor or "
                    "replicated descriptors"},
        MessageCase{"UnsupportedReplication",
                    [] { return BufrError::unsupported_replication(102000); },
                    "unsupported replication descriptor 102000"},
        MessageCase{"UnsupportedReplicationPadded",
                    [] { return BufrError::unsupported_replication(7); },
                    "unsupported replication descriptor 000007"},
        MessageCase{"MissingElementPadded", [] { return BufrError::missing_element(1001); },
                    "descriptor 001001 was not found in Table B"},
        MessageCase{"MissingElementLargest", [] { return BufrError::missing_element(kMaxU32); },
                    "descriptor 4294967295 was not found in Table B"}),
    [](const auto& case_info) { return case_info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    TextAndIo, BufrErrorMessage,
    ::testing::Values(
        MessageCase{"IoNotFound", [] { return BufrError::io(ENOENT); },
                    "io error: No such file or directory (os error 2)"},
        MessageCase{"IoIsDirectory", [] { return BufrError::io(EISDIR); },
                    "io error: Is a directory (os error 21)"},
        MessageCase{"IoInvalidUtf8", [] { return BufrError::io_invalid_utf8(); },
                    "io error: stream did not contain valid UTF-8"},
        MessageCase{"IoNotRegularFile", [] { return BufrError::io_not_regular_file("/t/p"); },
                    "io error: /t/p is not a regular file"},
        MessageCase{"IoFileTooLarge", [] { return BufrError::io_file_too_large("/t/\xff", 4096); },
                    "io error: /t/\xEF\xBF\xBD is larger than 4096 bytes"},
        MessageCase{"TableFileNotRegular",
                    [] { return BufrError::table_file_not_regular("/t/\xff"); },
                    "csv/table parse error: /t/\xEF\xBF\xBD is not a regular file"},
        MessageCase{"TableFileTooLarge",
                    [] { return BufrError::table_file_too_large("/t/p", 67108864); },
                    "csv/table parse error: /t/p is larger than 67108864 bytes"},
        MessageCase{"ExpansionTooDeep", [] { return BufrError::expansion_too_deep(); },
                    "csv/table parse error: sequence expansion exceeded recursion depth"},
        MessageCase{"DecodeTooDeep", [] { return BufrError::decode_too_deep(); },
                    "csv/table parse error: descriptor decode exceeded recursion depth"},
        MessageCase{"CompressedDecodeTooDeep",
                    [] { return BufrError::compressed_decode_too_deep(); },
                    "csv/table parse error: compressed descriptor decode exceeded recursion "
                    "depth"},
        MessageCase{"InvalidDescriptorPadded", [] { return BufrError::invalid_descriptor(1); },
                    "csv/table parse error: invalid descriptor 000001"},
        MessageCase{"InvalidDescriptorSevenDigits",
                    [] { return BufrError::invalid_descriptor(9999999); },
                    "csv/table parse error: invalid descriptor 9999999"},
        MessageCase{"NotEnoughBits", [] { return BufrError::not_enough_bits(10, 8, 3); },
                    "csv/table parse error: not enough bits while reading section 4 at bit 10 "
                    "for width 8 (3 bits available)"},
        MessageCase{"NotEnoughBitsLargest",
                    [] { return BufrError::not_enough_bits(kMaxU64, 64, kMaxU64); },
                    "csv/table parse error: not enough bits while reading section 4 at bit "
                    "18446744073709551615 for width 64 (18446744073709551615 bits available)"},
        MessageCase{"ReadTooWide", [] { return BufrError::read_too_wide(65); },
                    "csv/table parse error: cannot read 65 bits into u64"},
        MessageCase{"BitmapOutsideHistory", [] { return BufrError::bitmap_outside_history(); },
                    "csv/table parse error: bitmap reference is outside descriptor history"},
        MessageCase{"VaryingReplicationFactors",
                    [] { return BufrError::varying_replication_factors(); },
                    "csv/table parse error: compressed delayed replication with varying factors "
                    "is not implemented"},
        MessageCase{"OsFailureText", [] { return BufrError::os_failure_text(ENOENT); },
                    "csv/table parse error: No such file or directory (os error 2)"},
        MessageCase{"BadSequenceEntry",
                    [] { return BufrError::bad_sequence_entry("\"301001\" = [ 1001"); },
                    "csv/table parse error: \"301001\" = [ 1001"},
        MessageCase{"TableDirectoryMissing",
                    [] { return BufrError::table_directory_missing("/no/such/dir"); },
                    "csv/table parse error: ecCodes table directory does not exist: /no/such/dir"},
        MessageCase{"CsvFieldCount", [] { return BufrError::csv_field_count(3, 4, 57, 2, 5); },
                    "csv/table parse error: CSV error: record 3 (line: 4, byte: 57): found record "
                    "with 2 fields, but the previous record has 5 fields"},
        MessageCase{"CsvInvalidUtf8", [] { return BufrError::csv_invalid_utf8(1, 2, 3, 40, 7); },
                    "csv/table parse error: CSV parse error: record 1 (line 2, field: 3, byte: "
                    "40): invalid utf-8: invalid UTF-8 in field 3 near byte index 7"}),
    [](const auto& case_info) { return case_info.param.name; });

// The payloads stay typed: callers that branch on the failure read them
// without parsing the message.
TEST(BufrErrorKind, StructuredVariantsKeepTheirPayload) {
  const BufrError truncated = BufrError::section_truncated(3, 41);
  const auto* section = std::get_if<error::SectionTruncated>(&truncated.kind());
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(section->section, 3);
  EXPECT_EQ(section->offset, 41u);

  const BufrError mismatch = BufrError::length_mismatch(7, 9);
  const auto* lengths = std::get_if<error::LengthMismatch>(&mismatch.kind());
  ASSERT_NE(lengths, nullptr);
  EXPECT_EQ(lengths->declared, 7u);
  EXPECT_EQ(lengths->actual, 9u);

  // A system failure inside a table loader is Io; the same text as a table
  // problem is Text. Only the variant decides the prefix.
  EXPECT_TRUE(std::holds_alternative<error::Io>(BufrError::io(ENOENT).kind()));
  EXPECT_TRUE(std::holds_alternative<error::Text>(BufrError::os_failure_text(ENOENT).kind()));
  EXPECT_TRUE(std::holds_alternative<error::Io>(BufrError::io_invalid_utf8().kind()));
}

struct OsErrorCase {
  int code;
  const char* expected;
};

class DescribeOsError : public ::testing::TestWithParam<OsErrorCase> {};

TEST_P(DescribeOsError, IsSystemTextThenNumber) {
  EXPECT_EQ(describe_os_error(GetParam().code), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, DescribeOsError,
                         ::testing::Values(OsErrorCase{ENOENT,
                                                       "No such file or directory (os error 2)"},
                                           OsErrorCase{EACCES, "Permission denied (os error 13)"},
                                           OsErrorCase{EISDIR, "Is a directory (os error 21)"},
                                           OsErrorCase{ENOTDIR, "Not a directory (os error 20)"}));

}  // namespace
}  // namespace quorvel
