#include "app/daemon/LocalAPIError.h"
#include "app/daemon/LocalAPIResponse.h"
#include "base/Utf8.h"
#include "fuzz/FuzzInput.h"

// The client's handling of a whole response: split it, look for an error status in the header
// and, for one, keep the body only when it is UTF-8.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto response = tw::fuzzText(data, size);
    const auto parts = tw::LocalAPIResponse::split(response);
    if (!parts) {
        tw::fuzzCheck(response.find("\r\n\r\n") == std::string_view::npos, "split finds a blank line");
        return 0;
    }
    tw::fuzzCheck(parts->header.size() + 4 + parts->body.size() == size, "split keeps every byte");
    tw::fuzzCheck(parts->header.find("\r\n\r\n") == std::string_view::npos, "split at the first");
    const auto code = tw::LocalAPIResponse::errorStatus(parts->header);
    if (!code) return 0;
    tw::fuzzCheck(*code >= 400, "an error status is 400 or more");
    const std::string text(tw::isValidUtf8(parts->body) ? parts->body : std::string_view());
    const auto error = tw::LocalAPIError::httpError(*code, text);
    tw::fuzzCheck(!error.description().empty(), "an error describes itself");
    return 0;
}
