// tarnwick-helper, the privileged helper: a root service on a Unix socket that runs the bundle's
// CLI and starts its node daemon for the desktop application.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "helper/BundleExecutables.h"
#include "helper/HelperListener.h"
#include "helper/HelperOptions.h"
#include "helper/HelperServer.h"
#include "helper/HelperTool.h"
#include "helper/PeerAuthoriser.h"
#include "helper/PolkitAuthority.h"
#include "helper/PosixError.h"
#include "helper/SessionRequestPolicy.h"
#include "helper/Syslog.h"
#include "helper/SystemLogFile.h"

namespace {

using namespace std::chrono_literals;

int fail(const std::string& message) {
    std::fprintf(stderr, "tarnwick-helper: %s\n", message.c_str());
    return 1;
}

std::unique_ptr<tw::SystemLog> systemLog(const tw::HelperOptions& options, std::string& error) {
    if (!options.syslogFile) return std::make_unique<tw::Syslog>();
    auto file = tw::SystemLogFile::open(*options.syslogFile);
    if (file) return std::move(*file);
    error = "cannot open " + *options.syslogFile + ": " +
            tw::PosixError(file.error(), *options.syslogFile).localizedDescription();
    return nullptr;
}

// Without --resources, the bundle's Resources folder relative to where the helper is installed.
std::optional<std::filesystem::path> resources(const tw::HelperOptions& options) {
    if (options.resources) return *options.resources;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return tw::BundleExecutables::resourcesFor(self);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto options = tw::HelperOptions::parse(args);
    if (!options) return fail(options.error() + "\n" + std::string(tw::HelperOptions::kUsage));

    std::string error;
    const auto log = systemLog(*options, error);
    if (!log) return fail(error);
    const auto resourcesFolder = resources(*options);
    if (!resourcesFolder) return fail("cannot tell where the helper is installed; use --resources");
    auto listener = tw::HelperListener::open(options->socket);
    if (!listener) return fail(listener.error());

    const tw::BundleExecutables executables(*resourcesFolder);
    tw::HelperTool tool(executables, *log, options->tool);
    const tw::PolkitAuthority polkit(5s);
    const tw::PeerAuthoriser authoriser(options->group, [&polkit](const tw::PeerCredentials& peer) {
        return polkit.authorises(peer.pid, peer.uid, tw::PolkitAuthority::kHelperAction);
    });
    const tw::SessionRequestPolicy sessionPolicy(
        executables, (resourcesFolder->lexically_normal() / "..").lexically_normal());
    const tw::HelperConnection::Services services{tool, authoriser, sessionPolicy, *log};
    tw::HelperServer(services, {}).run(listener->get());
    // Connection threads may still be using the objects above: leave without destroying them.
    std::_Exit(1);
}
