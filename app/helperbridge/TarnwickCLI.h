#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bundle.h"

namespace tw {

class AppLogger;
class HelperConnection;

// The application's side of the privileged helper: starts the node daemon and runs the CLI as
// root through it, and tells whether the helper can be reached. Keeps no state but the two
// executables' paths, found in the bundle once.
class TarnwickCLI {
public:
    static constexpr std::string_view kHelperService = "com.tarnwick.desktop.Helper";

    TarnwickCLI(Bundle bundle, std::shared_ptr<AppLogger> logger,
                std::shared_ptr<HelperConnection> connection);

    // Completes exactly once, on a thread of the connection: true when the helper answered at
    // all (whatever it answered), false when it could not be reached or the connection was lost
    // before it answered.
    void ping(std::function<void(bool)> completion);
    // Starts the daemon through the helper; the outcome is only logged.
    void up();
    // Runs "tarnwick down" through the helper; the outcome is only logged.
    void down();

    const std::string& tarnwickPath() const { return tarnwickPath_; }
    const std::string& tarnwickdPath() const { return tarnwickdPath_; }
    // The daemon's arguments: "up", then each configured server with its flag.
    std::vector<std::string> upArguments() const;

private:
    // Sends one request on a new connection. `onFailure` runs when no connection can be made or
    // the connection is lost before the reply; `onReply` gets the reply text.
    void withHelper(const std::string& path, const std::vector<std::string>& arguments,
                    std::function<void()> onFailure, std::function<void(const std::string&)> onReply);
    void appendInfoPlistArg(std::vector<std::string>& arguments, std::string_view key,
                            std::string_view flag) const;
    void log(std::string_view category, const std::string& message) const;

    const Bundle bundle_;
    const std::shared_ptr<AppLogger> logger_;
    const std::shared_ptr<HelperConnection> connection_;
    const std::string tarnwickPath_;
    const std::string tarnwickdPath_;
};

}  // namespace tw
