#pragma once

namespace tw {

// The state of the application's login item, with the numeric codes the log reports.
enum class LoginItemStatus : int {
    notRegistered = 0,
    enabled = 1,
    // The item cannot be made: the program it would start is not found.
    notFound = 3,
};

}  // namespace tw
