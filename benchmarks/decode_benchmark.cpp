// Section-4 decoding speed of the core, without Python objects, on real
// messages from the shared data (skipped when it is absent) with the tables
// their headers name in Debian's ecCodes definitions.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/base/file_io.hpp"
#include "core/decode/decode.hpp"
#include "core/message/scanner.hpp"
#include "core/message/section_parser.hpp"
#include "core/tables/definitions_root.hpp"

namespace quorvel {
namespace {

const std::string kDefinitions = "/usr/share/eccodes/definitions";

struct Sample {
  const char* name;
  const char* path;  // under the shared data directory
};

const Sample kSamples[] = {
    {"wave_uncompressed", "bufr/pdbufr/wave_uncompressed.bufr"},
    {"issue59_uncompressed", "bufr/wreport/issue59.bufr"},
    {"ncep352_compressed", "bufr/pybufrkit/ncep.352.bufr"},
    {"ascat1_compressed", "bufr/wreport/ascat1.bufr"},
    {"mhen55_compressed", "bufr/pybufrkit/mhen_55.bufr"},
};

void decode_sample(benchmark::State& state, const Sample& sample) {
  const auto file = read_whole_file(std::string(QV_SHARED_DATA_DIR) + "/" + sample.path);
  if (!file) {
    state.SkipWithError("shared data not available");
    return;
  }
  const std::span<const std::uint8_t> buffer(*file);
  const auto slices = scan_messages(buffer);
  if (!slices || slices->empty()) {
    state.SkipWithError("no message");
    return;
  }
  const auto bytes = slice_bytes(buffer, slices->front());
  const auto message = parse_message(bytes);
  if (!message) {
    state.SkipWithError("message does not parse");
    return;
  }
  const auto tables = select_definition_tables(kDefinitions, *message);
  if (!tables) {
    state.SkipWithError("tables not available");
    return;
  }
  std::size_t values = 0;
  for (auto _ : state) {
    const auto decoded = decode_message_values(*message, bytes, *tables);
    if (!decoded) {
      state.SkipWithError(decoded.error().message().c_str());
      return;
    }
    values = decoded->size();
    benchmark::DoNotOptimize(values);
  }
  state.counters["values"] = static_cast<double>(values);
  state.counters["values_per_second"] =
      benchmark::Counter(static_cast<double>(values) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void register_samples() {
  for (const Sample& sample : kSamples) {
    benchmark::RegisterBenchmark(
        sample.name, [&sample](benchmark::State& state) { decode_sample(state, sample); })
        ->Unit(benchmark::kMillisecond)
        // One thread, then two decoding at once: the core shares only the
        // tables, read-only, so two threads should come near twice the rate.
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime();
  }
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  quorvel::register_samples();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
