#include "app/tunnel/ExtensionPropertiesProbe.h"

#include <algorithm>

#include "app/tunnel/SystemExtensionService.h"
#include "base/AppLogger.h"
#include "base/MainQueue.h"

namespace tw {

std::shared_ptr<ExtensionPropertiesProbe> ExtensionPropertiesProbe::create(
    std::string identifier, std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<AppLogger> logger,
    Finish onFinish) {
    return std::shared_ptr<ExtensionPropertiesProbe>(new ExtensionPropertiesProbe(
        std::move(identifier), std::move(mainQueue), std::move(logger), std::move(onFinish)));
}

ExtensionPropertiesProbe::ExtensionPropertiesProbe(std::string identifier,
                                                   std::shared_ptr<MainQueue> mainQueue,
                                                   std::shared_ptr<AppLogger> logger,
                                                   Finish onFinish)
    : identifier_(std::move(identifier)),
      mainQueue_(std::move(mainQueue)),
      logger_(std::move(logger)),
      onFinish_(std::move(onFinish)),
      timeout_(mainQueue_) {}

void ExtensionPropertiesProbe::start(SystemExtensionPlatform& platform) {
    platform.submitPropertiesRequest(identifier_,
                                     [queue = mainQueue_, weak = weak_from_this()](auto result) {
                                         queue->post([weak, result = std::move(result)] {
                                             if (auto self = weak.lock()) self->didReceive(result);
                                         });
                                     });
    timeout_.start(kTimeoutSeconds, [this] { finish(false); });
}

bool ExtensionPropertiesProbe::isInstalled(const std::vector<SystemExtensionProperties>& extensions,
                                           const std::string& identifier) {
    return std::any_of(extensions.begin(), extensions.end(), [&](const auto& extension) {
        return extension.identifier == identifier && extension.isEnabled &&
               !extension.isAwaitingUserApproval && !extension.isUninstalling;
    });
}

void ExtensionPropertiesProbe::didReceive(const SystemExtensionPlatform::PropertiesResult& result) {
    if (!result) {
        logger_->log(SystemExtensionService::kLogCategory,
                     "Properties request failed: " + result.error().localizedDescription);
        finish(false);
        return;
    }
    finish(isInstalled(*result, identifier_));
}

void ExtensionPropertiesProbe::finish(bool installed) {
    if (!onFinish_) return;
    timeout_.stop();
    const auto onFinish = std::exchange(onFinish_, nullptr);
    onFinish(installed);
}

}  // namespace tw
