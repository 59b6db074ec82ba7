#include "packettunnel/ProviderTerminationSignals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

namespace tw {

namespace {

// The handler may only write; the event loop reads the other end.
int gSignalPipe[2] = {-1, -1};

}  // namespace

ProviderTerminationSignals::ProviderTerminationSignals() {
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe);
    notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [] {
        char drained[16];
        while (::read(gSignalPipe[1], drained, sizeof drained) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = &ProviderTerminationSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

ProviderTerminationSignals::~ProviderTerminationSignals() {
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    notifier_.reset();
    ::close(gSignalPipe[0]);
    ::close(gSignalPipe[1]);
}

void ProviderTerminationSignals::handle(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(gSignalPipe[0], &byte, 1);
}

}  // namespace tw
