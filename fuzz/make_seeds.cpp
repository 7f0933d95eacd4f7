// Writes the committed seed corpora: messages and decoder inputs laid out by
// the tests' BitWriter and MessageBuilder over the fixed tables' elements,
// and small table files in each reader's format. Run from the repository as
//   build/fuzz/fuzz/make_seeds fuzz/corpus
// Each seed is a file <directory>/<target>/<name>; existing files are replaced.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/bit_writer.hpp"
#include "support/message_builder.hpp"

namespace {

namespace fs = std::filesystem;
using quorvel::testing::BitWriter;
using quorvel::testing::MessageBuilder;
using Octets = std::vector<std::uint8_t>;
using Codes = std::vector<std::uint32_t>;
using Fields = std::initializer_list<std::pair<std::uint64_t, unsigned>>;

fs::path root;

void write_seed(const std::string& target, const std::string& name, const Octets& bytes) {
  const fs::path directory = root / target;
  fs::create_directories(directory);
  std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", target.c_str(), name.c_str());
    std::exit(1);
  }
}

void write_seed(const std::string& target, const std::string& name, std::string_view text) {
  write_seed(target, name, Octets(text.begin(), text.end()));
}

// The parts joined by NUL octets, as the multi-file table targets split them.
std::string nul_joined(std::initializer_list<std::string_view> parts) {
  std::string joined;
  bool first = true;
  for (const std::string_view part : parts) {
    if (!first) {
      joined += '\0';
    }
    joined += part;
    first = false;
  }
  return joined;
}

void write_fields(BitWriter& writer, Fields fields) {
  for (const auto& [value, width] : fields) {
    writer.write(value, width);
  }
}

Octets bits(Fields fields) {
  BitWriter writer;
  write_fields(writer, fields);
  return writer.take_bytes();
}

Octets text_bits(std::string_view text) {
  BitWriter writer;
  writer.write_bytes(text);
  return writer.take_bytes();
}

Octets concat(std::initializer_list<Octets> parts) {
  Octets all;
  for (const Octets& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The decoder targets' layout: subsets, descriptor count, descriptors, data.
Octets decoder_input(std::uint16_t subsets, const Codes& codes, const Octets& data) {
  Octets input{static_cast<std::uint8_t>(subsets >> 8), static_cast<std::uint8_t>(subsets),
               static_cast<std::uint8_t>(codes.size())};
  for (const std::uint32_t code : codes) {
    const auto octets = quorvel::testing::descriptor_octets_of(code);
    input.insert(input.end(), octets.begin(), octets.end());
  }
  input.insert(input.end(), data.begin(), data.end());
  return input;
}

Octets message(const Codes& codes, const Octets& data, std::uint16_t subsets = 1,
               bool compressed = false) {
  MessageBuilder builder;
  builder.section1.master_tables_version_number = 37;
  builder.section1.typical_year = 2024;
  builder.section1.typical_month = 3;
  builder.section1.typical_day = 1;
  builder.descriptors = codes;
  builder.data = data;
  builder.number_of_subsets = subsets;
  builder.compressed = compressed;
  return builder.build();
}

// One compressed numeric column: the reference, an increment width, and one
// increment per subset.
Octets column(std::uint64_t reference, unsigned width,
              std::initializer_list<std::uint64_t> increments, unsigned increment_width) {
  BitWriter writer;
  writer.write(reference, width);
  writer.write(increment_width, 6);
  for (const std::uint64_t increment : increments) {
    writer.write(increment, increment_width);
  }
  return writer.take_bytes();
}

// The data of 302001 for one station: block and station numbers, name,
// year and month, latitude and longitude.
const Fields kStation = {{3, 7}, {772, 10}};
const Fields kDate = {{2024, 12}, {3, 4}};
const Fields kPosition = {{9000000 + 4012345, 25}, {18000000 + 861234, 26}};

void decoder_seeds() {
  // Uncompressed: the station header, then replications, operators,
  // bitmaps, wide elements and the limits.
  BitWriter station;
  write_fields(station, kStation);
  station.write_bytes(std::string_view("TEMPELHOF           "));
  write_fields(station, kDate);
  write_fields(station, kPosition);
  const Octets station_data = station.take_bytes();

  const std::vector<std::pair<std::string, std::pair<Codes, Octets>>> uncompressed = {
      {"station", {{302001}, station_data}},
      {"delayed-replication", {{303001}, bits({{3, 8}, {27315, 16}, {28000, 16}, {65535, 16}})}},
      {"extended-replication",
       {{303002}, bits({{2, 16}, {10132, 14}, {270, 9}, {10100, 14}, {90, 9}, {2, 9}})}},
      {"repetition", {{303003}, bits({{2, 8}, {5, 4}})}},
      {"associated-field", {{303004}, bits({{2, 6}, {100, 7}, {27315, 16}})}},
      {"bitmap",
       {{305001},
        bits({{27315, 16}, {10132, 14}, {0, 1}, {1, 1}, {3, 7}, {50, 7}, {60, 7}, {70, 7}})}},
      {"back-reference", {{306001}, bits({{0, 1}, {1, 1}, {0, 1}, {0, 1}})}},
      // A bitmap over the two values before it, then their differences.
      {"difference-back-reference",
       {{12101, 7004, 225000, 236000, 101002, 31031, 225255, 225255},
        bits({{27315, 16}, {10132, 14}, {0, 1}, {0, 1}, {5, 17}, {3, 15}})}},
      {"operators",
       {{201130, 202129, 12101, 201000, 202000, 207002, 12101, 207000, 208003, 1015, 208000, 206012,
         8001},
        bits({{12345, 18}, {12345, 16 + 7}, {0x414243, 24}, {7, 12}})}},
      {"wide-elements", {{8001, 8002, 8003, 10004}, bits({{1, 63}, {~0ULL, 64}, {5, 32}})}},
      {"code-and-flag-tables",
       {{2001, 2002, 20003, 31031}, bits({{1, 2}, {4, 4}, {2, 9}, {0, 1}})}},
      {"scales", {{22001, 22002, 203000, 203255}, bits({{200, 8}, {4000, 12}})}},
      {"two-subsets",
       {{301001, 1015},
        concat({bits({{3, 7}, {772, 10}}), text_bits("A"), bits({{4, 7}, {100, 10}})})}},
      {"self-reference", {{309001}, {}}},
      {"deep-replication", {{309002}, {}}},
      {"huge-factor", {{101000, 31090, 8003}, bits({{1000000, 20}})}},
      {"unknown-element", {{1099}, bits({{1, 8}})}},
  };
  for (const auto& [name, input] : uncompressed) {
    const std::uint16_t subsets = name == "two-subsets" ? 2 : 1;
    write_seed("decode_uncompressed", name, decoder_input(subsets, input.first, input.second));
    write_seed("decode_message", "uncompressed-" + name,
               message(input.first, input.second, subsets));
  }

  // Compressed: three subsets, columns with and without increments, texts.
  const std::vector<std::pair<std::string, std::pair<Codes, Octets>>> compressed = {
      {"numeric-columns",
       {{301001, 12101},
        concat({column(3, 7, {}, 0), column(700, 10, {1, 2, 3}, 4),
                column(27000, 16, {0, 31, 63}, 6)})}},
      {"text-column", {{1015}, concat({text_bits("STATION ONE         "), bits({{0, 6}})})}},
      {"text-increments",
       {{208001, 1015, 208000}, concat({text_bits("A"), bits({{1, 6}}), text_bits("XYZ")})}},
      {"replication",
       {{303001},
        concat({column(2, 8, {}, 0), column(27315, 16, {1, 2, 3}, 2), column(28000, 16, {}, 0)})}},
      {"varying-factors", {{303001}, column(2, 8, {0, 1, 0}, 1)}},
      {"bitmap-markers",
       {{222000, 236000, 101002, 31031, 237000, 235000},
        concat({column(0, 1, {}, 0), column(1, 1, {}, 0)})}},
      {"missing-values",
       {{12101, 1001}, concat({column(65535, 16, {}, 0), column(1, 7, {0, 127, 1}, 7)})}},
      {"difference-back-reference",
       {{12101, 7004, 225000, 236000, 101002, 31031, 225255, 225255},
        concat({column(27315, 16, {}, 0), column(10132, 14, {}, 0), column(0, 1, {}, 0),
                column(0, 1, {}, 0), column(5, 17, {0, 1, 2}, 2), column(3, 15, {}, 0)})}},
      // The largest 64-bit reference plus an increment leaves the range.
      {"increment-overflow", {{8002}, column(~0ULL - 1, 64, {0, 1, 2}, 2)}},
  };
  for (const auto& [name, input] : compressed) {
    write_seed("decode_compressed", name, decoder_input(3, input.first, input.second));
    write_seed("decode_message", "compressed-" + name, message(input.first, input.second, 3, true));
  }
  write_seed("decode_compressed", "no-subsets",
             decoder_input(0, {303001, 222000}, bits({{2, 8}, {0, 6}})));

  // Work and memory the walk must keep in proportion to the values: a bitmap
  // of absent entries started over before each of many back-references, and
  // zero-width values under nested replication. Sized for the targets'
  // smaller value bound.
  constexpr std::uint64_t kAbsent = 32000;
  constexpr std::uint64_t kReuses = 33000;
  const Codes reuse_codes{236000, 101000, 31090, 31031, 102000, 31090, 237000, 223255};
  for (const bool columns : {false, true}) {
    BitWriter writer;
    const auto field = [&](std::uint64_t value, unsigned width) {
      writer.write(value, width);
      if (columns) {
        writer.write(0, 6);
      }
    };
    field(kAbsent, 20);
    for (std::uint64_t k = 0; k < kAbsent; ++k) {
      field(1, 1);
    }
    field(kReuses, 20);
    const Octets data = writer.take_bytes();
    const std::string layout = columns ? "compressed" : "uncompressed";
    write_seed("decode_" + layout, "bitmap-reused", decoder_input(1, reuse_codes, data));
    write_seed("decode_message", layout + "-bitmap-reused", message(reuse_codes, data, 1, columns));
  }
  const Codes zero_width{201001, 104255, 103255, 102255, 101255, 1001};
  write_seed("decode_uncompressed", "zero-width-values", decoder_input(1, zero_width, {}));
  write_seed("decode_message", "uncompressed-zero-width-values", message(zero_width, {}));
  write_seed("decode_compressed", "history-without-subsets",
             decoder_input(0, {103255, 102255, 101255, 8003}, Octets(4096, 0)));
}

void message_seeds() {
  const Octets plain = message({301001}, bits(kStation));
  write_seed("parse", "plain", plain);

  MessageBuilder with_section2;
  with_section2.section2 = Octets{1, 2, 3, 4, 5};
  with_section2.section1.local_use = {9, 9};
  with_section2.descriptors = {307080, 1015};
  with_section2.descriptor_octets = Octets{0xC7, 0x50, 0x01, 0x0F, 0x00};  // odd: padded
  write_seed("parse", "section2-odd-descriptors", with_section2.build());

  const Octets heading = text_bits("\x01\r\r\n123\r\r\nISMD01 OKPR 010000\r\r\n");
  const Octets trailer = text_bits("\r\r\n\x03");
  write_seed("parse", "two-in-bulletins",
             concat({heading, plain, trailer, heading, message({1015}, text_bits("X"), 3, true),
                     trailer}));
  write_seed(
      "decode_message", "two-in-bulletins",
      concat({heading, plain, trailer, heading, message({1002}, bits({{772, 10}})), trailer}));

  MessageBuilder broken;
  broken.descriptors = {1001};
  broken.data = bits({{1, 7}});
  broken.overrides.terminator = std::array<std::uint8_t, 4>{'7', '7', '7', '6'};
  write_seed("parse", "bad-terminator", broken.build());

  Octets truncated = plain;
  truncated.resize(truncated.size() - 6);
  write_seed("parse", "truncated", truncated);

  MessageBuilder edition3;
  edition3.overrides.edition = 3;
  write_seed("parse", "edition3", edition3.build());

  // The same station in editions 2 and 3, one with a section 2, and the
  // header of an edition-1 message.
  write_seed("parse_any_edition", "edition4", plain);
  for (const std::uint8_t edition : {std::uint8_t{2}, std::uint8_t{3}}) {
    MessageBuilder older;
    older.edition = edition;
    older.section1.originating_centre = 98;
    older.section1.master_tables_version_number = 13;
    older.section1.typical_year = 99;
    older.descriptors = {301001};
    older.data = bits(kStation);
    if (edition == 3) {
      older.section2 = Octets{1, 2, 3};
    }
    const Octets bytes = older.build();
    write_seed("parse_any_edition", "edition" + std::to_string(edition), bytes);
    write_seed("decode_message", "edition" + std::to_string(edition), bytes);
  }
  MessageBuilder edition1;
  edition1.overrides.edition = 1;
  write_seed("parse_any_edition", "edition1", edition1.build());

  MessageBuilder section4_short;
  section4_short.section4_octets = Octets{0, 0, 2};
  write_seed("parse", "short-section4", section4_short.build());
}

void bit_reader_seeds() {
  // Data length, data, then (op, argument) pairs: widths 1, 7, 8, 63, 64,
  // 65 and byte reads of 3, 16 and 70 bits.
  Octets data;
  for (int i = 0; i < 40; ++i) {
    data.push_back(static_cast<std::uint8_t>(0x5A ^ (i * 37)));
  }
  Octets seed{0, static_cast<std::uint8_t>(data.size())};
  seed.insert(seed.end(), data.begin(), data.end());
  for (const auto& op : std::initializer_list<std::pair<std::uint8_t, std::uint8_t>>{{0, 1},
                                                                                     {0, 7},
                                                                                     {0x80, 3},
                                                                                     {0, 8},
                                                                                     {0, 63},
                                                                                     {0x80, 16},
                                                                                     {0, 64},
                                                                                     {0, 65},
                                                                                     {0x80, 70},
                                                                                     {0, 0},
                                                                                     {0, 33},
                                                                                     {0, 64},
                                                                                     {0, 64}}) {
    seed.push_back(op.first);
    seed.push_back(op.second);
  }
  write_seed("bit_reader", "mixed-reads", seed);
  write_seed("bit_reader", "empty-data", Octets{0, 0, 0, 1, 0x80, 8, 0, 0});
  write_seed("bit_reader", "tail-reads",
             Octets{0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 5, 0, 64, 0, 3, 0, 8, 0x80, 1});
}

void table_seeds() {
  write_seed("element_table", "rows",
             "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|"
             "crex_width\n"
             "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
             "001015|stationOrSiteName|string|STATION OR SITE NAME|CCITT IA5|0|0|160|Character|"
             "0|20\r\n"
             "005001|latitude|double|LATITUDE|deg|5|-9000000|25|deg|5|7\r"
             "012101|\"quoted|name\"|double|\"TEMPERATURE \"\"AIR\"\"\"|K|2|-27315|16|C|2|4\n"
             "short|row\n"
             "\n"
             "020003|presentWeather|table|PRESENT WEATHER|CODE TABLE|+0|0|9|CODE TABLE|0|3");
  write_seed("element_table", "bad-width",
             "\xEF\xBB\xBF"
             "001001|a|long|N|Numeric|0|0|70000|Numeric|0|2\n");
  write_seed("element_table", "bad-utf8", "001001|a|long|N\xC3|Numeric|0|0|7|Numeric|0|2\n");

  write_seed("sequence_def", "entries",
             "\"301001\" = [  001001, 001002 ]\n"
             "\"303002\" = [  102000, 031002, 007004, 011001,\n"
             "               020003 ]\n"
             "# a comment\n"
             "   \"309001\" = [309001]\n"
             "\"300000\" = [ ]\n");
  write_seed("sequence_def", "unterminated", "\"301001\" = [  001001,\n 001002\n");
  write_seed("sequence_def", "bad-member", "\"301001\" = [  001001, 0x1002 ]\n");

  write_seed("code_tables", "tables",
             nul_joined({"20003\n0 0 CLOUD DEVELOPMENT NOT OBSERVED\n1 1 CLOUDS  DISSOLVING\n"
                         "511 511 MISSING\n",
                         "2002\n1 1 CERTIFIED\n# comment\n2 2 REPAIRED\r\n4 4\n",
                         "020003\n7 7 LATER FILE WINS\n"}));
  write_seed("code_tables", "bad-key", nul_joined({"1001\nx 0 BAD KEY\n", "not-a-code\n"}));

  write_seed("bufr4_csv", "tables",
             nul_joined({"ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,"
                         "BUFR_ReferenceValue,BUFR_DataWidth_Bits,CREX_Unit,CREX_Scale,"
                         "CREX_DataWidth_Char,Note_en,noteIDs,Status\n"
                         "01,Identification,001001,WMO block number,Numeric,0,0,7,Numeric,0,2,,,"
                         "Operational\n"
                         "01,Identification,001015,\"Station, or site name\",CCITT IA5,0,0,160,"
                         "Character,0,20,\"Note \"\"quoted\"\"\",,Operational\r\n",
                         "Category,CategoryOfSequences_en,FXY1,Title_en,SubTitle_en,FXY2,"
                         "ElementName_en,ElementDescription_en,Note_en,noteIDs,Status\n"
                         "01,Location,301001,\"(WMO block and station numbers)\",,001001,"
                         "WMO block number,,,,Operational\n"
                         "01,Location,301001,\"(WMO block and station numbers)\",,001002,"
                         "WMO station number,,,,Operational\n"}));
  write_seed("bufr4_csv", "field-count", "ClassNo,FXY\n01,001001,extra\n");

  // Expansion: sequence count, sequences, then descriptors.
  const auto code = [](std::uint32_t c) { return quorvel::testing::descriptor_octets_of(c); };
  Octets expansion{3};
  for (const auto& [sequence, members] : std::initializer_list<std::pair<std::uint32_t, Codes>>{
           {301001, {1001, 1002}},
           {301002, {102003, 301001, 12101, 101000, 31001, 301001}},
           {301003, {301003}}}) {
    const auto octets = code(sequence);
    expansion.insert(expansion.end(), octets.begin(), octets.end());
    expansion.push_back(static_cast<std::uint8_t>(members.size()));
    for (const std::uint32_t member : members) {
      const auto m = code(member);
      expansion.insert(expansion.end(), m.begin(), m.end());
    }
  }
  for (const std::uint32_t top :
       {301002u, 204007u, 31021u, 12101u, 204000u, 207002u, 12101u, 207000u, 301011u, 307080u}) {
    const auto octets = code(top);
    expansion.insert(expansion.end(), octets.begin(), octets.end());
  }
  write_seed("expansion", "sequences", expansion);
  Octets recursive{1, 0xC1, 0x03, 1, 0xC1, 0x03, 0xC1, 0x03};
  write_seed("expansion", "self-reference", recursive);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_DIRECTORY\n");
    return 2;
  }
  root = argv[1];
  decoder_seeds();
  message_seeds();
  bit_reader_seeds();
  table_seeds();
  return 0;
}
