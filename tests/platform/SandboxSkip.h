#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tw {

// The reason every sandbox test skips on this machine, if there is one.
class SandboxSkip {
public:
    static void set(std::string reason) { reason_() = std::move(reason); }
    static const std::optional<std::string>& reason() { return reason_(); }

private:
    static std::optional<std::string>& reason_() {
        static std::optional<std::string> reason;
        return reason;
    }
};

// At the top of SetUp() of every sandbox fixture.
#define TW_SKIP_WITHOUT_SANDBOX()                                                 \
    do {                                                                          \
        if (::tw::SandboxSkip::reason()) GTEST_SKIP() << *::tw::SandboxSkip::reason(); \
    } while (false)

}  // namespace tw
