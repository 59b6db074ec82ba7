#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <semaphore>

#include "app/daemon/PeltoBusClient.h"
#include "base/ThreadMainQueue.h"
#include "base/WorkerPool.h"
#include "bench/NetworkMapGenerator.h"
#include "tests/support/FakeDaemon.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestLogger.h"

namespace tw {
namespace {

using Clock = std::chrono::steady_clock;
using Reply = FakeDaemon::Reply;

constexpr auto kHeader = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
constexpr auto kSmallLine =
    R"({"Version":"1.62.0-t4c1e2a9","State":"Running","ErrMessage":null,)"
    R"("InteractiveLoginUrl":"","Jailed":false})"
    "\n";
constexpr std::size_t kBatch = 20'000;
// Far beyond any run; a notification that never comes fails the benchmark instead of hanging it.
constexpr auto kPatience = std::chrono::seconds(30);

// Counts notifications on the main queue and wakes the benchmark at the expected count.
class CountingDelegate final : public PeltoBusClientDelegate {
public:
    void expect(std::size_t count) {
        received_ = 0;
        expected_ = count;
    }
    void peltoBusDidConnect() override {}
    void peltoBusDidDisconnect(const std::optional<std::string>&) override {}
    void peltoBusDidReceiveNotify(const PeltoBusNotify&) override {
        if (++received_ != expected_) return;
        arrival_.store(Clock::now().time_since_epoch().count());
        reached_.release();
    }
    // Waits for the count and returns when the last notification ran.
    std::optional<Clock::time_point> wait() {
        if (!reached_.try_acquire_for(kPatience)) return std::nullopt;
        return Clock::time_point(Clock::duration(arrival_.load()));
    }

private:
    std::size_t received_ = 0;
    std::size_t expected_ = 0;
    std::atomic<Clock::rep> arrival_{0};
    std::binary_semaphore reached_{0};
};

// One stream connection per benchmark iteration: a fresh client, the daemon's bytes, the
// notifications on a real main-queue thread.
class StreamRig {
public:
    StreamRig() : daemon_(dir_.file("d.sock")) {}

    FakeDaemon& daemon() { return daemon_; }

    // Starts a client, waits for `count` notifications and returns when the last one ran.
    std::optional<Clock::time_point> run(std::size_t count) {
        delegate_->expect(count);
        PeltoBusClient::Options options;
        options.reconnectDelaySeconds = 60;  // one connection per run: the daemon closes after it
        PeltoBusClient client(daemon_.socketPath(), log_.logger(), main_, pool_, options);
        client.setDelegate(delegate_);
        client.start();
        const auto arrival = delegate_->wait();
        client.stop();
        return arrival;
    }

private:
    TempDir dir_;
    TestLogger log_;
    FakeDaemon daemon_;
    std::shared_ptr<ThreadMainQueue> main_ = std::make_shared<ThreadMainQueue>();
    std::shared_ptr<WorkerPool> pool_ = std::make_shared<WorkerPool>(1);
    std::shared_ptr<CountingDelegate> delegate_ = std::make_shared<CountingDelegate>();
};

// From the client's start (connect, request, header) to the last of a batch of small
// notifications delivered on the main queue.
void StreamSmallNotifications(benchmark::State& state) {
    std::string bytes = kHeader;
    for (std::size_t i = 0; i < kBatch; ++i) bytes += kSmallLine;
    StreamRig rig;
    for (auto _ : state) {
        rig.daemon().enqueue(Reply().send(bytes));
        const auto start = Clock::now();
        const auto arrival = rig.run(kBatch);
        if (!arrival) return state.SkipWithError("the notifications did not all arrive");
        state.SetIterationTime(std::chrono::duration<double>(*arrival - start).count());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBatch));
    state.counters["notifications"] = kBatch;
}
BENCHMARK(StreamSmallNotifications)->UseManualTime()->Unit(benchmark::kMillisecond);

// From the moment the daemon starts writing the response to the moment the decoded network map
// runs on the main queue.
void StreamNetworkMapLatency(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    const Reply reply = Reply().send(kHeader + line + "\n");
    std::atomic<Clock::rep> written{0};
    StreamRig rig;
    rig.daemon().setHandler([&](const FakeDaemon::Request&) {
        Reply copy = reply;
        written.store(Clock::now().time_since_epoch().count());
        return copy;
    });
    for (auto _ : state) {
        const auto arrival = rig.run(1);
        if (!arrival) return state.SkipWithError("the network map did not arrive");
        const auto start = Clock::time_point(Clock::duration(written.load()));
        state.SetIterationTime(std::chrono::duration<double>(*arrival - start).count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(StreamNetworkMapLatency)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tw
