#pragma once

namespace tw {

// The answer to "an extension of another version is installed: replace it?".
enum class SystemExtensionReplacementAction {
    cancel = 0,
    replace = 1,
};

}  // namespace tw
