// tarnwickd, the stand-in node daemon: serves the LocalAPI on a Unix socket so that every flow of
// the client runs without the real daemon.

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "base/AppLogger.h"
#include "base/UnixSocket.h"
#include "devdaemon/LoginPageServer.h"
#include "devdaemon/StandInLocalAPI.h"
#include "devdaemon/StandInServer.h"
#include "devdaemon/StandInState.h"
#include "devdaemon/StandInStateFile.h"

namespace {

using namespace tw;

constexpr std::string_view kUsage = R"(Usage: tarnwickd up [options]
Runs the stand-in node daemon in the foreground until SIGTERM or SIGINT.

Options:
  --conductor-host H       host of the login URLs (default login.tarnwick.example)
  --signal-host H          accepted like the real daemon's option; only logged
  --socket PATH            the LocalAPI socket (default /var/run/tarnwickd.socket);
                           its directory must exist
  --state FILE             keeps the profiles in FILE between runs (default: memory only)
  --log FILE               the daemon's log (default /var/log/tarnwickd/client.log when
                           writable, else standard error)
  --auto-login-after SEC   seconds until a started login completes by itself (default 1.0;
                           with the login page, only when given)
  -h, --help               shows this help

Environment:
  TW_SKIP_RUNNING_CHECK=1  starts even when another daemon answers on the socket
  TARNWICKD_STATE=FILE     as --state FILE, unless the option is given
  TARNWICKD_AUTO_LOGIN_AFTER=SEC
                           as --auto-login-after SEC, unless the option is given
  TW_STANDIN_LOGIN_PAGE_PORT=N
                           serves a login page on 127.0.0.1:N (0: any free port); the login
                           URLs open it, and a login completes when its form is posted
)";
constexpr const char* kLoginPagePortVariable = "TW_STANDIN_LOGIN_PAGE_PORT";

constexpr double kDefaultAutoLoginAfter = 1.0;
constexpr std::string_view kDefaultLogPath = "/var/log/tarnwickd/client.log";
constexpr std::chrono::milliseconds kRunningCheckTimeout{1000};

struct CommandLine {
    bool help = false;
    std::string command;
    std::string socketPath = "/var/run/tarnwickd.socket";
    std::optional<std::string> statePath;
    std::optional<std::string> logPath;
    std::optional<double> autoLoginAfter;  // when given
    std::string conductorHost = StandInState::Config{}.conductorHost;
    std::string signalHost;
};

std::expected<double, std::string> seconds(std::string_view text) {
    double value = 0;
    const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || rest != text.data() + text.size() || !(value >= 0)) {
        return std::unexpected("not a number of seconds: " + std::string(text));
    }
    return value;
}

std::expected<void, std::string> setOption(CommandLine& line, std::string_view name,
                                           std::string_view value) {
    if (name == "--socket") {
        line.socketPath = value;
    } else if (name == "--state") {
        line.statePath = std::string(value);
    } else if (name == "--log") {
        line.logPath = std::string(value);
    } else if (name == "--conductor-host") {
        line.conductorHost = value;
    } else if (name == "--signal-host") {
        line.signalHost = value;
    } else if (name == "--auto-login-after") {
        auto delay = seconds(value);
        if (!delay) return std::unexpected(delay.error());
        line.autoLoginAfter = *delay;
    } else {
        return std::unexpected("unknown option " + std::string(name));
    }
    return {};
}

// The helper starts the daemon with the application's arguments only, so whoever runs the helper
// (a test, the demo) configures the stand-in through the environment the daemon inherits.
constexpr std::pair<const char*, std::string_view> kEnvironmentOptions[] = {
    {"TARNWICKD_STATE", "--state"},
    {"TARNWICKD_AUTO_LOGIN_AFTER", "--auto-login-after"},
};

std::expected<void, std::string> setFromEnvironment(CommandLine& line) {
    for (const auto& [variable, option] : kEnvironmentOptions) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        if (auto set = setOption(line, option, value); !set) {
            return std::unexpected(std::string(variable) + ": " + set.error());
        }
    }
    return {};
}

// Options take their value as "--name value" or "--name=value", before or after the command;
// they override the environment.
std::expected<CommandLine, std::string> parseCommandLine(int argc, char** argv) {
    CommandLine line;
    if (auto set = setFromEnvironment(line); !set) return std::unexpected(set.error());
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (!argument.starts_with("--")) {
            if (!line.command.empty()) {
                return std::unexpected("unexpected argument " + std::string(argument));
            }
            line.command = argument;
        } else {
            const auto equals = argument.find('=');
            const auto name = argument.substr(0, equals);
            if (equals == std::string_view::npos && index + 1 == argc) {
                return std::unexpected("missing value for " + std::string(name));
            }
            const std::string_view value =
                equals == std::string_view::npos ? argv[++index] : argument.substr(equals + 1);
            if (auto set = setOption(line, name, value); !set) return std::unexpected(set.error());
        }
    }
    if (!line.help && line.command != "up") {
        return std::unexpected(line.command.empty() ? "missing command"
                                                    : "unknown command " + line.command);
    }
    return line;
}

void printError(std::string_view message) {
    std::fprintf(stderr, "tarnwickd: %.*s\n", static_cast<int>(message.size()), message.data());
}

bool writable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// The log file when it can be written, else standard error.
StandInLog openLog(const CommandLine& line) {
    const auto path = line.logPath.value_or(std::string(kDefaultLogPath));
    if (!writable(path)) {
        if (line.logPath) printError("cannot write " + path + "; logging to standard error");
        return printError;
    }
    const auto logger = std::make_shared<AppLogger>(path, nullptr);
    return [logger](std::string_view message) { logger->log("tarnwickd", message); };
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::uint64_t randomSeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

bool anotherDaemonAnswers(const std::string& socketPath) {
    const char* skip = std::getenv("TW_SKIP_RUNNING_CHECK");
    if (skip && std::string_view(skip) == "1") return false;
    return UnixSocket::connect(socketPath, kRunningCheckTimeout).has_value();
}

// Blocked in every thread, so that only the main thread's sigwait receives them.
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// The port of the login page, from the environment (the helper starts the daemon with the
// daemon's own arguments only); nothing when the page is off.
std::expected<std::optional<std::uint16_t>, std::string> loginPagePort() {
    const char* text = std::getenv(kLoginPagePortVariable);
    if (text == nullptr || *text == '\0') return std::nullopt;
    const std::string_view value(text);
    std::uint16_t port = 0;
    const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), port);
    if (error != std::errc() || rest != value.data() + value.size()) {
        return std::unexpected(std::string(kLoginPagePortVariable) + " is no port: " +
                               std::string(value));
    }
    return port;
}

int runDaemon(const CommandLine& line) {
    const sigset_t stopSignals = blockStopSignals();
    const auto log = openLog(line);
    std::optional<StandInStateFile> stateFile;
    StandInState::Saved saved;
    if (line.statePath) {
        stateFile.emplace(*line.statePath);
        auto loaded = stateFile->load();
        if (!loaded) {
            printError(loaded.error());
            return 1;
        }
        saved = std::move(*loaded);
    }
    const auto pagePort = loginPagePort();
    if (!pagePort) {
        printError(pagePort.error());
        return 1;
    }
    std::optional<LoginPageServer::Listener> pageListener;
    if (*pagePort) {
        auto listening = LoginPageServer::listen(**pagePort);
        if (!listening) {
            printError(listening.error());
            return 1;
        }
        pageListener = std::move(*listening);
    }
    StandInState state({hostName(), line.conductorHost,
                        pageListener ? pageListener->loginUrlBase : std::string(), randomSeed()},
                       std::move(saved));
    // With the page, a login waits for its form unless a delay was asked for.
    const auto autoLoginAfter =
        line.autoLoginAfter ? line.autoLoginAfter
                            : (pageListener ? std::nullopt
                                            : std::optional<double>(kDefaultAutoLoginAfter));
    StandInLocalAPI api(std::move(state),
                        {.autoLoginAfter = autoLoginAfter, .stateFile = std::move(stateFile)}, log);
    std::optional<LoginPageServer> page;
    if (pageListener) {
        log("login page on " + pageListener->loginUrlBase);
        page.emplace(api, std::move(*pageListener), log);
    }
    auto server = StandInServer::start(api, {.socketPath = line.socketPath}, log);
    if (!server) {
        printError(server.error());
        return 1;
    }
    log("listening on " + line.socketPath + " (conductor " + line.conductorHost + ", signal " +
        (line.signalHost.empty() ? std::string("none") : line.signalHost) + ")");
    int received = 0;
    sigwait(&stopSignals, &received);
    log(received == SIGTERM ? "stopping on SIGTERM" : "stopping on SIGINT");
    server->reset();
    page.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto line = parseCommandLine(argc, argv);
    if (!line) {
        printError(line.error());
        std::fputs("Try 'tarnwickd --help'.\n", stderr);
        return 2;
    }
    if (line->help) {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return 0;
    }
    if (anotherDaemonAnswers(line->socketPath)) {
        printError("another daemon already answers on " + line->socketPath);
        return 1;
    }
    return runDaemon(*line);
}
