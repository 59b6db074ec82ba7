#include "app/core/UpdaterViewModel.h"

namespace tw {

UpdaterViewModel::UpdaterViewModel(std::shared_ptr<UpdaterService> updater)
    : updater_(std::move(updater)) {
    auto& source = updater_->canCheckForUpdates();
    canCheckForUpdates_.setIfChanged(source.get());
    mirror_ =
        source.subscribe([this](const bool& value) { canCheckForUpdates_.setIfChanged(value); });
}

}  // namespace tw
