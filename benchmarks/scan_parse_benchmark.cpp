// Message-layer speed: scanning a large buffer of built messages for their
// markers, and scanning plus parsing every message found. The buffer holds
// 20,000 messages of 100 to 500 octets, with junk before some of them as
// bulletin headings put it in real files.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "core/message/scanner.hpp"
#include "core/message/section_parser.hpp"
#include "support/message_builder.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kMessageCount = 20000;
// A bulletin heading as it precedes messages in real files; it holds no marker.
constexpr std::string_view kHeading = "\x01\r\r\n042\r\r\nISMD01 OKPR 180000\r\r\n";

struct Corpus {
  std::vector<std::uint8_t> bytes;
  std::size_t messages = 0;
};

const Corpus& corpus() {
  static const Corpus built = [] {
    Corpus c;
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> octet(0, 255);
    for (std::size_t i = 0; i < kMessageCount; ++i) {
      if (i % 5 == 0) {
        c.bytes.insert(c.bytes.end(), kHeading.begin(), kHeading.end());
      }
      testing::MessageBuilder b;
      b.section1.originating_centre = static_cast<std::uint16_t>(i % 300);
      b.section1.typical_year = 2024;
      b.section1.typical_month = static_cast<std::uint8_t>(1 + i % 12);
      if (i % 3 == 0) {
        b.section2 = std::vector<std::uint8_t>(20, 0x5A);
      }
      b.number_of_subsets = static_cast<std::uint16_t>(1 + i % 40);
      b.compressed = i % 2 == 0;
      b.descriptors = {307080, 1001, 1002, 4001, 4002, 4003, 4004, 4005, 5001, 6001, 12101};
      b.data.resize(static_cast<std::size_t>(60 + random() % 400));
      for (std::uint8_t& value : b.data) {
        value = static_cast<std::uint8_t>(octet(random));
      }
      const std::vector<std::uint8_t> message = b.build();
      c.bytes.insert(c.bytes.end(), message.begin(), message.end());
      ++c.messages;
    }
    return c;
  }();
  return built;
}

void report(benchmark::State& state, const Corpus& c) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(c.bytes.size()));
  state.counters["messages"] = benchmark::Counter(static_cast<double>(c.messages),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ScanMessages(benchmark::State& state) {
  const Corpus& c = corpus();
  for (auto _ : state) {
    auto slices = scan_messages(c.bytes);
    if (!slices || slices->size() != c.messages) {
      state.SkipWithError("scan did not find every message");
      return;
    }
    benchmark::DoNotOptimize(slices);
  }
  report(state, c);
}
BENCHMARK(BM_ScanMessages)->Unit(benchmark::kMillisecond);

void BM_ScanAndParseEach(benchmark::State& state) {
  const Corpus& c = corpus();
  const std::span<const std::uint8_t> buffer(c.bytes);
  for (auto _ : state) {
    auto slices = scan_messages(buffer);
    if (!slices || slices->size() != c.messages) {
      state.SkipWithError("scan did not find every message");
      return;
    }
    for (const MessageSlice& slice : *slices) {
      auto message = parse_message(slice_bytes(buffer, slice));
      if (!message) {
        state.SkipWithError("a built message failed to parse");
        return;
      }
      benchmark::DoNotOptimize(message);
    }
  }
  report(state, c);
}
BENCHMARK(BM_ScanAndParseEach)->Unit(benchmark::kMillisecond);

void BM_ParseAllMessages(benchmark::State& state) {
  const Corpus& c = corpus();
  for (auto _ : state) {
    auto messages = parse_all_messages(c.bytes);
    if (!messages || messages->size() != c.messages) {
      state.SkipWithError("parse_all_messages did not return every message");
      return;
    }
    benchmark::DoNotOptimize(messages);
  }
  report(state, c);
}
BENCHMARK(BM_ParseAllMessages)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
