#include "app/daemon/PeltoBusModels.h"
#include "fuzz/FuzzInput.h"

// Decoding the same body twice gives the same answer: nothing of one decode may leak into the
// next through the parser the decoders keep per thread.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto body = tw::fuzzText(data, size);
    const auto first = tw::DaemonStatus::decode(body);
    tw::fuzzCheck(first == tw::DaemonStatus::decode(body), "status decodes the same twice");
    if (first) tw::fuzzCheck(!first->email && !first->userName, "status never reads email or user");
    return 0;
}
