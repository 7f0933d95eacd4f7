#include "core/base/bufr_error.hpp"

#include <fmt/format.h>

#include "core/base/file_io.hpp"
#include "core/base/lossy_utf8.hpp"
#include "core/base/quoted.hpp"

namespace quorvel {
namespace {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace

BufrError BufrError::too_short() { return BufrError(error::TooShort{}); }
BufrError BufrError::missing_marker() { return BufrError(error::MissingMarker{}); }
BufrError BufrError::unsupported_edition(std::uint8_t edition) {
  return BufrError(error::UnsupportedEdition{edition});
}
BufrError BufrError::unsupported_edition_of_two_to_four(std::uint8_t edition) {
  return BufrError(error::UnsupportedEdition{edition, true});
}
BufrError BufrError::edition_one_unsupported() { return unsupported_edition_of_two_to_four(1); }
BufrError BufrError::length_mismatch(std::size_t declared, std::size_t actual) {
  return BufrError(error::LengthMismatch{declared, actual});
}
BufrError BufrError::section_truncated(std::uint8_t section, std::size_t offset) {
  return BufrError(error::SectionTruncated{section, offset});
}
BufrError BufrError::bad_terminator() { return BufrError(error::BadTerminator{}); }
BufrError BufrError::odd_descriptor_area() { return BufrError(error::OddDescriptorArea{}); }

BufrError BufrError::missing_sequence(std::uint32_t code) {
  return BufrError(error::MissingSequence{code});
}
BufrError BufrError::missing_replication_factor(std::uint32_t code) {
  return BufrError(error::MissingReplicationFactor{code});
}
BufrError BufrError::unsupported_replication(std::uint32_t code) {
  return BufrError(error::UnsupportedReplication{code});
}
BufrError BufrError::missing_element(std::uint32_t code) {
  return BufrError(error::MissingElement{code});
}

BufrError BufrError::io(int errno_value) {
  return BufrError(error::Io{describe_os_error(errno_value)});
}
BufrError BufrError::io_invalid_utf8() {
  return BufrError(error::Io{"stream did not contain valid UTF-8"});
}

namespace {

std::string not_regular_file_text(std::string_view path) {
  return fmt::format("{} is not a regular file", to_utf8_lossy(path));
}

std::string file_too_large_text(std::string_view path, std::size_t limit) {
  return fmt::format("{} is larger than {} bytes", to_utf8_lossy(path), limit);
}

}  // namespace

BufrError BufrError::io_not_regular_file(std::string_view path) {
  return BufrError(error::Io{not_regular_file_text(path)});
}
BufrError BufrError::io_file_too_large(std::string_view path, std::size_t limit) {
  return BufrError(error::Io{file_too_large_text(path, limit)});
}
BufrError BufrError::table_file_not_regular(std::string_view path) {
  return text(not_regular_file_text(path));
}
BufrError BufrError::table_file_too_large(std::string_view path, std::size_t limit) {
  return text(file_too_large_text(path, limit));
}

BufrError BufrError::text(std::string text) { return BufrError(error::Text{std::move(text)}); }

BufrError BufrError::expansion_too_deep() {
  return text("sequence expansion exceeded recursion depth");
}
BufrError BufrError::expansion_too_large(std::uint64_t limit) {
  return text(fmt::format("sequence expansion exceeded {} descriptors", limit));
}
BufrError BufrError::decode_too_deep() {
  return text("descriptor decode exceeded recursion depth");
}
BufrError BufrError::compressed_decode_too_deep() {
  return text("compressed descriptor decode exceeded recursion depth");
}
BufrError BufrError::invalid_descriptor(std::uint32_t code) {
  return text(fmt::format("invalid descriptor {:06}", code));
}
BufrError BufrError::not_enough_bits(std::uint64_t position, std::uint64_t width,
                                     std::uint64_t available) {
  return text(fmt::format(
      "not enough bits while reading section 4 at bit {} for width {} ({} bits available)",
      position, width, available));
}
BufrError BufrError::read_too_wide(std::uint64_t width) {
  return text(fmt::format("cannot read {} bits into u64", width));
}
BufrError BufrError::bitmap_outside_history() {
  return text("bitmap reference is outside descriptor history");
}
BufrError BufrError::varying_replication_factors() {
  return text("compressed delayed replication with varying factors is not implemented");
}
BufrError BufrError::too_many_values(std::uint64_t limit) {
  return text(fmt::format("section 4 decode exceeded {} values", limit));
}
BufrError BufrError::too_many_decode_steps(std::uint64_t limit) {
  return text(fmt::format("section 4 decode exceeded {} descriptor steps", limit));
}
BufrError BufrError::interrupted() { return BufrError(error::Interrupted{}); }
BufrError BufrError::unsupported_data_operator(std::uint32_t code) {
  return text(
      fmt::format("operator {:06} changes the layout of section 4 and is not supported", code));
}
BufrError BufrError::reference_operator_too_wide(std::uint32_t code) {
  return text(fmt::format("operator {:06} sends reference values wider than 64 bits", code));
}
BufrError BufrError::scale_operator_too_large(std::uint32_t code) {
  return text(fmt::format("operator {:06} scales reference values beyond the 64-bit range", code));
}
BufrError BufrError::difference_reference_too_wide(std::uint32_t code, std::uint64_t width) {
  return text(fmt::format(
      "difference statistics on element {:06} of width {} exceed the 64-bit range", code, width));
}
BufrError BufrError::compressed_value_too_large(std::uint32_t code) {
  return text(fmt::format("compressed value of element {:06} exceeds 64 bits", code));
}

BufrError BufrError::os_failure_text(int errno_value) {
  return text(describe_os_error(errno_value));
}
BufrError BufrError::bad_sequence_entry(std::string_view entry) { return text(std::string(entry)); }
BufrError BufrError::table_alias_loop(std::string_view path, int limit) {
  return text(fmt::format("ecCodes table aliases from {} form a loop or a chain longer than {}",
                          path, limit));
}
BufrError BufrError::table_directory_missing(std::string_view path) {
  return text(fmt::format("ecCodes table directory does not exist: {}", path));
}
BufrError BufrError::csv_field_count(std::uint64_t record, std::uint64_t line, std::uint64_t byte,
                                     std::size_t found, std::size_t expected) {
  return text(fmt::format(
      "CSV error: record {} (line: {}, byte: {}): found record with {} fields, but the previous "
      "record has {} fields",
      record, line, byte, found, expected));
}
BufrError BufrError::csv_invalid_utf8(std::uint64_t record, std::uint64_t line, std::size_t field,
                                      std::uint64_t byte, std::size_t valid_up_to) {
  return text(fmt::format(
      "CSV parse error: record {} (line {}, field: {}, byte: {}): invalid utf-8: invalid UTF-8 in "
      "field {} near byte index {}",
      record, line, field, byte, field, valid_up_to));
}

std::string_view integer_fault_reason(IntegerFault fault) {
  switch (fault) {
    case IntegerFault::Empty:
      return "cannot parse integer from empty string";
    case IntegerFault::InvalidDigit:
      return "invalid digit found in string";
    case IntegerFault::TooLarge:
      return "number too large to fit in target type";
    case IntegerFault::TooSmall:
      return "number too small to fit in target type";
  }
  return "invalid digit found in string";  // unreachable: every enumerator returns above
}

BufrError BufrError::bad_descriptor_code(std::string_view raw, IntegerFault fault) {
  return text(fmt::format("bad descriptor code {}: {}", quote(raw), integer_fault_reason(fault)));
}
BufrError BufrError::bad_i32(std::string_view raw, IntegerFault fault) {
  return text(fmt::format("bad i32 {}: {}", quote(raw), integer_fault_reason(fault)));
}
BufrError BufrError::bad_i64(std::string_view raw, IntegerFault fault) {
  return text(fmt::format("bad i64 {}: {}", quote(raw), integer_fault_reason(fault)));
}
BufrError BufrError::bad_u16(std::string_view raw, IntegerFault fault) {
  return text(fmt::format("bad u16 {}: {}", quote(raw), integer_fault_reason(fault)));
}
BufrError BufrError::bad_code_table_key(std::string_view raw, IntegerFault fault) {
  return text(fmt::format("bad code table key {}: {}", quote(raw), integer_fault_reason(fault)));
}
BufrError BufrError::invalid_table_alias(std::string_view path, std::string_view alias) {
  return text(fmt::format("invalid ecCodes table alias {} -> {}", path, quote(alias)));
}
BufrError BufrError::definitions_path_unusable(std::string_view value) {
  return text(
      fmt::format("ECCODES_DEFINITION_PATH names no existing directory: {}; set it to an ecCodes "
                  "definitions directory, or unset it to use the installed one",
                  quote(value)));
}
BufrError BufrError::no_definitions_root(std::string_view system_root) {
  return text(fmt::format(
      "no ecCodes definitions found: {} is not a directory; install them (Debian: apt install "
      "libeccodes-data) or set ECCODES_DEFINITION_PATH to an ecCodes definitions directory",
      system_root));
}

std::string BufrError::message() const {
  return std::visit(
      Overloaded{
          [](const error::TooShort&) -> std::string { return "message is too short to be BUFR"; },
          [](const error::MissingMarker&) -> std::string { return "missing BUFR marker"; },
          [](const error::UnsupportedEdition& e) {
            if (!e.editions_two_to_four) {
              return fmt::format("unsupported BUFR edition {}; only edition 4 is implemented",
                                 e.edition);
            }
            if (e.edition == 1) {
              return std::string(
                  "edition 1 is not supported: its section 0 declares no total length");
            }
            return fmt::format("unsupported BUFR edition {}; editions 2, 3 and 4 are implemented",
                               e.edition);
          },
          [](const error::LengthMismatch& e) {
            return fmt::format("declared length {} does not match buffer length {}", e.declared,
                               e.actual);
          },
          [](const error::SectionTruncated& e) {
            return fmt::format("section {} at offset {} is truncated", e.section, e.offset);
          },
          [](const error::BadTerminator&) -> std::string {
            return "section 5 terminator is not 7777";
          },
          [](const error::OddDescriptorArea&) -> std::string {
            return "section 3 descriptor area has odd byte count";
          },
          [](const error::MissingSequence& e) {
            return fmt::format("descriptor {:06} was not found in Table D", e.code);
          },
          [](const error::MissingReplicationFactor& e) {
            return fmt::format(
                "delayed replication descriptor {:06} is missing its replication factor or "
                "replicated descriptors",
                e.code);
          },
          [](const error::UnsupportedReplication& e) {
            return fmt::format("unsupported replication descriptor {:06}", e.code);
          },
          [](const error::MissingElement& e) {
            return fmt::format("descriptor {:06} was not found in Table B", e.code);
          },
          [](const error::Text& e) { return fmt::format("csv/table parse error: {}", e.text); },
          [](const error::Io& e) { return fmt::format("io error: {}", e.description); },
          [](const error::Interrupted&) -> std::string { return "interrupted"; },
      },
      kind_);
}

}  // namespace quorvel
