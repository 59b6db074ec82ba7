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

// The line as the stream client hands it to the decoder: where it lies in the framer's buffer,
// followed by the padding.
std::string buffered(const std::string& line) { return line + std::string(PaddedLine::kPadding, '\0'); }

PaddedLine padded(const std::string& buffer) {
    return {std::string_view(buffer.data(), buffer.size() - PaddedLine::kPadding)};
}

bool decodes(benchmark::State& state, const std::string& buffer, PeltoBusNotify& out) {
    auto notify = PeltoBusNotify::decode(padded(buffer));
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
    const auto buffer = buffered(line);
    for (auto _ : state) {
        PeltoBusNotify notify;
        if (!decodes(state, buffer, notify)) return;
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
    const auto buffer = buffered(line);
    for (auto _ : state) {
        PeltoBusNotify notify;
        if (!decodes(state, buffer, notify)) return;
        benchmark::DoNotOptimize(notify);
    }
    reportBytes(state, line);
}
BENCHMARK(NotifyDecodeAndRelease)->Arg(10000)->UseRealTime();

// The floor: the DOM parse the decoder starts with, in place as the decoder parses, on a parser
// kept across runs as the decoder keeps its own.
void SimdjsonParse(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    const auto buffer = buffered(line);
    const auto text = padded(buffer).text;
    simdjson::dom::parser parser;
    for (auto _ : state) {
        auto root = parser.parse(text.data(), text.size(), false);
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
