#include "app/daemon/PeltoBusModels.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto line = tw::fuzzText(data, size);
    const auto first = tw::PeltoBusNotify::decode(line);
    tw::fuzzCheck(first == tw::PeltoBusNotify::decode(line), "a line decodes the same twice");
    if (!first) tw::fuzzCheck(!first.error().description.empty(), "a failure says why");
    tw::fuzzCheck(!first || tw::parsesAsJson(line), "a decoded line is valid JSON");
    return 0;
}
