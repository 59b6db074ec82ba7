#include "app/core/HelperRegistrationError.h"

namespace tw {

namespace {

const char* fixedText(HelperRegistrationError::Code code) {
    switch (code) {
        case HelperRegistrationError::Code::serviceManagerUnreachable:
            return "The service manager cannot be reached";
        case HelperRegistrationError::Code::notAuthorized:
            return "Not authorised to register the helper";
        case HelperRegistrationError::Code::notEnabled:
            return "The helper could not be enabled";
        case HelperRegistrationError::Code::notReloaded:
            return "The service manager could not reload its units";
        case HelperRegistrationError::Code::notStarted:
            return "The helper could not be started";
    }
    return "";
}

}  // namespace

std::string HelperRegistrationError::description() const {
    std::string text = fixedText(code);
    if (!detail.empty()) text.append(": ").append(detail);
    return text;
}

}  // namespace tw
