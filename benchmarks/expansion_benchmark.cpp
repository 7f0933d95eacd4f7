// Table D expansion speed over the ecCodes tables of WMO master version 37:
// every sequence expanded on its own, reported as output codes per second,
// and the time to refuse a list of nested replications at the size bound.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/tables/expansion.hpp"
#include "core/tables/formats/table_directory.hpp"
#include "core/tables/table_set.hpp"

namespace quorvel {
namespace {

const std::string kEccodesVersion37 = "/usr/share/eccodes/definitions/bufr/tables/0/wmo/37";

// The tables of version 37 and the codes of all their sequences, loaded once.
struct Version37 {
  bool loaded = false;
  TableSet tables;
  std::vector<std::uint32_t> sequence_codes;
};

const Version37& version37() {
  static const Version37 loaded = [] {
    Version37 result;
    TableMaps maps;
    if (!read_table_directory(kEccodesVersion37, maps)) {
      return result;
    }
    for (const auto& entry : maps.sequences) {
      result.sequence_codes.push_back(entry.first);
    }
    result.tables = TableSet(std::move(maps));
    result.loaded = true;
    return result;
  }();
  return loaded;
}

void BM_ExpandEverySequence(benchmark::State& state) {
  const Version37& tables = version37();
  if (!tables.loaded) {
    state.SkipWithError("ecCodes tables of version 37 are not installed");
    return;
  }
  std::int64_t codes = 0;
  for (auto _ : state) {
    for (const std::uint32_t code : tables.sequence_codes) {
      auto expanded = expand_descriptors(tables.tables, std::span<const std::uint32_t>(&code, 1));
      if (!expanded) {
        state.SkipWithError("a sequence of version 37 failed to expand");
        return;
      }
      codes += static_cast<std::int64_t>(expanded->size());
      benchmark::DoNotOptimize(expanded->data());
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(tables.sequence_codes.size()));
  state.counters["codes/s"] =
      benchmark::Counter(static_cast<double>(codes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExpandEverySequence)->Unit(benchmark::kMillisecond);

// Ten fixed replications of 255, each replicating the rest, around an
// operator that appends nothing: refused once the size bound is reached.
void BM_RefuseNestedReplications(benchmark::State& state) {
  const TableSet tables;
  const std::vector<std::uint32_t> input{110255, 109255, 108255, 107255, 106255, 105255,
                                         104255, 103255, 102255, 101255, 201000};
  for (auto _ : state) {
    auto expanded = expand_descriptors(tables, input);
    if (expanded) {
      state.SkipWithError("nested replications were not refused");
      return;
    }
    benchmark::DoNotOptimize(expanded);
  }
  state.counters["descriptors/s"] = benchmark::Counter(
      static_cast<double>(kMaxExpansionSteps) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RefuseNestedReplications)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
