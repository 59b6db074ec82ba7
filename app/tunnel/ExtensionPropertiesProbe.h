#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tunnel/SystemExtensionPlatform.h"
#include "base/OneShotTimer.h"

namespace tw {

class AppLogger;
class MainQueue;

// One question to the platform: is the extension installed, enabled and allowed? The answer is
// reported once, on the main queue: the platform's, or "not installed" when the platform has not
// answered within the timeout. Whoever starts a probe keeps it alive until it has reported; the
// platform's answer and the timeout hold it weakly.
class ExtensionPropertiesProbe : public std::enable_shared_from_this<ExtensionPropertiesProbe> {
public:
    using Finish = std::function<void(bool installed)>;

    static constexpr double kTimeoutSeconds = 5;

    static std::shared_ptr<ExtensionPropertiesProbe> create(std::string identifier,
                                                            std::shared_ptr<MainQueue> mainQueue,
                                                            std::shared_ptr<AppLogger> logger,
                                                            Finish onFinish);
    ExtensionPropertiesProbe(const ExtensionPropertiesProbe&) = delete;
    ExtensionPropertiesProbe& operator=(const ExtensionPropertiesProbe&) = delete;

    // Submits the properties request and starts the timeout.
    void start(SystemExtensionPlatform& platform);

private:
    ExtensionPropertiesProbe(std::string identifier, std::shared_ptr<MainQueue> mainQueue,
                             std::shared_ptr<AppLogger> logger, Finish onFinish);

    // An extension that is being uninstalled does not count: it is about to go away.
    static bool isInstalled(const std::vector<SystemExtensionProperties>& extensions,
                            const std::string& identifier);
    void didReceive(const SystemExtensionPlatform::PropertiesResult& result);
    void finish(bool installed);

    const std::string identifier_;
    const std::shared_ptr<MainQueue> mainQueue_;
    const std::shared_ptr<AppLogger> logger_;
    // Cleared before it is called, so that whatever reports first reports alone.
    Finish onFinish_;
    OneShotTimer timeout_;
};

}  // namespace tw
