#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/menu/FolderPicker.h"

namespace tw {

// A folder dialog the test answers: `choose` with a folder, or nothing for a dismissal.
class FakeFolderPicker final : public FolderPicker {
public:
    void chooseFolder(const std::string& dialogTitle, const std::string& dialogPrompt,
                      std::function<void(std::optional<std::string>)> completion) override {
        title = dialogTitle;
        prompt = dialogPrompt;
        pending = std::move(completion);
    }

    void choose(std::optional<std::string> folder) {
        auto completion = std::exchange(pending, nullptr);
        completion(std::move(folder));
    }

    std::string title;
    std::string prompt;
    std::function<void(std::optional<std::string>)> pending;
};

}  // namespace tw
