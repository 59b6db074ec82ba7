#pragma once

#include "app/menu/FolderPicker.h"

namespace tw {

// A non-modal Qt file dialog that chooses one folder (and may create one). The completion runs
// on the GUI thread, which is the main queue.
class QtFolderPicker final : public FolderPicker {
public:
    void chooseFolder(const std::string& title, const std::string& prompt,
                      std::function<void(std::optional<std::string>)> completion) override;
};

}  // namespace tw
