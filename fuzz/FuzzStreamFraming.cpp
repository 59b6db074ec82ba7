#include <fuzzer/FuzzedDataProvider.h>

#include <limits>
#include <string>
#include <vector>

#include "app/daemon/PeltoBusModels.h"
#include "app/daemon/StreamFramer.h"
#include "fuzz/FuzzInput.h"

namespace {

struct Framed {
    std::vector<std::string> lines;
    std::size_t pending = 0;
};

// One line as the stream client handles it: taken from the framer, which hands a large one over
// in its buffer, and decoded.
void handle(std::vector<std::string>& lines, tw::StreamFramer& framer, tw::PaddedLine line) {
    tw::fuzzCheck(!line.text.empty() && line.text.find('\n') == std::string_view::npos,
                  "a line is one line");
    lines.emplace_back(line.text);
    auto taken = framer.takeLine(line);
    tw::fuzzCheck(taken.text() == lines.back(), "a taken line is the line");
    [[maybe_unused]] const auto notify = tw::PeltoBusNotify::decode(std::move(taken));
}

// The stream fed in one piece: what any split of it must yield.
Framed inOnePiece(const std::string& stream) {
    Framed framed;
    tw::StreamFramer framer(std::numeric_limits<std::size_t>::max());
    framer.append(stream.data(), stream.size(),
                  [&](auto line) { handle(framed.lines, framer, line); });
    framed.pending = framer.pendingBytes();
    return framed;
}

}  // namespace

// The stream's bytes come from the front of the input, the read sizes, the pending limit and the
// size from which lines are handed over from its back. A read past the limit ends the connection, as in the client, and the next bytes start
// a new one; a stream that never hit the limit must frame exactly as in one piece.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto limit = input.ConsumeIntegralInRange<std::size_t>(1, size + 1);
    const auto handOverSize = input.ConsumeIntegralInRange<std::size_t>(1, size + 1);
    tw::StreamFramer framer(limit, handOverSize);
    Framed framed;
    std::string stream;
    bool cut = false;
    while (input.remaining_bytes() > 0) {
        const auto read = input.ConsumeIntegralInRange<std::size_t>(1, input.remaining_bytes());
        const auto chunk = input.ConsumeBytesAsString(read);
        stream += chunk;
        const auto onLine = [&](auto line) { handle(framed.lines, framer, line); };
        if (framer.append(chunk.data(), chunk.size(), onLine)) {
            continue;
        }
        framer.reset();
        cut = true;
    }
    if (cut) return 0;
    const auto whole = inOnePiece(stream);
    tw::fuzzCheck(framed.lines == whole.lines, "any split yields the same lines");
    tw::fuzzCheck(framer.pendingBytes() == whole.pending, "any split leaves the same tail");
    return 0;
}
