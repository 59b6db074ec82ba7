#include <algorithm>

#include "fuzz/FuzzInput.h"
#include "shared/HelperToolProtocol.h"

namespace {

using Protocol = tw::HelperToolProtocol;

bool handsOverSafely(const std::string& text) { return text.find('\0') == std::string::npos; }

}  // namespace

// The helper runs as root and decodes whatever a local client writes. A request it accepts must
// carry only texts a process can be given, and must mean the same after the application encodes
// it again: the two sides may not read one line two ways.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto line = tw::fuzzText(data, size);
    const auto request = Protocol::decodeRequest(line);
    if (!request) {
        tw::fuzzCheck(!request.error().message.empty(), "a refusal says why");
        return 0;
    }
    if (const auto* run = std::get_if<Protocol::RunGoTool>(&*request)) {
        tw::fuzzCheck(handsOverSafely(run->path), "the path has no NUL");
        tw::fuzzCheck(std::ranges::all_of(run->arguments, handsOverSafely), "no argument has a NUL");
    }
    auto encoded = Protocol::encodeRequest(*request);
    tw::fuzzCheck(!encoded.empty() && encoded.back() == '\n', "an encoded request is one line");
    encoded.pop_back();
    const auto again = Protocol::decodeRequest(encoded);
    tw::fuzzCheck(again && *again == *request, "an accepted request survives its own encoding");
    return 0;
}
