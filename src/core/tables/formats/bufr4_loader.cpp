#include "core/tables/formats/bufr4_loader.hpp"

#include <fcntl.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/base/directory.hpp"
#include "core/base/file_io.hpp"
#include "core/base/text_rules.hpp"
#include "core/tables/formats/csv_reader.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kTableBFields = 8;
constexpr std::size_t kTableDFields = 6;

std::string element_type_of_unit(std::string_view unit) {
  if (unit == "Code table") {
    return "code";
  }
  if (unit == "Flag table") {
    return "flags";
  }
  if (unit == "CCITT IA5") {
    return "string";
  }
  return "long";
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Calls `row_handler` with the fields of every data record of `path`.
template <class RowHandler>
Status for_each_record(const std::string& path, RowHandler row_handler) {
  FileReader file_reader;
  const auto text = file_reader.read(AT_FDCWD, path.c_str());
  if (!text) {
    return text_read_error(text.error(), path);
  }
  CsvReader reader(as_bytes(*text), kBufr4Csv);
  std::vector<std::string_view> fields;
  for (;;) {
    QV_ASSIGN_OR_RETURN(const bool more, reader.next(fields));
    if (!more) {
      return {};
    }
    QV_TRY(row_handler(fields));
  }
}

Status read_table_b(const std::string& path, ElementMap& elements) {
  return for_each_record(path, [&](const std::vector<std::string_view>& fields) -> Status {
    if (fields.size() < kTableBFields) {
      return {};
    }
    ElementDefinition element;
    QV_ASSIGN_OR_RETURN(element.code, parse_descriptor_code(fields[2]));
    element.element_type = element_type_of_unit(fields[4]);
    element.name = fields[3];
    element.unit = fields[4];
    QV_ASSIGN_OR_RETURN(element.scale, parse_i32_field(fields[5]));
    QV_ASSIGN_OR_RETURN(element.reference, parse_i64_field(fields[6]));
    QV_ASSIGN_OR_RETURN(element.width, parse_u16_field(fields[7]));
    elements.insert_or_assign(element.code, std::move(element));
    return {};
  });
}

Status read_table_d(const std::string& path, SequenceMap& sequences) {
  // Members of one file gather per sequence, in record order, even when other
  // sequences' records stand between them.
  SequenceMap in_file;
  QV_TRY(for_each_record(path, [&](const std::vector<std::string_view>& fields) -> Status {
    if (fields.size() < kTableDFields) {
      return {};
    }
    QV_ASSIGN_OR_RETURN(const std::uint32_t code, parse_descriptor_code(fields[2]));
    QV_ASSIGN_OR_RETURN(const std::uint32_t member, parse_descriptor_code(fields[5]));
    SequenceDefinition& sequence = in_file[code];
    sequence.code = code;
    sequence.members.push_back(member);
    return {};
  }));
  for (auto& [code, sequence] : in_file) {
    sequences.insert_or_assign(code, std::move(sequence));
  }
  return {};
}

constexpr std::size_t kCodeFlagFields = 6;

// The meanings of "BUFRCREX_CodeFlag_en_*.csv": one per row whose code figure
// is a plain number (a code figure, or a bit number for flag tables, as the
// ecCodes code tables number them). Ranges ("8-30", reserved) and the
// all-bits-set rows of flag tables ("All 4") name no single value and are
// skipped, as are rows without any entry name.
Status read_code_flag(const std::string& path, TableMaps& maps) {
  return for_each_record(path, [&](const std::vector<std::string_view>& fields) -> Status {
    if (fields.size() < kCodeFlagFields) {
      return {};
    }
    const std::string_view figure = fields[2];
    if (figure.empty() || figure.find_first_not_of("0123456789") != std::string_view::npos) {
      return {};
    }
    std::string_view meaning = fields[3];
    for (std::size_t i = 4; meaning.empty() && i < kCodeFlagFields; ++i) {
      meaning = fields[i];
    }
    if (meaning.empty()) {
      return {};
    }
    QV_ASSIGN_OR_RETURN(const std::uint32_t code, parse_descriptor_code(fields[0]));
    QV_ASSIGN_OR_RETURN(const std::uint64_t raw, parse_code_table_key(figure));
    maps.code_tables[code].insert_or_assign(raw, maps.meanings.add(meaning));
    return {};
  });
}

Status read_tables(const std::string& directory, TableMaps& maps) {
  QV_ASSIGN_OR_RETURN(const std::vector<std::string> table_b,
                      list_directory(directory, "BUFRCREX_TableB_en_", ".csv"));
  for (const std::string& path : table_b) {
    QV_TRY(read_table_b(path, maps.elements));
  }
  QV_ASSIGN_OR_RETURN(const std::vector<std::string> table_d,
                      list_directory(directory, "BUFR_TableD_en_", ".csv"));
  for (const std::string& path : table_d) {
    QV_TRY(read_table_d(path, maps.sequences));
  }
  return {};
}

}  // namespace

Expected<TableSet> load_bufr4_tables(const std::string& directory) {
  TableMaps maps;
  QV_TRY(read_tables(directory, maps));
  return TableSet(std::move(maps));
}

Expected<TableSet> load_bufr4_tables_with_code_tables(const std::string& directory) {
  TableMaps maps;
  QV_TRY(read_tables(directory, maps));
  QV_ASSIGN_OR_RETURN(const std::vector<std::string> code_flag,
                      list_directory(directory, "BUFRCREX_CodeFlag_en_", ".csv"));
  for (const std::string& path : code_flag) {
    QV_TRY(read_code_flag(path, maps));
  }
  return TableSet(std::move(maps));
}

}  // namespace quorvel
