#include "helper/HelperServer.h"

#include <sys/socket.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "helper/HelperConnection.h"
#include "helper/PosixError.h"

namespace tw {

namespace {

using namespace std::chrono_literals;

// Failures of one accept that leave the listener usable.
bool isPassing(int error) {
    switch (error) {
        case EINTR:
        case ECONNABORTED:
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        case EPROTO:
            return true;
        default:
            return false;
    }
}

}  // namespace

void HelperServer::run(int listener) {
    for (;;) {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            serveOnNewThread(connection);
            continue;
        }
        const int error = errno;
        if (!isPassing(error)) {
            log_.notice("Stopped accepting connections: " +
                        PosixError(error, "").localizedDescription());
            return;
        }
        // Out of descriptors or memory: give running connections a moment to finish.
        if (error != EINTR) std::this_thread::sleep_for(100ms);
    }
}

void HelperServer::serveOnNewThread(int connection) {
    UniqueFd socket(connection);
    try {
        std::thread([socket = std::move(socket), this]() mutable {
            HelperConnection(std::move(socket), tool_, authoriser_, log_).serve();
        }).detach();
    } catch (const std::system_error&) {
        log_.notice("Dropped a connection: no thread to serve it");
    }
}

}  // namespace tw
