#include "app/platform/linux/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

namespace tw {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the self-pipe; a signal handler may do no more than write to it.
int writeEnd = -1;

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> quit) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd_.reset(fds[0]);
    writeEnd = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_.get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [fd = readEnd_.get(), quit = std::move(quit)] {
                         char bytes[16];
                         while (::read(fd, bytes, sizeof bytes) > 0) {
                         }
                         quit();
                     });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (!readEnd_) return;
    for (int signal : kSignals) std::signal(signal, SIG_DFL);
    notifier_.reset();
    ::close(std::exchange(writeEnd, -1));
}

}  // namespace tw
