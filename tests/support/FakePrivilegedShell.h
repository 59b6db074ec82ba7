#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/core/PrivilegedShell.h"

namespace tw {

// A root shell that records each command line and answers when the test says.
class FakePrivilegedShell final : public PrivilegedShell {
public:
    void runAsRoot(const std::string& commandLine, Completion completion) override {
        commandLines.push_back(commandLine);
        completions_.push_back(std::move(completion));
    }

    // Answers the command line run `index`-th.
    void answer(std::size_t index, std::expected<void, Failure> result) {
        completions_.at(index)(std::move(result));
    }

    std::vector<std::string> commandLines;

private:
    std::vector<Completion> completions_;
};

}  // namespace tw
