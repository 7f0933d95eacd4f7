#include "core/tables/formats/element_table.hpp"

#include <fcntl.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/file_io.hpp"
#include "core/base/text_rules.hpp"
#include "core/tables/formats/csv_reader.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kElementFields = 8;

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Status read_element_table(const std::string& file, ElementMap& elements, bool lenient) {
  FileReader file_reader;
  const auto text = file_reader.read(AT_FDCWD, file.c_str());
  if (!text) {
    return text_read_error(text.error(), file);
  }
  CsvReader reader(as_bytes(*text), lenient ? kLenientElementTableCsv : kEccodesElementTableCsv);
  std::vector<std::string_view> fields;
  for (;;) {
    QV_ASSIGN_OR_RETURN(const bool more, reader.next(fields));
    if (!more) {
      return {};
    }
    if (fields.size() < kElementFields) {
      continue;
    }
    if (lenient) {
      // Installed local tables have numbers with white space around them.
      for (const std::size_t i : {std::size_t{0}, std::size_t{5}, std::size_t{6}, std::size_t{7}}) {
        fields[i] = trim_white_space(fields[i]);
      }
    }
    ElementDefinition element;
    QV_ASSIGN_OR_RETURN(element.code, parse_descriptor_code(fields[0]));
    QV_ASSIGN_OR_RETURN(element.scale, parse_i32_field(fields[5]));
    QV_ASSIGN_OR_RETURN(element.reference, parse_i64_field(fields[6]));
    QV_ASSIGN_OR_RETURN(element.width, parse_u16_field(fields[7]));
    element.abbreviation = fields[1];
    element.element_type = fields[2];
    element.name = fields[3];
    element.unit = fields[4];
    elements.insert_or_assign(element.code, std::move(element));
  }
}

}  // namespace quorvel
