#include "app/daemon/PeltoBusModels.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto body = tw::fuzzText(data, size);
    const auto first = tw::ProfilesResponse::decode(body);
    tw::fuzzCheck(first == tw::ProfilesResponse::decode(body), "profiles decode the same twice");
    if (!first) tw::fuzzCheck(!first.error().description.empty(), "a failure says why");
    tw::fuzzCheck(!first || tw::parsesAsJson(body), "decoded profiles are valid JSON");
    return 0;
}
