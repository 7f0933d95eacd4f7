// parse_message: checks one edition-4 message, sections 0 to 5, and returns
// its header; parse_message_any_edition does the same for editions 2, 3 and 4.
// The buffer is borrowed for the call; the record copies what it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/base/bufr_error.hpp"

namespace quorvel {

struct BufrMessage {
  std::size_t total_length = 0;
  std::uint8_t edition = 0;
  std::size_t section1_length = 0;
  std::uint8_t master_table_number = 0;
  std::uint16_t originating_centre = 0;
  std::uint16_t originating_subcentre = 0;
  std::uint8_t update_sequence_number = 0;
  bool local_section_present = false;
  std::uint8_t data_category = 0;
  std::uint8_t international_data_subcategory = 0;
  std::uint8_t local_data_subcategory = 0;
  std::uint8_t master_tables_version_number = 0;
  std::uint8_t local_tables_version_number = 0;
  std::uint16_t typical_year = 0;
  std::uint8_t typical_month = 0;
  std::uint8_t typical_day = 0;
  std::uint8_t typical_hour = 0;
  std::uint8_t typical_minute = 0;
  std::uint8_t typical_second = 0;
  std::size_t section2_length = 0;
  std::size_t section3_length = 0;
  std::uint16_t number_of_subsets = 0;
  bool observed_data = false;
  bool compressed_data = false;
  std::vector<std::uint32_t> unexpanded_descriptors;
  std::size_t section4_length = 0;
  // Offset of the section-4 data area from the start of the message.
  std::size_t section4_data_offset = 0;
  std::size_t section4_data_length = 0;
};

// The big-endian 16-bit value at `offset`, or SectionTruncated(0, offset)
// when the two octets are not both inside `buffer`.
Expected<std::uint16_t> read_u16_at(std::span<const std::uint8_t> buffer, std::size_t offset);

// The big-endian 24-bit value at `offset`, or SectionTruncated(section, offset)
// when the three octets are not all inside `buffer`.
Expected<std::uint32_t> read_u24_at(std::span<const std::uint8_t> buffer, std::size_t offset,
                                    std::uint8_t section);

// Parses `buffer`, which must hold exactly one message from its first octet.
// Checks run in a fixed order and the first failure is returned: TooShort,
// MissingMarker, UnsupportedEdition, LengthMismatch, SectionTruncated,
// BadTerminator. Offsets in errors count from buffer[0]. A section 3 of odd
// descriptor area ends in a padding octet, which is skipped.
Expected<BufrMessage> parse_message(std::span<const std::uint8_t> buffer);

// parse_message for editions 2, 3 and 4, with the same checks in the same
// order; `edition` holds the message's own. Edition 1 and editions above 4
// fail with UnsupportedEdition. Editions 2 and 3 need a section 1 of at least
// 17 octets and map it onto the edition-4 fields: octet 4 master table, then
// the centre (edition 2: octets 5-6; edition 3: subcentre octet 5, centre
// octet 6, both 8 bits), 7 update sequence, 8 flags (bit 1: section 2
// present), 9 data category, 10 local sub-category, 11-12 table versions,
// 13 year of century (90-99 are the 1990s, 100 is 2000, others 2000 + year),
// 14-17 month, day, hour, minute. The international sub-category reads 255
// and the second 0, as the edition has neither.
Expected<BufrMessage> parse_message_any_edition(std::span<const std::uint8_t> buffer);

}  // namespace quorvel
