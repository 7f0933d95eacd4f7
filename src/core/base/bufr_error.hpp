// BufrError: the one error kind of the core, one variant per failure, and
// Expected<T>, the result type every fallible core operation returns.
// Only message() renders text; every wording lives in bufr_error.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tl/expected.hpp>
#include <utility>
#include <variant>

namespace quorvel {

namespace error {
struct TooShort {};
struct MissingMarker {};
struct UnsupportedEdition {
  std::uint8_t edition;
  // Refused by the reader of editions 2 to 4 rather than the edition-4 one.
  bool editions_two_to_four = false;
};
struct LengthMismatch {
  std::size_t declared;
  std::size_t actual;
};
struct SectionTruncated {
  std::uint8_t section;
  std::size_t offset;
};
struct BadTerminator {};
struct OddDescriptorArea {};
struct MissingSequence {
  std::uint32_t code;
};
struct MissingReplicationFactor {
  std::uint32_t code;
};
struct UnsupportedReplication {
  std::uint32_t code;
};
struct MissingElement {
  std::uint32_t code;
};
// A failure with its own formatted wording, shown behind "csv/table parse error: ".
struct Text {
  std::string text;
};
// A file-system failure: the system's description, shown behind "io error: ".
struct Io {
  std::string description;
};
// The caller's Interrupt asked the work to stop.
struct Interrupted {};
}  // namespace error

// Why a table text failed the integer rule; integer_fault_reason() gives the
// wording shown after the offending text.
enum class IntegerFault { Empty, InvalidDigit, TooLarge, TooSmall };

std::string_view integer_fault_reason(IntegerFault fault);

class BufrError {
 public:
  using Variant = std::variant<error::TooShort, error::MissingMarker, error::UnsupportedEdition,
                               error::LengthMismatch, error::SectionTruncated, error::BadTerminator,
                               error::OddDescriptorArea, error::MissingSequence,
                               error::MissingReplicationFactor, error::UnsupportedReplication,
                               error::MissingElement, error::Text, error::Io, error::Interrupted>;

  // Message structure.
  static BufrError too_short();
  static BufrError missing_marker();
  static BufrError unsupported_edition(std::uint8_t edition);
  // The reader of editions 2 to 4 refusing an edition: edition 1 has its own
  // wording, since its section 0 holds no total length to skip the message by.
  static BufrError unsupported_edition_of_two_to_four(std::uint8_t edition);
  static BufrError edition_one_unsupported();
  static BufrError length_mismatch(std::size_t declared, std::size_t actual);
  static BufrError section_truncated(std::uint8_t section, std::size_t offset);
  static BufrError bad_terminator();
  static BufrError odd_descriptor_area();

  // Descriptors that the tables or the descriptor list cannot satisfy.
  static BufrError missing_sequence(std::uint32_t code);
  static BufrError missing_replication_factor(std::uint32_t code);
  static BufrError unsupported_replication(std::uint32_t code);
  static BufrError missing_element(std::uint32_t code);

  // File-system failures inside the table loaders.
  static BufrError io(int errno_value);
  static BufrError io_invalid_utf8();
  // A table file refused before or while it was read: not a regular file, or
  // holding more than `limit` bytes. `path` is shown with invalid UTF-8
  // replaced. The io_ forms are Io, the table_file_ forms Text.
  static BufrError io_not_regular_file(std::string_view path);
  static BufrError io_file_too_large(std::string_view path, std::size_t limit);
  static BufrError table_file_not_regular(std::string_view path);
  static BufrError table_file_too_large(std::string_view path, std::size_t limit);

  // Text failures of expansion and decoding.
  static BufrError expansion_too_deep();
  static BufrError expansion_too_large(std::uint64_t limit);
  static BufrError decode_too_deep();
  static BufrError compressed_decode_too_deep();
  static BufrError invalid_descriptor(std::uint32_t code);
  static BufrError not_enough_bits(std::uint64_t position, std::uint64_t width,
                                   std::uint64_t available);
  static BufrError read_too_wide(std::uint64_t width);
  static BufrError bitmap_outside_history();
  static BufrError varying_replication_factors();
  // Limits and operators the decoder refuses rather than decode wrongly.
  static BufrError too_many_values(std::uint64_t limit);
  static BufrError too_many_decode_steps(std::uint64_t limit);
  static BufrError unsupported_data_operator(std::uint32_t code);
  static BufrError scale_operator_too_large(std::uint32_t code);
  static BufrError reference_operator_too_wide(std::uint32_t code);
  static BufrError difference_reference_too_wide(std::uint32_t code, std::uint64_t width);
  static BufrError compressed_value_too_large(std::uint32_t code);
  // The work stopped because its Interrupt asked it to.
  static BufrError interrupted();

  // Text failures of the table loaders.
  static BufrError os_failure_text(int errno_value);
  static BufrError bad_sequence_entry(std::string_view entry);
  static BufrError table_directory_missing(std::string_view path);
  static BufrError csv_field_count(std::uint64_t record, std::uint64_t line, std::uint64_t byte,
                                   std::size_t found, std::size_t expected);
  static BufrError csv_invalid_utf8(std::uint64_t record, std::uint64_t line, std::size_t field,
                                    std::uint64_t byte, std::size_t valid_up_to);
  // The rejected text as read (shown in quoted form) and why the integer rule refused it.
  static BufrError bad_descriptor_code(std::string_view raw, IntegerFault fault);
  static BufrError bad_i32(std::string_view raw, IntegerFault fault);
  static BufrError bad_i64(std::string_view raw, IntegerFault fault);
  static BufrError bad_u16(std::string_view raw, IntegerFault fault);
  static BufrError bad_code_table_key(std::string_view raw, IntegerFault fault);
  // An alias file at `path` (shown as is) whose content `alias` (quoted form) is unusable.
  static BufrError table_alias_loop(std::string_view path, int limit);
  static BufrError invalid_table_alias(std::string_view path, std::string_view alias);
  static BufrError definitions_path_unusable(std::string_view value);
  static BufrError no_definitions_root(std::string_view system_root);

  const Variant& kind() const { return kind_; }
  // The message shown to users, e.g. "section 1 at offset 8 is truncated".
  std::string message() const;

 private:
  explicit BufrError(Variant kind) : kind_(std::move(kind)) {}
  static BufrError text(std::string text);

  Variant kind_;
};

// The result of a fallible core operation. Must be used: dropping one is a
// warning, and an error under -Werror.
template <class T>
class [[nodiscard]] Expected : public tl::expected<T, BufrError> {
 public:
  using tl::expected<T, BufrError>::expected;
  Expected(
      BufrError error)  // NOLINT(google-explicit-constructor): lets `return error;` read plainly
      : tl::expected<T, BufrError>(tl::unexpect, std::move(error)) {}
};

using Status = Expected<void>;

}  // namespace quorvel

#define QV_CONCAT_INNER(a, b) a##b
#define QV_CONCAT(a, b) QV_CONCAT_INNER(a, b)

// Returns the error of `expr` from the enclosing function.
#define QV_TRY(expr)                           \
  do {                                         \
    auto&& qv_try_result = (expr);             \
    if (!qv_try_result) {                      \
      return std::move(qv_try_result).error(); \
    }                                          \
  } while (false)

#define QV_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                             \
  if (!tmp) {                                    \
    return std::move(tmp).error();               \
  }                                              \
  lhs = std::move(*tmp)

// Declares or assigns `lhs` from the value of `expr`, or returns its error.
#define QV_ASSIGN_OR_RETURN(lhs, expr) \
  QV_ASSIGN_OR_RETURN_IMPL(QV_CONCAT(qv_result_, __COUNTER__), lhs, expr)
