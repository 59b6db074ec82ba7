#include "app/core/LoginItemError.h"

#include <cstring>

namespace tw {

namespace {

const char* fixedText(LoginItemError::Code code) {
    switch (code) {
        case LoginItemError::Code::programNotFound:
            return "The application's program was not found";
        case LoginItemError::Code::notSaved:
            return "The login item could not be saved";
        case LoginItemError::Code::notRemoved:
            return "The login item could not be removed";
    }
    return "";
}

}  // namespace

std::string LoginItemError::description() const {
    std::string text = fixedText(code);
    if (errorNumber != 0) text.append(": ").append(std::strerror(errorNumber));
    return text;
}

}  // namespace tw
