#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string_view>

#include "bench/NetworkMapGenerator.h"

namespace {

constexpr std::string_view kLineFlag = "--netmap-line=";
constexpr std::size_t kLinePeers = 10'000;

// Hands the benchmarked network-map line to other decoders run by the bench script.
bool writeLine(std::string_view path) {
    std::ofstream out{std::string(path), std::ios::binary};
    out << tw::NetworkMapGenerator::standardLine(kLinePeers);
    return static_cast<bool>(out);
}

// Handles and removes --netmap-line=PATH; false when the file could not be written.
bool takeLineFlag(int& argc, char** argv) {
    int kept = 1;
    bool written = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with(kLineFlag)) {
            written = writeLine(arg.substr(kLineFlag.size())) && written;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!takeLineFlag(argc, argv)) {
        std::fprintf(stderr, "cannot write the network-map line\n");
        return 1;
    }
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
