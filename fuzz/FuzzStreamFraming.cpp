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

// One line as the stream client handles it.
void handle(std::vector<std::string>& lines, tw::PaddedLine line) {
    tw::fuzzCheck(!line.text.empty() && line.text.find('\n') == std::string_view::npos,
                  "a line is one line");
    lines.emplace_back(line.text);
    [[maybe_unused]] const auto notify = tw::PeltoBusNotify::decode(line);
}

// The stream fed in one piece: what any split of it must yield.
Framed inOnePiece(const std::string& stream) {
    Framed framed;
    tw::StreamFramer framer(std::numeric_limits<std::size_t>::max());
    framer.append(stream.data(), stream.size(), [&](auto line) { handle(framed.lines, line); });
    framed.pending = framer.pendingBytes();
    return framed;
}

}  // namespace

// The stream's bytes come from the front of the input, the read sizes and the pending limit from
// its back. A read past the limit ends the connection, as in the client, and the next bytes start
// a new one; a stream that never hit the limit must frame exactly as in one piece.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto limit = input.ConsumeIntegralInRange<std::size_t>(1, size + 1);
    tw::StreamFramer framer(limit);
    Framed framed;
    std::string stream;
    bool cut = false;
    while (input.remaining_bytes() > 0) {
        const auto read = input.ConsumeIntegralInRange<std::size_t>(1, input.remaining_bytes());
        const auto chunk = input.ConsumeBytesAsString(read);
        stream += chunk;
        if (framer.append(chunk.data(), chunk.size(), [&](auto line) { handle(framed.lines, line); })) {
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
