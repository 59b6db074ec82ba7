#include <benchmark/benchmark.h>
#include <simdjson.h>

#include "app/daemon/PeltoBusModels.h"
#include "bench/NetworkMapGenerator.h"

namespace tw {
namespace {

void reportBytes(benchmark::State& state, const std::string& line) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
    state.counters["line_bytes"] = static_cast<double>(line.size());
}

// The line as the stream client hands a large one to the decoder: in the buffer it was read into,
// which the decoder keeps. The buffer is made outside the timing, as the client's reads make it.
OwnedLine handedOver(benchmark::State& state, const std::string& line) {
    state.PauseTiming();
    auto owned = OwnedLine::copyOf(line);
    state.ResumeTiming();
    return owned;
}

bool decodes(benchmark::State& state, OwnedLine line, PeltoBusNotify& out) {
    auto notify = PeltoBusNotify::decode(std::move(line));
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
        if (!decodes(state, handedOver(state, line), notify)) return;
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
        if (!decodes(state, handedOver(state, line), notify)) return;
        benchmark::DoNotOptimize(notify);
    }
    reportBytes(state, line);
}
BENCHMARK(NotifyDecodeAndRelease)->Arg(10000)->UseRealTime();

// The yardstick: a bare DOM parse of the line, in place, on a parser kept across runs as the
// decoder keeps its own. It checks the whole text and builds its tape, and nothing more.
void SimdjsonParse(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    const auto buffer = OwnedLine::copyOf(line);
    simdjson::dom::parser parser;
    for (auto _ : state) {
        auto root = parser.parse(buffer.buffer.data(), line.size(), false);
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
