// Table loading speed: the ecCodes directory of WMO master version 37 and the
// WMO BUFR4 CSV tables, each beside a baseline that only lists and reads the
// same files, so the cost of parsing shows as the difference of the two.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/base/directory.hpp"
#include "core/base/file_io.hpp"
#include "core/tables/formats/bufr4_loader.hpp"
#include "core/tables/formats/table_directory.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {
namespace {

const std::string kEccodesVersion37 = "/usr/share/eccodes/definitions/bufr/tables/0/wmo/37";
const std::string kBufr4Csv = std::string(QV_SHARED_DATA_DIR) + "/wmo-bufr4-csv";

// The files a loader reads, listed as the loaders list them.
bool eccodes_files(const std::string& directory, std::vector<std::string>& files) {
  files = {join_path(directory, "element.table"), join_path(directory, "sequence.def")};
  const auto code_tables = list_directory(join_path(directory, "codetables"), "", ".table");
  if (!code_tables) {
    return false;
  }
  files.insert(files.end(), code_tables->begin(), code_tables->end());
  return true;
}

bool bufr4_files(const std::string& directory, std::vector<std::string>& files) {
  const auto table_b = list_directory(directory, "BUFRCREX_TableB_en_", ".csv");
  const auto table_d = list_directory(directory, "BUFR_TableD_en_", ".csv");
  if (!table_b || !table_d) {
    return false;
  }
  files = *table_b;
  files.insert(files.end(), table_d->begin(), table_d->end());
  return true;
}

// Total size of `files`, or nothing when one cannot be read.
bool total_size(const std::vector<std::string>& files, std::int64_t& bytes) {
  bytes = 0;
  for (const std::string& file : files) {
    const auto content = read_whole_file(file);
    if (!content) {
      return false;
    }
    bytes += static_cast<std::int64_t>(content->size());
  }
  return true;
}

using FileLister = bool (*)(const std::string&, std::vector<std::string>&);

// Lists the files again on every iteration, as the loaders do, and reads each
// one whole.
void read_files_only(benchmark::State& state, const std::string& directory, FileLister list) {
  std::vector<std::string> files;
  std::int64_t bytes = 0;
  if (!list(directory, files) || !total_size(files, bytes)) {
    state.SkipWithError(("tables not found: " + directory).c_str());
    return;
  }
  for (auto _ : state) {
    if (!list(directory, files)) {
      state.SkipWithError("listing failed");
      break;
    }
    for (const std::string& file : files) {
      auto content = read_whole_file(file);
      benchmark::DoNotOptimize(content);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
  state.counters["files"] = static_cast<double>(files.size());
}

template <auto Load>
void load_tables(benchmark::State& state, const std::string& directory, FileLister list) {
  std::vector<std::string> files;
  std::int64_t bytes = 0;
  if (!list(directory, files) || !total_size(files, bytes)) {
    state.SkipWithError(("tables not found: " + directory).c_str());
    return;
  }
  std::size_t entries = 0;
  for (auto _ : state) {
    auto tables = Load(directory);
    if (!tables) {
      state.SkipWithError(tables.error().message().c_str());
      break;
    }
    entries = tables->element_count() + tables->sequence_count();
    benchmark::DoNotOptimize(tables);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
  state.counters["files"] = static_cast<double>(files.size());
  state.counters["entries"] = static_cast<double>(entries);
}

void BM_LoadTableDirectory(benchmark::State& state) {
  load_tables<load_table_directory>(state, kEccodesVersion37, eccodes_files);
}

void BM_ReadTableDirectoryFiles(benchmark::State& state) {
  read_files_only(state, kEccodesVersion37, eccodes_files);
}

void BM_LoadBufr4Tables(benchmark::State& state) {
  load_tables<load_bufr4_tables>(state, kBufr4Csv, bufr4_files);
}

void BM_ReadBufr4Files(benchmark::State& state) { read_files_only(state, kBufr4Csv, bufr4_files); }

// Medians over repetitions: file-system timings have a long upper tail.
constexpr int kRepetitions = 9;

BENCHMARK(BM_LoadTableDirectory)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadTableDirectoryFiles)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadBufr4Tables)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadBufr4Files)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
