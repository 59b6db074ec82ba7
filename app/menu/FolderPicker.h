#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tw {

// A non-modal dialog that chooses one folder.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // Calls completion once, on the main queue: the chosen folder, or nothing when dismissed.
    virtual void chooseFolder(const std::string& title, const std::string& prompt,
                              std::function<void(std::optional<std::string>)> completion) = 0;
};

}  // namespace tw
