#include "app/daemon/PeltoBusModels.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto body = tw::fuzzText(data, size);
    const auto first = tw::ProfilesResponse::decode(body);
    tw::fuzzCheck(first == tw::ProfilesResponse::decode(body), "profiles decode the same twice");
    if (!first) tw::fuzzCheck(!first.error().description.empty(), "a failure says why");
    return 0;
}
