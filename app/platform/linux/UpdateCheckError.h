#pragma once

#include <string>

namespace tw {

// Why an update check found no answer.
struct UpdateCheckError {
    enum class Code {
        feedNotAllowed,           // not https (plain http only to this machine)
        installedVersionUnknown,  // the bundle's version is not a dotted number
        unreachable,              // detail: the network's text
        httpStatus,               // detail: the status code
        tooLarge,                 // detail: the limit in bytes
        timedOut,                 // detail: the limit in seconds
        unreadable,               // detail: what is wrong with the document
        noRelease,
    };

    Code code;
    std::string detail;

    // The fixed text of the code with the detail in it; a full sentence.
    std::string description() const;

    bool operator==(const UpdateCheckError&) const = default;
};

}  // namespace tw
