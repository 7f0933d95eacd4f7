// A small Table B and code-table set for the decoding tests, the expected
// form of a decoded value worked out from the value rules alone, and a
// decode shortcut that renders each value (or the failure) as one line, so
// that a mismatch shows the whole value. Header-only: the support library
// depends on nothing in the core.
#pragma once

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/decode/decode.hpp"
#include "support/bit_writer.hpp"

namespace quorvel::testing {

inline constexpr std::uint32_t kAssociated = 999999;

struct Element {
  std::uint32_t code;
  std::string name;
  int width;
  std::int32_t scale = 0;
  std::int64_t reference = 0;
  std::string unit = "Numeric";

  bool is_text() const { return unit == kTextUnit; }
  // The same element read under changed width, scale and reference.
  Element with(int new_width, std::int32_t new_scale, std::int64_t new_reference) const {
    return {code, name, new_width, new_scale, new_reference, unit};
  }
  Element with_width(int new_width) const { return with(new_width, scale, reference); }
};

inline const Element kBlock{1001, "WMO BLOCK NUMBER", 7};
inline const Element kStation{1002, "WMO STATION NUMBER", 10};
inline const Element kRegion{1003, "WMO REGION NUMBER/GEOGRAPHICAL AREA", 3, 0, 0, "CODE TABLE"};
inline const Element kName{1015, "STATION OR SITE NAME", 64, 0, 0, std::string(kTextUnit)};
inline const Element kTemperature{12101, "TEMPERATURE/AIR TEMPERATURE", 16, 2, -27315, "K"};
inline const Element kPressure{10004, "PRESSURE", 14, -1, 0, "Pa"};
inline const Element kShortFactor{31000, "SHORT DELAYED DESCRIPTOR REPLICATION FACTOR", 1};
inline const Element kFactor{31001, "DELAYED DESCRIPTOR REPLICATION FACTOR", 8};
inline const Element kPresent{31031, "DATA PRESENT INDICATOR", 1, 0, 0, "FLAG TABLE"};
// A zero-width class-31 element reads nothing and is never missing: its value
// is its reference, which makes large replication counts free of data.
inline const Element kHugeFactor{31090, "CONSTANT FACTOR", 0, 0, std::int64_t{1} << 20};
inline const Element kNothing{48000, "ZERO WIDTH", 0};

// Ten distinct 4-bit elements 048010 + i for the bitmap tests.
inline Element series(int i) {
  return {static_cast<std::uint32_t>(48010 + i), fmt::format("SERIES {}", i), 4};
}
// Numeric elements 049000 + w of width w, w from 0 to 65.
inline Element width_element(int width) {
  return {static_cast<std::uint32_t>(49000 + width), fmt::format("WIDTH {}", width), width};
}
// Text elements 050000 + w of width w bits.
inline Element text_element(int width) {
  return {static_cast<std::uint32_t>(50000 + width),
          fmt::format("TEXT {}", width),
          width,
          0,
          0,
          std::string(kTextUnit)};
}

// Meanings belong to codes, not to units: a plain numeric element may have
// one, and an empty table answers nothing. Associated fields have a table
// that must never be consulted.
inline std::optional<std::string> meaning_of(std::uint32_t code, std::uint64_t raw) {
  if (code == 1003 && raw == 0) return "ANTARCTICA";
  if (code == 1003 && raw == 1) return "REGION I";
  if (code == 1003 && raw == 7) return "MISSING VALUE";
  if (code == 48010 && raw == 3) return "THREE";
  return std::nullopt;
}

using Sequences = std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>>;

// The shared elements plus `extra`, and `sequences`.
inline TableSet decode_tables(const Sequences& sequences = {},
                              const std::vector<Element>& extra = {}) {
  std::vector<Element> all{kBlock,       kStation, kRegion,  kName,       kTemperature, kPressure,
                           kShortFactor, kFactor,  kPresent, kHugeFactor, kNothing};
  all.push_back({31002, "EXTENDED DELAYED DESCRIPTOR REPLICATION FACTOR", 16});
  for (int i = 0; i < 10; ++i) all.push_back(series(i));
  for (int w = 0; w <= 65; ++w) all.push_back(width_element(w));
  for (int w : {0, 4, 8, 12, 16, 24, 32, 64}) all.push_back(text_element(w));
  all.insert(all.end(), extra.begin(), extra.end());
  TableMaps maps;
  for (const Element& e : all) {
    ElementDefinition definition;
    definition.code = e.code;
    definition.name = e.name;
    definition.unit = e.unit;
    definition.scale = e.scale;
    definition.reference = e.reference;
    definition.width = static_cast<std::uint16_t>(e.width);
    maps.elements.insert_or_assign(e.code, std::move(definition));
  }
  for (const auto& [code, members] : sequences) {
    maps.sequences.insert_or_assign(code, SequenceDefinition{code, members});
  }
  maps.code_tables.insert_or_assign(
      1003, CodeTable{{0, "ANTARCTICA"}, {1, "REGION I"}, {7, "MISSING VALUE"}});
  maps.code_tables.insert_or_assign(48010, CodeTable{{3, "THREE"}});
  maps.code_tables.insert_or_assign(48011, CodeTable{});
  maps.code_tables.insert_or_assign(
      kAssociated, CodeTable{{0, "NEVER"}, {1, "NEVER"}, {3, "NEVER"}, {15, "NEVER"}});
  return TableSet(std::move(maps));
}

// Sequences first, first+1, ... each holding the next; the last holds `last`.
inline Sequences chain(std::uint32_t first, std::uint32_t length, std::vector<std::uint32_t> last) {
  Sequences sequences;
  for (std::uint32_t i = 0; i + 1 < length; ++i) {
    sequences.push_back({first + i, {first + i + 1}});
  }
  sequences.push_back({first + length - 1, std::move(last)});
  return sequences;
}

// ---- Expected values as lines ------------------------------------------------------

inline std::string line(std::uint32_t descriptor, std::string_view name,
                        std::optional<std::uint64_t> raw, std::optional<double> value,
                        std::optional<std::string_view> text,
                        std::optional<std::string_view> meaning) {
  return fmt::format("{:06} {} raw={} value={} text={} meaning={}", descriptor, name,
                     raw ? fmt::format("{}", *raw) : "-", value ? fmt::format("{}", *value) : "-",
                     text ? fmt::format("'{}'", *text) : "-", meaning ? *meaning : "-");
}

inline bool can_be_missing(const Element& e) { return e.code / 1000 % 100 != 31; }

inline std::optional<double> scaled(const Element& e, std::uint64_t raw) {
  const auto sum = static_cast<long double>(e.reference) + static_cast<long double>(raw);
  return static_cast<double>(sum) / std::pow(10.0, e.scale);
}

// The value read for `raw` under the element's own width, scale and reference.
inline std::string numeric(const Element& e, std::uint64_t raw) {
  const bool missing =
      e.width < 64 && can_be_missing(e) && raw == max_value(static_cast<unsigned>(e.width));
  const auto meaning = e.code == kAssociated ? std::nullopt : meaning_of(e.code, raw);
  return line(e.code, e.name, raw, missing ? std::nullopt : scaled(e, raw), std::nullopt, meaning);
}

// One subset's value of a compressed numeric column.
inline std::string entry(const Element& e, std::uint64_t r0, std::uint64_t increment = 0,
                         unsigned nbinc = 0) {
  bool missing =
      can_be_missing(e) && e.width < 64 && r0 == max_value(static_cast<unsigned>(e.width));
  if (nbinc != 0 && can_be_missing(e) && increment == max_value(nbinc)) missing = true;
  const std::uint64_t raw = missing ? r0 : r0 + increment;
  return line(e.code, e.name, raw, missing ? std::nullopt : scaled(e, raw), std::nullopt,
              meaning_of(e.code, raw));
}

inline std::string text(const Element& e, std::optional<std::string_view> content, double ordinal) {
  return line(e.code, e.name, std::nullopt, ordinal, content, std::nullopt);
}

inline std::string marker(std::uint32_t code) {
  return line(code, kOperatorName, 0, 0.0, std::nullopt, std::nullopt);
}

inline std::string associated(std::uint64_t raw) {
  return line(kAssociated, kAssociatedFieldName, raw, static_cast<double>(raw), std::nullopt,
              std::nullopt);
}

inline std::string failure(std::string_view message) { return fmt::format("error: {}", message); }

inline std::string not_enough_bits(std::uint64_t position, unsigned width,
                                   std::uint64_t available) {
  return failure(fmt::format(
      "csv/table parse error: not enough bits while reading section 4 at bit {} for width {} "
      "({} bits available)",
      position, width, available));
}

// ---- Decoding ----------------------------------------------------------------------

// Every value in decoding order as a line, or the one failure line.
inline std::vector<std::string> decode_lines(std::span<const std::uint32_t> codes,
                                             std::span<const std::uint8_t> data,
                                             std::uint32_t subsets, bool compressed,
                                             const TableSet& tables) {
  const auto decoded = compressed ? decode_compressed(codes, subsets, tables, data)
                                  : decode_uncompressed(codes, subsets, tables, data);
  if (!decoded) return {failure(decoded.error().message())};
  std::vector<std::string> lines;
  decoded->for_each([&](const DecodedValue& v) {
    lines.push_back(line(v.descriptor, v.name, v.raw_or_none(), v.raw_value_or_none(),
                         decoded->text_of(v), v.meaning_or_none()));
  });
  return lines;
}

// Fields written most significant bit first with no alignment between them:
// Bits{}(5, 7)("ABC")(0, 1).
class Bits {
 public:
  Bits& operator()(std::uint64_t value, unsigned width) {
    writer_.write(value, width);
    return *this;
  }
  Bits& operator()(std::string_view octets) {
    writer_.write_bytes(octets);
    return *this;
  }
  // A compressed numeric column: reference value, increment width, increments.
  Bits& column(std::uint64_t r0, unsigned width, unsigned nbinc = 0,
               const std::vector<std::uint64_t>& increments = {}) {
    writer_.write(r0, width);
    writer_.write(nbinc, 6);
    for (std::uint64_t increment : increments) writer_.write(increment, nbinc);
    return *this;
  }
  std::vector<std::uint8_t> take() { return writer_.take_bytes(); }

 private:
  BitWriter writer_;
};

}  // namespace quorvel::testing
