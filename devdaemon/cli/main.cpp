// The stand-in `tarnwick` CLI: a thin command line over the application's own LocalAPI and
// event-stream clients, so that the demo exercises exactly the code the desktop client runs.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <iostream>
#include <string>
#include <vector>

#include "app/daemon/LocalAPIClient.h"
#include "app/daemon/PeltoBusClient.h"
#include "base/AppLogger.h"
#include "base/ThreadMainQueue.h"
#include "base/WorkerPool.h"

namespace tw {
namespace {

constexpr const char* kUsage =
    "usage: tarnwick [--socket PATH] [--verbose] COMMAND\n"
    "commands:\n"
    "  status             the node's state, name and addresses\n"
    "  up | down          set WantRunning\n"
    "  login              start an interactive login and print its URL\n"
    "  logout             log the current profile out\n"
    "  profiles           list the login profiles\n"
    "  switch ID          switch to a profile\n"
    "  switch-to-empty    add an empty profile and switch to it\n"
    "  watch [N]          print N stream notifications (default: until interrupted)\n";

struct Options {
    std::string socketPath{LocalAPIClient::kDefaultSocketPath};
    bool verbose = false;
    std::vector<std::string> command;
};

template <typename T, typename Call>
std::expected<T, LocalAPIError> await(Call call) {
    std::promise<std::expected<T, LocalAPIError>> promise;
    call([&promise](std::expected<T, LocalAPIError> result) { promise.set_value(std::move(result)); });
    return promise.get_future().get();
}

int fail(const LocalAPIError& error) {
    std::cerr << "tarnwick: " << error.description() << "\n";
    return 1;
}

std::string joined(const std::optional<std::vector<std::string>>& list) {
    std::string text;
    for (const auto& item : list.value_or(std::vector<std::string>{})) text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "-" : text;
}

int printStatus(LocalAPIClient& client) {
    auto status = await<DaemonStatus>([&](auto done) { client.getStatus(std::move(done)); });
    if (!status) return fail(status.error());
    std::cout << "state:     " << status->backendState.value_or("-") << "\n";
    if (status->selfNode) std::cout << "host:      " << status->selfNode->hostName.value_or("-") << "\n";
    std::cout << "addresses: " << joined(status->tarnwickIps) << "\n";
    if (status->interactiveLoginUrl) std::cout << "login at:  " << *status->interactiveLoginUrl << "\n";
    if (status->jailed.value_or(false)) std::cout << "blocked:   " << status->jailReason.value_or("") << "\n";
    return 0;
}

int printProfiles(LocalAPIClient& client) {
    auto profiles = await<ProfilesResponse>([&](auto done) { client.getProfiles(std::move(done)); });
    if (!profiles) return fail(profiles.error());
    for (const auto& profile : profiles->profiles) {
        std::cout << (profile.isCurrent ? "* " : "  ") << profile.id << "  " << profile.name;
        if (profile.userEmail) std::cout << "  <" << *profile.userEmail << ">";
        std::cout << "\n";
    }
    return 0;
}

int done(const std::expected<void, LocalAPIError>& result) { return result ? 0 : fail(result.error()); }

class PrintingDelegate final : public PeltoBusClientDelegate {
public:
    explicit PrintingDelegate(long limit) : remaining_(limit) {}
    void peltoBusDidConnect() override { std::cerr << "tarnwick: stream connected\n"; }
    void peltoBusDidDisconnect(const std::optional<std::string>&) override {
        std::cerr << "tarnwick: stream disconnected\n";
    }
    void peltoBusDidReceiveNotify(const PeltoBusNotify& notify) override {
        std::cout << "state=" << (notify.state ? name(*notify.state) : "-")
                  << " peers=" << (notify.netMap && notify.netMap->peers ? notify.netMap->peers->size() : 0)
                  << " dns=" << (notify.netMap ? notify.netMap->dnsName.value_or("-") : "-");
        if (notify.interactiveLoginUrl) std::cout << " login=" << *notify.interactiveLoginUrl;
        if (notify.jailed.value_or(false)) std::cout << " blocked=" << notify.jailReason.value_or("");
        std::cout << std::endl;
        if (remaining_ > 0 && --remaining_ == 0) finished.set_value();
    }
    std::promise<void> finished;

private:
    long remaining_;
};

int watch(const Options& options, const std::shared_ptr<AppLogger>& logger, long limit) {
    auto main = std::make_shared<ThreadMainQueue>();
    auto delegate = std::make_shared<PrintingDelegate>(limit);
    auto finished = delegate->finished.get_future();
    PeltoBusClient stream(options.socketPath, logger, main, WorkerPool::shared());
    stream.setDelegate(delegate);
    stream.start();
    finished.wait();
    stream.stop();
    return 0;
}

int logout(const Options& options, const std::shared_ptr<AppLogger>& logger) {
    auto pool = std::make_shared<WorkerPool>(1);
    {
        PeltoBusClient stream(options.socketPath, logger, std::make_shared<ThreadMainQueue>(), pool);
        stream.logout();
    }
    pool.reset();  // waits for the exchange
    return 0;
}

int run(const Options& options) {
    auto logger = std::make_shared<AppLogger>("/dev/null", [verbose = options.verbose](const std::string& record) {
        if (verbose) std::cerr << record << "\n";
    });
    LocalAPIClient client(options.socketPath, logger, WorkerPool::shared());
    const auto& command = options.command;
    const std::string verb = command.empty() ? "" : command[0];
    if (verb == "status") return printStatus(client);
    if (verb == "up" || verb == "down") {
        return done(await<void>([&](auto d) { client.setWantRunning(verb == "up", std::move(d)); }));
    }
    if (verb == "login") {
        auto url = await<std::string>([&](auto d) { client.startLogin(std::move(d)); });
        if (!url) return fail(url.error());
        std::cout << *url << "\n";
        return 0;
    }
    if (verb == "logout") return logout(options, logger);
    if (verb == "profiles") return printProfiles(client);
    if (verb == "switch" && command.size() == 2) {
        return done(await<void>([&](auto d) { client.switchProfile(command[1], std::move(d)); }));
    }
    if (verb == "switch-to-empty") {
        return done(await<void>([&](auto d) { client.switchToEmptyProfile(std::move(d)); }));
    }
    if (verb == "watch" && command.size() <= 2) {
        return watch(options, logger, command.size() == 2 ? std::atol(command[1].c_str()) : -1);
    }
    std::cerr << kUsage;
    return 2;
}

}  // namespace
}  // namespace tw

int main(int argc, char** argv) {
    tw::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--socket" && i + 1 < argc) {
            options.socketPath = argv[++i];
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << tw::kUsage;
            return 0;
        } else {
            options.command.push_back(arg);
        }
    }
    return tw::run(options);
}
