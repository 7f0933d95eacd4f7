// MessageBuilder: lays out a message of edition 4 (or 2 or 3), sections 0 to 5, with every
// length computed from the content, and can then break one field at a time
// through MessageOverrides. Tests read section offsets from layout() instead
// of hard-coding them. Built messages are plain octet vectors owned by the caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorvel::testing {

// The section-1 fields at their fixed offsets 11 to 29 (editions 2 and 3:
// 11 to 24), then any further section-1 octets. Editions 2 and 3 write
// typical_year as the one-octet year of century and leave out the
// international sub-category and the second; edition 3 writes the centre and
// subcentre in one octet each, edition 2 no subcentre.
struct Section1Fields {
  std::uint8_t master_table_number = 0;
  std::uint16_t originating_centre = 0;
  std::uint16_t originating_subcentre = 0;
  std::uint8_t update_sequence_number = 0;
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
  // Octets after the fixed fields that still belong to section 1.
  std::vector<std::uint8_t> local_use;
};

// Values written in place of the ones the layout implies. Each one breaks
// exactly the field it names; the octets around it stay where the content put
// them, so layout() still gives the true section positions.
struct MessageOverrides {
  std::optional<std::array<std::uint8_t, 4>> marker;  // offset 0
  std::optional<std::uint32_t> total_length;          // offset 4, 24 bits
  std::optional<std::uint8_t> edition;                // offset 7
  std::optional<std::uint32_t> section1_length;       // offset 8, 24 bits
  std::optional<std::uint8_t> section1_flags;    // offset 17, editions 2/3: 15 (default 0x80 or 0)
  std::optional<std::uint32_t> section2_length;  // written only with section 2
  std::optional<std::uint32_t> section3_length;
  std::optional<std::uint8_t> section3_flags;    // default from observed/compressed
  std::optional<std::uint32_t> section4_length;  // ignored with section4_octets
  std::optional<std::array<std::uint8_t, 4>> terminator;
};

// Where each section of a built message starts, counted from its first
// octet. Without section 2, section2 equals section3. `end` is the message
// length, octets after the terminator included.
struct MessageLayout {
  std::size_t section1 = 8;
  std::size_t section2 = 0;
  std::size_t section3 = 0;
  std::size_t section4 = 0;
  std::size_t section5 = 0;
  std::size_t end = 0;

  // The octets each section occupies as laid out (not as declared).
  std::size_t section1_length() const { return section2 - section1; }
  std::size_t section2_length() const { return section3 - section2; }
  std::size_t section3_length() const { return section4 - section3; }
  std::size_t section4_length() const { return section5 - section4; }
};

struct MessageBuilder {
  // The edition whose section 1 is laid out, written at offset 7 unless
  // overridden; 2, 3 or 4 (anything else aborts).
  std::uint8_t edition = 4;
  Section1Fields section1;
  // The content of section 2 after its 4-octet header; no section 2 when empty.
  std::optional<std::vector<std::uint8_t>> section2;
  std::uint16_t number_of_subsets = 1;
  bool observed = true;
  bool compressed = false;
  // Codes FXXYYY, each written as two octets; F, X and Y must fit 2, 6 and 8
  // bits (anything else aborts).
  std::vector<std::uint32_t> descriptors;
  // The descriptor area octets verbatim, replacing `descriptors`; may be odd.
  std::optional<std::vector<std::uint8_t>> descriptor_octets;
  // The section-4 data area, after the 4-octet header.
  std::vector<std::uint8_t> data;
  // The whole of section 4 verbatim, length field included, replacing the
  // header and `data`: for sections shorter than their own header.
  std::optional<std::vector<std::uint8_t>> section4_octets;
  // Octets after "7777" that the total length still counts.
  std::vector<std::uint8_t> after_terminator;

  MessageOverrides overrides;

  MessageLayout layout() const;
  // The message octets; a length that does not fit its 24-bit field aborts
  // unless an override replaces it.
  std::vector<std::uint8_t> build() const;
};

// Writes `value` big-endian into the three octets at `offset` (which must lie
// inside `bytes`): for patching a built message.
void put_u24(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// The two section-3 octets of the code FXXYYY; aborts when F, X or Y do not fit.
std::array<std::uint8_t, 2> descriptor_octets_of(std::uint32_t code);

}  // namespace quorvel::testing
