#pragma once

#include <cstdint>
#include <string>

namespace tw {

// A failed system-extension request, with the platform's own text kept.
struct SystemExtensionError {
    // The platform's system-extension errors carry this domain and one of these codes; errors of
    // other layers keep their own domain.
    static constexpr const char* kDomain = "SystemExtensionErrorDomain";
    static constexpr std::int64_t kRequestCanceled = 11;
    // A newer request for the same extension replaced this one.
    static constexpr std::int64_t kRequestSuperseded = 12;
    static constexpr std::int64_t kAuthorizationRequired = 13;

    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;

    bool hasCode(std::int64_t expected) const { return domain == kDomain && code == expected; }
    bool operator==(const SystemExtensionError&) const = default;
};

}  // namespace tw
