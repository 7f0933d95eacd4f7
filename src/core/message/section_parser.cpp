#include "core/message/section_parser.hpp"

#include <cstring>

#include "core/message/descriptor.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kSection0Length = 8;
constexpr std::size_t kSection1Offset = 8;
constexpr std::size_t kFlagsOffset = 17;
constexpr std::size_t kTypicalYearOffset = 23;
// One past the last fixed section-1 field (typical_second at offset 29).
constexpr std::size_t kFixedSection1End = 30;
// Editions 2 and 3 end their fixed section-1 fields with the minute, octet 17.
constexpr std::size_t kOlderSection1Length = 17;
constexpr std::size_t kMinSection3Length = 7;

// Section 1 declared too short for the fixed fields that are read from it.
BufrError section1_truncated() { return BufrError::section_truncated(1, kSection1Offset); }

// Editions 2 and 3 give the year within its century. Both were in use in the
// 1990s, so 90 to 99 are read as 1990 to 1999 and 100 as 2000.
std::uint16_t year_from_year_of_century(std::uint8_t year) {
  if (year >= 90 && year <= 99) {
    return static_cast<std::uint16_t>(1900 + year);
  }
  if (year == 100) {
    return 2000;
  }
  return static_cast<std::uint16_t>(2000 + year);
}

// The edition-4 fields that decide where section 2 lies, read before it is.
// The other fields come from their fixed offsets once the message has been
// checked to the end, whatever length section 1 declares.
Status read_edition4_flags_and_year(std::span<const std::uint8_t> buffer, BufrMessage& message) {
  // A section 1 declared shorter than its fixed fields can leave them outside
  // the buffer; refuse rather than read past the end.
  if (buffer.size() <= kFlagsOffset) {
    return section1_truncated();
  }
  message.local_section_present = buffer[kFlagsOffset] != 0;
  QV_ASSIGN_OR_RETURN(message.typical_year, read_u16_at(buffer, kTypicalYearOffset));
  return {};
}

Status read_edition4_fields(std::span<const std::uint8_t> buffer, BufrMessage& message) {
  if (buffer.size() < kFixedSection1End) {
    return section1_truncated();
  }
  message.master_table_number = buffer[11];
  QV_ASSIGN_OR_RETURN(message.originating_centre, read_u16_at(buffer, 12));
  QV_ASSIGN_OR_RETURN(message.originating_subcentre, read_u16_at(buffer, 14));
  message.update_sequence_number = buffer[16];
  message.data_category = buffer[18];
  message.international_data_subcategory = buffer[19];
  message.local_data_subcategory = buffer[20];
  message.master_tables_version_number = buffer[21];
  message.local_tables_version_number = buffer[22];
  message.typical_month = buffer[25];
  message.typical_day = buffer[26];
  message.typical_hour = buffer[27];
  message.typical_minute = buffer[28];
  message.typical_second = buffer[29];
  return {};
}

// Every section-1 field of editions 2 and 3. The caller has checked that the
// declared section 1 lies inside the buffer, so its 17 octets are there.
Status read_older_section1(std::span<const std::uint8_t> buffer, std::size_t section1_length,
                           std::uint8_t edition, BufrMessage& message) {
  if (section1_length < kOlderSection1Length) {
    return section1_truncated();
  }
  message.master_table_number = buffer[11];
  if (edition == 2) {
    QV_ASSIGN_OR_RETURN(message.originating_centre, read_u16_at(buffer, 12));
    message.originating_subcentre = 0;
  } else {
    message.originating_subcentre = buffer[12];
    message.originating_centre = buffer[13];
  }
  message.update_sequence_number = buffer[14];
  message.local_section_present = (buffer[15] & 0x80) != 0;
  message.data_category = buffer[16];
  message.international_data_subcategory = 255;
  message.local_data_subcategory = buffer[17];
  message.master_tables_version_number = buffer[18];
  message.local_tables_version_number = buffer[19];
  message.typical_year = year_from_year_of_century(buffer[20]);
  message.typical_month = buffer[21];
  message.typical_day = buffer[22];
  message.typical_hour = buffer[23];
  message.typical_minute = buffer[24];
  message.typical_second = 0;
  return {};
}

// Sections 2 to 5 of a message whose section 2 would start at `s2` (inside
// the buffer), after section 1 has set local_section_present.
Status read_sections_2_to_5(std::span<const std::uint8_t> buffer, std::size_t s2,
                            BufrMessage& message) {
  const std::size_t length = buffer.size();
  std::size_t section2_length = 0;
  if (message.local_section_present) {
    QV_ASSIGN_OR_RETURN(section2_length, read_u24_at(buffer, s2, 2));
    if (section2_length > length - s2) {
      return BufrError::section_truncated(2, s2);
    }
  }

  const std::size_t s3 = s2 + section2_length;
  QV_ASSIGN_OR_RETURN(const std::size_t section3_length, read_u24_at(buffer, s3, 3));
  if (section3_length > length - s3 || section3_length < kMinSection3Length) {
    return BufrError::section_truncated(3, s3);
  }
  QV_ASSIGN_OR_RETURN(const std::uint16_t number_of_subsets, read_u16_at(buffer, s3 + 4));
  // Encoders commonly pad section 3 to an even length, as edition 3 required;
  // an odd last octet is that padding, whatever its value, and carries no
  // descriptor.
  const std::size_t descriptor_count = (section3_length - kMinSection3Length) / 2;
  const std::uint8_t section3_flags = buffer[s3 + 6];
  std::vector<std::uint32_t> descriptors;
  descriptors.reserve(descriptor_count);
  const std::size_t first = s3 + kMinSection3Length;
  for (std::size_t at = first; at < first + 2 * descriptor_count; at += 2) {
    descriptors.push_back(descriptor_code_from_octets(buffer[at], buffer[at + 1]));
  }

  const std::size_t s4 = s3 + section3_length;
  QV_ASSIGN_OR_RETURN(const std::size_t section4_length, read_u24_at(buffer, s4, 4));
  if (section4_length > length - s4) {
    return BufrError::section_truncated(4, s4);
  }
  const std::size_t s5 = s4 + section4_length;
  if (length - s5 < 4) {
    return BufrError::section_truncated(5, s5);
  }
  if (std::memcmp(buffer.data() + s5, "7777", 4) != 0) {
    return BufrError::bad_terminator();
  }

  message.section2_length = section2_length;
  message.section3_length = section3_length;
  message.number_of_subsets = number_of_subsets;
  message.observed_data = (section3_flags & 0x80) != 0;
  message.compressed_data = (section3_flags & 0x40) != 0;
  message.unexpanded_descriptors = std::move(descriptors);
  message.section4_length = section4_length;
  message.section4_data_offset = s4 + 4;
  message.section4_data_length = section4_length >= 4 ? section4_length - 4 : 0;
  return {};
}

// Everything after the edition check, for a buffer of more than 7 octets
// that starts with the marker and names edition 2, 3 or 4.
Expected<BufrMessage> parse_known_edition(std::span<const std::uint8_t> buffer,
                                          std::uint8_t edition) {
  const std::size_t length = buffer.size();
  QV_ASSIGN_OR_RETURN(const std::uint32_t total_length, read_u24_at(buffer, 4, 0));
  if (total_length != length) {
    return BufrError::length_mismatch(total_length, length);
  }
  if (length <= 10) {
    return section1_truncated();
  }
  QV_ASSIGN_OR_RETURN(const std::uint32_t section1_length, read_u24_at(buffer, kSection1Offset, 1));
  const std::size_t s2 = kSection0Length + section1_length;
  if (s2 > length) {
    return section1_truncated();
  }

  BufrMessage message;
  if (edition == 4) {
    QV_TRY(read_edition4_flags_and_year(buffer, message));
  } else {
    QV_TRY(read_older_section1(buffer, section1_length, edition, message));
  }
  QV_TRY(read_sections_2_to_5(buffer, s2, message));
  if (edition == 4) {
    QV_TRY(read_edition4_fields(buffer, message));
  }
  message.total_length = length;
  message.edition = edition;
  message.section1_length = section1_length;
  return message;
}

// The checks every edition shares before its number is looked at.
Status check_marker(std::span<const std::uint8_t> buffer) {
  if (buffer.size() <= 7) {
    return BufrError::too_short();
  }
  if (std::memcmp(buffer.data(), "BUFR", 4) != 0) {
    return BufrError::missing_marker();
  }
  return {};
}

}  // namespace

Expected<std::uint16_t> read_u16_at(std::span<const std::uint8_t> buffer, std::size_t offset) {
  if (offset > buffer.size() || buffer.size() - offset < 2) {
    return BufrError::section_truncated(0, offset);
  }
  return static_cast<std::uint16_t>(std::uint32_t{buffer[offset]} << 8 | buffer[offset + 1]);
}

Expected<std::uint32_t> read_u24_at(std::span<const std::uint8_t> buffer, std::size_t offset,
                                    std::uint8_t section) {
  if (offset > buffer.size() || buffer.size() - offset < 3) {
    return BufrError::section_truncated(section, offset);
  }
  return std::uint32_t{buffer[offset]} << 16 | std::uint32_t{buffer[offset + 1]} << 8 |
         std::uint32_t{buffer[offset + 2]};
}

Expected<BufrMessage> parse_message(std::span<const std::uint8_t> buffer) {
  QV_TRY(check_marker(buffer));
  if (buffer[7] != 4) {
    return BufrError::unsupported_edition(buffer[7]);
  }
  return parse_known_edition(buffer, 4);
}

Expected<BufrMessage> parse_message_any_edition(std::span<const std::uint8_t> buffer) {
  QV_TRY(check_marker(buffer));
  const std::uint8_t edition = buffer[7];
  if (edition == 1) {
    return BufrError::edition_one_unsupported();
  }
  if (edition < 2 || edition > 4) {
    return BufrError::unsupported_edition_of_two_to_four(edition);
  }
  return parse_known_edition(buffer, edition);
}

}  // namespace quorvel
