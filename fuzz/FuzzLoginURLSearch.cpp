#include "app/daemon/LoginURLSearch.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto url = tw::extractInteractiveLoginURL(tw::fuzzText(data, size));
    if (url) tw::fuzzCheck(!url->empty(), "a found URL is never empty");
    return 0;
}
