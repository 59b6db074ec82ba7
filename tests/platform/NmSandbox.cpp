#include "tests/platform/NmSandbox.h"

#include "tests/platform/QtWait.h"

#include <signal.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <vector>

namespace tw {

std::optional<std::string> NmSandbox::unavailableReason() {
    if (::geteuid() != 0) return "the NetworkManager sandbox needs root to make namespaces";
    if (shell("command -v NetworkManager >/dev/null").status != 0) {
        return "NetworkManager is not installed";
    }
    if (shell("unshare --mount --net --uts --ipc --pid --fork true 2>/dev/null").status != 0) {
        return "this machine cannot make the namespaces the NetworkManager sandbox needs";
    }
    return std::nullopt;
}

bool NmSandbox::isInside() { return std::getenv("TW_NM_SANDBOX") != nullptr; }

std::filesystem::path NmSandbox::directory() {
    const char* directory = std::getenv("TW_NM_SANDBOX");
    return directory ? directory : "";
}

void NmSandbox::reexecInside(int argc, char** argv) {
    const std::string extension = TW_EXTENSION_DIR;
    const std::string identifier = TW_EXTENSION_IDENTIFIER;
    const std::string program = extension + "/tarnwick-packettunnel";
    const std::string policy = extension + "/" + identifier + ".conf";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<const char*> arguments = {TW_NM_SANDBOX_SCRIPT, "--plugin-service",
                                          identifier.c_str(), "--plugin-program", program.c_str(),
                                          "--plugin-policy", policy.c_str(), "--", self.c_str()};
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::execv(TW_NM_SANDBOX_SCRIPT, const_cast<char* const*>(arguments.data()));
    std::perror("cannot start the NetworkManager sandbox");
}

namespace {

bool isOnTheBus(const QString& name) {
    return QDBusConnection::systemBus().interface()->isServiceRegistered(name).value();
}

}  // namespace

bool NmSandbox::stopNetworkManager() {
    std::ifstream pidFile(directory() / "nm.pid");
    pid_t pid = 0;
    if (!(pidFile >> pid) || ::kill(pid, SIGTERM) != 0) return false;
    return waitUntil([] { return !isOnTheBus("org.freedesktop.NetworkManager"); });
}

bool NmSandbox::startNetworkManager() {
    const auto sandbox = directory().string();
    return shell("NetworkManager --debug >>'" + sandbox + "/nm.log' 2>&1 & echo $! >'" + sandbox +
                 "/nm.pid'; for i in $(seq 200); do "
                 "[ \"$(nmcli -t -f STATE general 2>/dev/null)\" = connected ] && exit 0; "
                 "sleep 0.05; done; exit 1")
               .status == 0;
}

void NmSandbox::endPlugin() {
    auto* bus = QDBusConnection::systemBus().interface();
    const QString name = TW_EXTENSION_IDENTIFIER;
    const auto pid = bus->servicePid(name);
    if (!pid.isValid() || pid.value() == 0) return;
    ::kill(static_cast<pid_t>(pid.value()), SIGTERM);
    waitUntil([&] { return !isOnTheBus(name); });
}

int NmSandbox::logCount(const std::string& text) {
    std::ifstream log(directory() / "nm.log");
    int count = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find(text) != std::string::npos) ++count;
    }
    return count;
}

std::string NmSandbox::logTail() {
    return shell("tail -n 40 '" + (directory() / "nm.log").string() + "'").output;
}

}  // namespace tw
