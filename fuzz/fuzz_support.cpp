#include "fuzz_support.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "core/tables/formats/table_directory.hpp"

namespace quorvel::fuzz {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz support: %s\n", what.c_str());
  std::abort();
}

std::string scratch_parent() {
  // TMPDIR first (scripts/fuzz.sh points it into the run's own directory),
  // then /dev/shm, which keeps the many small writes in memory.
  for (const char* candidate :
       {static_cast<const char*>(std::getenv("TMPDIR")), "/dev/shm", "/tmp"}) {
    std::error_code error;
    if (candidate != nullptr && fs::is_directory(candidate, error)) {
      return candidate;
    }
  }
  fail("no directory for scratch files");
}

// Numeric, text, code and flag table elements, replication factors, the
// widths 0, 1, 63 and 64, and extreme scales and references.
constexpr std::string_view kElementTable =
    "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n"
    "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
    "001002|stationNumber|long|WMO STATION NUMBER|Numeric|0|0|10|Numeric|0|3\n"
    "001015|stationOrSiteName|string|STATION OR SITE NAME|CCITT IA5|0|0|160|Character|0|20\n"
    "001019|longStationName|string|LONG STATION NAME|CCITT IA5|0|0|256|Character|0|32\n"
    "002001|typeOfStation|table|TYPE OF STATION|CODE TABLE|0|0|2|CODE TABLE|0|1\n"
    "002002|typeOfInstrument|flag|TYPE OF INSTRUMENTATION|FLAG TABLE|0|0|4|FLAG TABLE|0|2\n"
    "004001|year|long|YEAR|a|0|0|12|a|0|4\n"
    "004002|month|long|MONTH|mon|0|0|4|mon|0|2\n"
    "005001|latitude|double|LATITUDE (HIGH ACCURACY)|deg|5|-9000000|25|deg|5|7\n"
    "006001|longitude|double|LONGITUDE (HIGH ACCURACY)|deg|5|-18000000|26|deg|5|8\n"
    "007004|pressure|long|PRESSURE|Pa|-1|0|14|Pa|-1|5\n"
    "008001|wide63|long|SIXTY-THREE BITS|Numeric|0|0|63|Numeric|0|19\n"
    "008002|wide64|long|SIXTY-FOUR BITS|Numeric|0|0|64|Numeric|0|20\n"
    "008003|emptyElement|long|NO BITS|Numeric|0|0|0|Numeric|0|0\n"
    "010004|lowReference|long|LOWEST REFERENCE|Pa|0|-9223372036854775808|32|Pa|0|10\n"
    "011001|windDirection|long|WIND DIRECTION|deg|0|0|9|deg|0|3\n"
    "012101|airTemperature|double|TEMPERATURE/AIR TEMPERATURE|K|2|-27315|16|C|2|4\n"
    "020003|presentWeather|table|PRESENT WEATHER|CODE TABLE|0|0|9|CODE TABLE|0|3\n"
    "022001|tinyScale|double|LARGE NEGATIVE SCALE|m|-127|0|8|m|0|3\n"
    "022002|hugeScale|double|LARGE SCALE|m|127|2147483647|12|m|0|4\n"
    "031000|shortDelayedDescriptorReplicationFactor|long|SHORT DELAYED REPLICATION FACTOR|"
    "Numeric|0|0|1|Numeric|0|1\n"
    "031001|delayedDescriptorReplicationFactor|long|DELAYED REPLICATION FACTOR|Numeric|0|0|8|"
    "Numeric|0|3\n"
    "031002|extendedDelayedDescriptorReplicationFactor|long|EXTENDED DELAYED REPLICATION "
    "FACTOR|Numeric|0|0|16|Numeric|0|5\n"
    "031011|delayedDescriptorAndDataRepetitionFactor|long|DELAYED REPETITION FACTOR|Numeric|0|"
    "0|8|Numeric|0|3\n"
    "031012|extendedDelayedDescriptorAndDataRepetitionFactor|long|EXTENDED DELAYED REPETITION "
    "FACTOR|Numeric|0|0|16|Numeric|0|5\n"
    "031021|associatedFieldSignificance|table|ASSOCIATED FIELD SIGNIFICANCE|CODE TABLE|0|0|6|"
    "CODE TABLE|0|2\n"
    "031031|dataPresentIndicator|flag|DATA PRESENT INDICATOR|FLAG TABLE|0|0|1|FLAG TABLE|0|1\n"
    "031090|wideFactor|long|WIDE REPLICATION FACTOR|Numeric|0|0|20|Numeric|0|7\n"
    "033007|percentConfidence|long|% CONFIDENCE|%|0|0|7|%|0|3\n";

// Plain, nested, replicated and self-referring sequences, and one with a
// bitmap and quality information after it.
constexpr std::string_view kSequenceDef =
    "\"301001\" = [  001001, 001002 ]\n"
    "\"301011\" = [  004001, 004002 ]\n"
    "\"301021\" = [  005001, 006001 ]\n"
    "\"302001\" = [  301001, 001015, 301011, 301021 ]\n"
    "\"303001\" = [  101000, 031001, 012101 ]\n"
    "\"303002\" = [  102000, 031002, 007004, 011001,\n"
    "               020003 ]\n"
    "\"303003\" = [  101000, 031011, 002002 ]\n"
    "\"303004\" = [  204007, 031021, 012101, 204000 ]\n"
    "\"304001\" = [  302001, 303001, 303002 ]\n"
    "\"305001\" = [  012101, 007004, 222000, 236000, 101002, 031031, 001001, 033007, 033007,\n"
    "               237000, 033007, 235000 ]\n"
    "\"306001\" = [  225000, 236000, 101002, 031031, 225255, 225255 ]\n"
    "\"309001\" = [  309001 ]\n"
    "\"309002\" = [  109255, 309002, 001001, 001001, 001001, 001001, 001001, 001001, 001001,\n"
    "               001001 ]\n";

constexpr std::string_view kPresentWeather =
    "0 0 CLOUD DEVELOPMENT NOT OBSERVED\n"
    "1 1 CLOUDS GENERALLY DISSOLVING\n"
    "2 2 STATE OF SKY UNCHANGED\n"
    "511 511 MISSING VALUE\n";
constexpr std::string_view kTypeOfStation =
    "0 0 AUTOMATIC STATION\n"
    "1 1 MANNED STATION\n"
    "2 2 HYBRID\n";
constexpr std::string_view kTypeOfInstrument =
    "1 1 CERTIFIED INSTRUMENTS\n"
    "2 2 REPAIRED INSTRUMENTS\n"
    "4 4 SPARE\n";
constexpr std::string_view kDataPresent = "0 0 DATA PRESENT\n";

TableSet load_fixed_tables() {
  const ScratchDirectory& scratch = ScratchDirectory::get();
  const std::string root = scratch.make_subdirectory("fixed-tables");
  scratch.write("fixed-tables/element.table", kElementTable);
  scratch.write("fixed-tables/sequence.def", kSequenceDef);
  scratch.make_subdirectory("fixed-tables/codetables");
  scratch.write("fixed-tables/codetables/20003.table", kPresentWeather);
  scratch.write("fixed-tables/codetables/2001.table", kTypeOfStation);
  scratch.write("fixed-tables/codetables/2002.table", kTypeOfInstrument);
  scratch.write("fixed-tables/codetables/31031.table", kDataPresent);
  auto tables = load_table_directory(root);
  if (!tables) {
    fail("the fixed tables do not load: " + tables.error().message());
  }
  scratch.remove("fixed-tables");
  return std::move(*tables);
}

}  // namespace

ScratchDirectory& ScratchDirectory::get() {
  static ScratchDirectory directory;
  return directory;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = scratch_parent() + "/quorvel-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    fail("cannot make a scratch directory under " + scratch_parent());
  }
  path_ = pattern;
  // Runs when libFuzzer exits at the end of a run, possibly after this
  // object is gone: the path it removes is a copy that is never freed.
  static const std::string* const to_remove = new std::string(path_);
  std::atexit([] {
    std::error_code error;
    fs::remove_all(*to_remove, error);
  });
}

std::string ScratchDirectory::join(std::string_view name) const {
  std::string path = path_;
  path += '/';
  path += name;
  return path;
}

std::string ScratchDirectory::write(std::string_view name, Bytes bytes) const {
  std::string path = join(name);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    fail("cannot write " + path);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) {
      fail("cannot write " + path);
    }
    done += static_cast<std::size_t>(written);
  }
  ::close(fd);
  return path;
}

std::string ScratchDirectory::write(std::string_view name, std::string_view text) const {
  return write(name, Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string ScratchDirectory::make_subdirectory(std::string_view name) const {
  std::string path = join(name);
  std::error_code error;
  fs::remove_all(path, error);
  if (!fs::create_directories(path, error)) {
    fail("cannot make " + path);
  }
  return path;
}

void ScratchDirectory::remove(std::string_view name) const {
  std::error_code error;
  fs::remove_all(join(name), error);
}

std::vector<Bytes> split_at_nul(Bytes input, std::size_t max_parts) {
  std::vector<Bytes> parts;
  while (parts.size() + 1 < max_parts) {
    std::size_t end = 0;
    while (end < input.size() && input[end] != 0) {
      ++end;
    }
    if (end == input.size()) {
      break;
    }
    parts.push_back(input.first(end));
    input = input.subspan(end + 1);
  }
  parts.push_back(input);
  return parts;
}

const TableSet& fixed_tables() {
  static const TableSet tables = load_fixed_tables();
  return tables;
}

const TableSet* real_tables() {
  static const std::optional<TableSet> tables = []() -> std::optional<TableSet> {
    const std::string directory = "/usr/share/eccodes/definitions/bufr/tables/0/wmo/37";
    std::error_code error;
    if (!fs::is_directory(directory, error)) {
      std::fprintf(stderr, "fuzz support: %s not found; decoding against the fixed tables only\n",
                   directory.c_str());
      return std::nullopt;
    }
    auto loaded = load_table_directory(directory);
    if (!loaded) {
      fail("the version 37 tables do not load: " + loaded.error().message());
    }
    return std::move(*loaded);
  }();
  return tables ? &*tables : nullptr;
}

void consume(const DecodedValues& values) {
  std::uint64_t sum = 0;
  std::size_t count = 0;
  values.for_each([&](const DecodedValue& value) {
    sum += value.descriptor + value.name.size();
    if (value.has_meaning) {
      sum += value.meaning.size();
    }
    if (const auto text = values.text_of(value)) {
      sum += text->size();
    }
    ++count;
  });
  if (count != values.size()) {
    fail("values visited and values stored differ");
  }
  // Keeps the loads above from being optimised away.
  volatile std::uint64_t sink = sum;
  (void)sink;
}

}  // namespace quorvel::fuzz
