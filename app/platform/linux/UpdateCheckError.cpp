#include "app/platform/linux/UpdateCheckError.h"

namespace tw {

namespace {

std::string sentence(std::string text) {
    if (!text.ends_with('.')) text += '.';
    return text;
}

}  // namespace

std::string UpdateCheckError::description() const {
    switch (code) {
        case Code::feedNotAllowed:
            return "The update feed's address is not a secure (https) address.";
        case Code::installedVersionUnknown:
            return "The installed version is not known.";
        case Code::unreachable:
            return sentence("The update feed could not be reached: " + detail);
        case Code::httpStatus:
            return "The update feed answered with HTTP status " + detail + ".";
        case Code::tooLarge:
            return "The update feed is larger than " + detail + " bytes.";
        case Code::timedOut:
            return "The update feed did not answer within " + detail + " seconds.";
        case Code::unreadable:
            return sentence("The update feed could not be read: " + detail);
        case Code::noRelease:
            return "The update feed lists no release for this application.";
    }
    return {};
}

}  // namespace tw
