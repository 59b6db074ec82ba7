#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <memory>
#include <semaphore>

#include "app/daemon/LocalAPIClient.h"
#include "base/UnixSocket.h"
#include "base/WorkerPool.h"
#include "tests/support/FakeDaemon.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

constexpr auto kStatusBody =
    R"({"version":"1.62.0-t4c1e2a9","backend_state":"Running","interactive_login_url":"",)"
    R"("tarnwick_ips":["100.64.0.1","fd5e:2b1c:9a40::1"],"self":{"id":7000000000000000,)"
    R"("host_name":"lap","dns_name":"lap.example-mesh.tw.net.","os":"linux",)"
    R"("tarnwick_ips":["100.64.0.1","fd5e:2b1c:9a40::1"],"online":true},)"
    R"("health":[],"magic_dns_suffix":"example-mesh.tw.net.","jailed":false,"jail_reason":""})";

// A fake daemon in a fresh folder that answers every request with the status body. Each benchmark
// run gets its own, so the threads it keeps per connection are joined between runs.
struct StatusDaemon {
    StatusDaemon() : daemon(dir.file("d.sock")) {
        daemon.setHandler([](const FakeDaemon::Request&) {
            return FakeDaemon::Reply::http(200, kStatusBody);
        });
    }
    TempDir dir;
    FakeDaemon daemon;
};

void LocalAPIGetStatus(benchmark::State& state) {
    StatusDaemon fake;
    TestLogger log;
    LocalAPIClient client(fake.daemon.socketPath(), log.logger(), std::make_shared<WorkerPool>());
    std::binary_semaphore done(0);
    bool decoded = false;
    for (auto _ : state) {
        client.getStatus([&](std::expected<DaemonStatus, LocalAPIError> status) {
            decoded = status && status->backendState == "Running";
            done.release();
        });
        done.acquire();
        if (!decoded) return state.SkipWithError("getStatus failed");
    }
}
BENCHMARK(LocalAPIGetStatus)->UseRealTime();

// The same request and response bytes over the same socket with nothing around them: connect, one
// write, read until the daemon closes, close.
bool bareExchange(const std::string& path, const std::string& request) {
    auto fd = UnixSocket::connect(path);
    if (!fd) return false;
    if (UnixSocket::sendOnce(fd->get(), request.data(), request.size()) < 0) return false;
    char chunk[LocalAPIClient::kReadChunkSize];
    std::size_t total = 0;
    for (ssize_t n; (n = ::recv(fd->get(), chunk, sizeof chunk, 0)) > 0;) {
        total += static_cast<std::size_t>(n);
    }
    return total > 0;
}

void BareExchange(benchmark::State& state) {
    StatusDaemon fake;
    const std::string request = LocalAPIClient::buildRequest("GET", "/localapi/v0/status");
    for (auto _ : state) {
        if (!bareExchange(fake.daemon.socketPath(), request)) {
            return state.SkipWithError("exchange failed");
        }
    }
}
BENCHMARK(BareExchange)->UseRealTime();

// The bare exchange run on a worker pool, as the client runs its own: set against the client, it
// shows the cost of the client's code apart from the two thread hops it shares.
void BareExchangeFromPool(benchmark::State& state) {
    StatusDaemon fake;
    WorkerPool pool;
    const std::string request = LocalAPIClient::buildRequest("GET", "/localapi/v0/status");
    std::binary_semaphore done(0);
    bool exchanged = false;
    for (auto _ : state) {
        pool.submit([&] {
            exchanged = bareExchange(fake.daemon.socketPath(), request);
            done.release();
        });
        done.acquire();
        if (!exchanged) return state.SkipWithError("exchange failed");
    }
}
BENCHMARK(BareExchangeFromPool)->UseRealTime();

}  // namespace
}  // namespace tw
