// CsvReader: reads delimited text records from a whole file already in
// memory. It borrows the content, which must outlive the reader; the fields it
// hands out stay valid until the next call to next() or the reader's end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"

namespace quorvel {

struct CsvSettings {
  char delimiter = ',';
  // The first record is a header: it fixes the field count and is skipped.
  bool skip_header_record = false;
  // A record starting with this byte is a comment, skipped up to and
  // including the next LF.
  std::optional<char> comment;
  // Every record must have as many fields as the first; when false, records
  // may have any count.
  bool same_field_count = true;
};

// ecCodes element.table: '|'-separated, '#' comments, no header record.
inline constexpr CsvSettings kEccodesElementTableCsv{'|', false, '#'};
// The same, with rows of any field count, as local tables of installed
// definitions have (rows with and without the CREX columns).
inline constexpr CsvSettings kLenientElementTableCsv{'|', false, '#', false};
// WMO BUFR4 tables: ','-separated, a header record, '#' is data.
inline constexpr CsvSettings kBufr4Csv{',', true, std::nullopt};

// Record rules:
// - A UTF-8 byte-order mark at the very start is skipped.
// - Records end at LF, CR or CR LF; runs of line ends (blank lines) give no
//   record; a last line without a line end is a record.
// - With a comment byte, a record that starts with it is skipped up to and
//   including the next LF; elsewhere the byte is data.
// - A field starting with '"' is quoted: the delimiter, CR and LF inside it
//   are data and "" stands for one '"'; a single '"' closes the quoted part,
//   and what follows up to the next delimiter or line end is appended
//   unchanged. A '"' in a field that did not start with one is data. The end
//   of the content inside a quoted field ends the field and the record.
// - Fields are not trimmed.
// - Every record must have as many fields as the first record (the header
//   when there is one): csv_field_count. Every field of a data record must be
//   valid UTF-8: csv_invalid_utf8; the header is not checked. A record with
//   both faults reports its field count.
//
// In errors, the record index counts data records from 0 (the header is not
// one); the line (from 1) and the byte offset (from 0, the byte-order mark
// included) are where the record began. Lines end at LF, CR or CR LF wherever
// they stand, inside quoted fields and comments too. The UTF-8 error's last
// number is the offset within the field's text (quotes resolved) where valid
// UTF-8 ends.
class CsvReader {
 public:
  CsvReader(std::span<const std::uint8_t> content, CsvSettings settings);

  // Fills `fields` with the next data record and returns true, or returns
  // false at the end of the content. After an error the reader has moved past
  // the failing record; callers stop there.
  Expected<bool> next(std::vector<std::string_view>& fields);

 private:
  // A field is either a slice of the content or, when quotes had to be
  // resolved, a slice of owned_.
  struct FieldSlice {
    std::size_t offset;
    std::size_t size;
    bool owned;
  };

  bool at_line_end(std::size_t pos) const;
  void skip_to_record_start();
  void read_record();
  void read_quoted_field();
  std::size_t find_field_end(std::size_t pos) const;
  std::uint64_t line_at(std::size_t offset) const;

  std::string_view content_;
  CsvSettings settings_;
  // Bytes that end an unquoted field: the delimiter, CR and LF.
  std::array<bool, 256> ends_field_{};
  // Where valid UTF-8 ends in the whole content. A record that lies before it
  // needs no check of its own: its fields are its bytes less some ASCII quotes
  // and delimiters, and dropping ASCII bytes keeps UTF-8 valid.
  std::size_t valid_utf8_end_ = 0;
  std::size_t pos_ = 0;
  std::size_t expected_fields_ = 0;
  bool seen_first_record_ = false;
  std::uint64_t data_records_ = 0;
  std::vector<FieldSlice> slices_;
  std::string owned_;
};

}  // namespace quorvel
