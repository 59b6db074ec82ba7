#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/LoginItemError.h"
#include "app/core/LoginItemService.h"
#include "base/AppLogger.h"
#include "base/Bundle.h"
#include "base/Preferences.h"

namespace tw {

// Registers the application as a login item once per build. A user who removes the item by hand
// keeps it removed until the next build. The memory lives in the preferences: the build last
// registered under "loginItemRegisteredBuild"; "loginItemRegistered", a key of an earlier scheme,
// is removed and never written. Runs on the main queue.
class LoginItem {
  public:
    struct Outcome {
        enum class Kind { alreadyRegistered, registered, failed };
        Kind kind;
        std::optional<LoginItemError> error;  // set when failed

        bool operator==(const Outcome&) const = default;
    };

    static constexpr std::string_view kRegisteredBuildKey = "loginItemRegisteredBuild";
    static constexpr std::string_view kLegacyKey = "loginItemRegistered";

    LoginItem(std::shared_ptr<Preferences> defaults, std::shared_ptr<LoginItemService> service,
              std::shared_ptr<AppLogger> logger);

    // The build text of `bundle`: its "CFBundleVersion" when that is a string, else "".
    static std::string build(const Bundle& bundle);

    // The launch-time rule: registers unless the stored build equals `build` exactly. A failure
    // is logged and leaves the stored build alone, so that the next launch tries again.
    Outcome registerIfNeeded(std::string_view build);
    // Removes the item, ignoring a failure, and forgets the build.
    void unregister();

  private:
    const std::shared_ptr<Preferences> defaults_;
    const std::shared_ptr<LoginItemService> service_;
    const std::shared_ptr<AppLogger> logger_;
};

}  // namespace tw
