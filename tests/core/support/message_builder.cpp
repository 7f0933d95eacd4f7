#include "support/message_builder.hpp"

#include <cstdio>
#include <cstdlib>

#include "support/bit_writer.hpp"

namespace quorvel::testing {
namespace {

constexpr std::size_t kSection0Length = 8;
constexpr std::size_t kSection1FixedLength = 22;       // offsets 8 to 29
constexpr std::size_t kOlderSection1FixedLength = 17;  // editions 2 and 3: offsets 8 to 24
constexpr std::size_t kSectionHeaderLength = 4;        // 3-octet length, reserved octet
constexpr std::size_t kSection3FixedLength = 7;
constexpr std::uint32_t kMaxU24 = 0xFFFFFF;

[[noreturn]] void fail(const char* what, unsigned long long value) {
  std::fprintf(stderr, "MessageBuilder: %s (%llu)\n", what, value);
  std::abort();
}

std::uint32_t u24(std::size_t value, const char* what) {
  if (value > kMaxU24) {
    fail(what, value);
  }
  return static_cast<std::uint32_t>(value);
}

// The declared value of a 24-bit length: the override when there is one.
std::uint32_t declared(const std::optional<std::uint32_t>& override_value, std::size_t laid_out,
                       const char* what) {
  return override_value ? *override_value : u24(laid_out, what);
}

std::size_t section1_fixed_length(const MessageBuilder& b) {
  if (b.edition < 2 || b.edition > 4) {
    fail("edition the builder cannot lay out", b.edition);
  }
  return b.edition == 4 ? kSection1FixedLength : kOlderSection1FixedLength;
}

// An octet field of editions 2 and 3 that edition 4 gives 16 bits.
std::uint8_t octet(std::uint16_t value, const char* what) {
  if (value > 0xFF) {
    fail(what, value);
  }
  return static_cast<std::uint8_t>(value);
}

void write_section1_fields(const MessageBuilder& b, std::uint8_t flags, BitWriter& w) {
  const Section1Fields& s = b.section1;
  w.write(s.master_table_number, 8);
  if (b.edition == 4) {
    w.write(s.originating_centre, 16);
    w.write(s.originating_subcentre, 16);
  } else if (b.edition == 3) {
    w.write(octet(s.originating_subcentre, "edition-3 subcentre above 8 bits"), 8);
    w.write(octet(s.originating_centre, "edition-3 centre above 8 bits"), 8);
  } else {
    w.write(s.originating_centre, 16);
  }
  w.write(s.update_sequence_number, 8);
  w.write(flags, 8);
  w.write(s.data_category, 8);
  if (b.edition == 4) {
    w.write(s.international_data_subcategory, 8);
  }
  w.write(s.local_data_subcategory, 8);
  w.write(s.master_tables_version_number, 8);
  w.write(s.local_tables_version_number, 8);
  if (b.edition == 4) {
    w.write(s.typical_year, 16);
  } else {
    w.write(octet(s.typical_year, "year of century above 8 bits"), 8);
  }
  w.write(s.typical_month, 8);
  w.write(s.typical_day, 8);
  w.write(s.typical_hour, 8);
  w.write(s.typical_minute, 8);
  if (b.edition == 4) {
    w.write(s.typical_second, 8);
  }
  w.write_bytes(s.local_use);
}

std::size_t descriptor_area_length(const MessageBuilder& b) {
  return b.descriptor_octets ? b.descriptor_octets->size() : 2 * b.descriptors.size();
}

}  // namespace

std::array<std::uint8_t, 2> descriptor_octets_of(std::uint32_t code) {
  const std::uint32_t f = code / 100000;
  const std::uint32_t x = code % 100000 / 1000;
  const std::uint32_t y = code % 1000;
  if (f > 3 || x > 63 || y > 255) {
    fail("descriptor code has no 16-bit form", code);
  }
  return {static_cast<std::uint8_t>(f << 6 | x), static_cast<std::uint8_t>(y)};
}

void put_u24(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  if (offset > bytes.size() || bytes.size() - offset < 3) {
    fail("put_u24 outside the buffer at offset", offset);
  }
  bytes[offset] = static_cast<std::uint8_t>(value >> 16);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 2] = static_cast<std::uint8_t>(value);
}

MessageLayout MessageBuilder::layout() const {
  MessageLayout at;
  at.section1 = kSection0Length;
  at.section2 = at.section1 + section1_fixed_length(*this) + section1.local_use.size();
  at.section3 = at.section2 + (section2 ? kSectionHeaderLength + section2->size() : 0);
  at.section4 = at.section3 + kSection3FixedLength + descriptor_area_length(*this);
  at.section5 = at.section4 +
                (section4_octets ? section4_octets->size() : kSectionHeaderLength + data.size());
  at.end = at.section5 + 4 + after_terminator.size();
  return at;
}

std::vector<std::uint8_t> MessageBuilder::build() const {
  const MessageLayout at = layout();
  const MessageOverrides& o = overrides;
  BitWriter w;

  // Section 0.
  if (o.marker) {
    w.write_bytes(*o.marker);
  } else {
    w.write_bytes("BUFR");
  }
  w.write(declared(o.total_length, at.end, "total length above 24 bits"), 24);
  w.write(o.edition.value_or(edition), 8);

  // Section 1.
  w.write(declared(o.section1_length, at.section1_length(), "section 1 above 24 bits"), 24);
  write_section1_fields(*this, o.section1_flags.value_or(section2 ? 0x80 : 0x00), w);

  // Section 2.
  if (section2) {
    w.write(declared(o.section2_length, at.section2_length(), "section 2 above 24 bits"), 24);
    w.write(0, 8);
    w.write_bytes(*section2);
  }

  // Section 3.
  w.write(declared(o.section3_length, at.section3_length(), "section 3 above 24 bits"), 24);
  w.write(0, 8);
  w.write(number_of_subsets, 16);
  const unsigned flags = (observed ? 0x80u : 0u) | (compressed ? 0x40u : 0u);
  w.write(o.section3_flags.value_or(static_cast<std::uint8_t>(flags)), 8);
  if (descriptor_octets) {
    w.write_bytes(*descriptor_octets);
  } else {
    for (const std::uint32_t code : descriptors) {
      w.write_bytes(descriptor_octets_of(code));
    }
  }

  // Section 4.
  if (section4_octets) {
    w.write_bytes(*section4_octets);
  } else {
    w.write(declared(o.section4_length, at.section4_length(), "section 4 above 24 bits"), 24);
    w.write(0, 8);
    w.write_bytes(data);
  }

  // Section 5 and what follows it inside the message.
  if (o.terminator) {
    w.write_bytes(*o.terminator);
  } else {
    w.write_bytes("7777");
  }
  w.write_bytes(after_terminator);

  std::vector<std::uint8_t> bytes = w.take_bytes();
  if (bytes.size() != at.end) {
    fail("built message disagrees with its layout, octets", bytes.size());
  }
  // Exact capacity, so that address checks see a read past the end.
  bytes.shrink_to_fit();
  return bytes;
}

}  // namespace quorvel::testing
