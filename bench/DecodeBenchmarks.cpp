#include <benchmark/benchmark.h>
#include <simdjson.h>

#include "NetworkMapGenerator.h"
#include "daemon/PeltoBusModels.h"

namespace tw {
namespace {

void reportBytes(benchmark::State& state, const std::string& line) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
    state.counters["line_bytes"] = static_cast<double>(line.size());
}

bool decodes(benchmark::State& state, const std::string& line, PeltoBusNotify& out) {
    auto notify = PeltoBusNotify::decode(line);
    if (!notify) {
        state.SkipWithError(notify.error().description.c_str());
        return false;
    }
    out = std::move(*notify);
    return true;
}

// The decode as the stream thread pays it. The client releases the record on the main queue,
// so the release is left out here and measured on its own below.
void NotifyDecode(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        PeltoBusNotify notify;
        if (!decodes(state, line, notify)) return;
        benchmark::DoNotOptimize(notify);
        state.PauseTiming();
        notify = {};
        state.ResumeTiming();
    }
    reportBytes(state, line);
}
BENCHMARK(NotifyDecode)->Arg(10)->Arg(1000)->Arg(10000)->UseRealTime();

// Decode and release on one thread, back to back.
void NotifyDecodeAndRelease(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        PeltoBusNotify notify;
        if (!decodes(state, line, notify)) return;
        benchmark::DoNotOptimize(notify);
    }
    reportBytes(state, line);
}
BENCHMARK(NotifyDecodeAndRelease)->Arg(10000)->UseRealTime();

// The floor: the DOM parse the decoder starts with, on a parser kept across runs as the decoder
// keeps its own.
void SimdjsonParse(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    simdjson::dom::parser parser;
    for (auto _ : state) {
        auto root = parser.parse(line.data(), line.size());
        if (root.error() != simdjson::SUCCESS) {
            state.SkipWithError(simdjson::error_message(root.error()));
            return;
        }
        benchmark::DoNotOptimize(root);
    }
    reportBytes(state, line);
}
BENCHMARK(SimdjsonParse)->Arg(10)->Arg(1000)->Arg(10000)->UseRealTime();

}  // namespace
}  // namespace tw
