#include "app/helperbridge/TarnwickCLI.h"

#include <atomic>

#include "app/helperbridge/HelperConnection.h"
#include "base/AppLogger.h"

namespace tw {

namespace {

constexpr std::string_view kXPC = "XPC";
constexpr std::string_view kCLI = "CLI";

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : " ") + item;
    return text;
}

}  // namespace

TarnwickCLI::TarnwickCLI(Bundle bundle, std::shared_ptr<AppLogger> logger,
                         std::shared_ptr<HelperConnection> connection)
    : bundle_(std::move(bundle)),
      logger_(std::move(logger)),
      connection_(std::move(connection)),
      tarnwickPath_(bundle_.resourcePath("tarnwick")),
      tarnwickdPath_(bundle_.resourcePath("tarnwickd")) {}

void TarnwickCLI::log(std::string_view category, const std::string& message) const {
    logger_->log(category, message);
}

void TarnwickCLI::withHelper(const std::string& path, const std::vector<std::string>& arguments,
                             std::function<void()> onFailure,
                             std::function<void(const std::string&)> onReply) {
    const std::string service(kHelperService);
    auto logger = logger_;
    HelperConnection::Callbacks callbacks{
        [logger, service, onReply](const std::string& text) {
            onReply(text);
            logger->log(kXPC, "Connection invalidated: " + service);
        },
        [logger, service, onFailure](const std::string& description) {
            logger->log(kXPC, "Error: " + description);
            logger->log(kXPC, "Connection interrupted: " + service);
            logger->log(kXPC, "Connection invalidated: " + service);
            if (onFailure) onFailure();
        },
        [logger, service, onFailure](const std::string& description) {
            logger->log(kXPC, "Error: " + description);
            logger->log(kXPC, "Failed to obtain HelperToolProtocol proxy for: " + service);
            if (onFailure) onFailure();
        }};
    connection_->runGoTool(path, arguments, std::move(callbacks));
}

void TarnwickCLI::ping(std::function<void(bool)> completion) {
    // Whatever happens to the connection, the caller hears exactly once.
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto complete = [done, completion](bool reachable) {
        if (!done->exchange(true)) completion(reachable);
    };
    withHelper(tarnwickdPath_, {"--help"}, [complete] { complete(false); },
               [complete](const std::string&) { complete(true); });
}

std::vector<std::string> TarnwickCLI::upArguments() const {
    std::vector<std::string> arguments{"up"};
    appendInfoPlistArg(arguments, "TWConductorURL", "--conductor-host");
    appendInfoPlistArg(arguments, "TWSignalURL", "--signal-host");
    return arguments;
}

void TarnwickCLI::up() {
    if (tarnwickdPath_.empty()) {
        log(kCLI, "ERROR: tarnwickd binary not found in Bundle");
        return;
    }
    const auto arguments = upArguments();
    log(kCLI, "Invoking tarnwickd up via Helper at path: " + tarnwickdPath_ + ", args: " + joined(arguments));
    withHelper(tarnwickdPath_, arguments, {}, [logger = logger_](const std::string& text) {
        logger->log(kCLI, "tarnwickd up output: " + text);
    });
}

void TarnwickCLI::down() {
    withHelper(tarnwickPath_, {"down"}, {}, [logger = logger_](const std::string& text) {
        logger->log(kCLI, "tarnwick down output: " + text);
    });
}

void TarnwickCLI::appendInfoPlistArg(std::vector<std::string>& arguments, std::string_view key,
                                     std::string_view flag) const {
    const auto value = bundle_.string(key);
    if (!value || value->empty()) return;
    arguments.emplace_back(flag);
    arguments.push_back(*value);
}

}  // namespace tw
