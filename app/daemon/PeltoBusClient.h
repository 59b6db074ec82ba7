#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/daemon/PeltoBus.h"
#include "app/daemon/PeltoBusClientDelegate.h"
#include "app/daemon/StreamFramer.h"
#include "base/SerialQueue.h"
#include "base/UniqueFd.h"

namespace tw {

class AppLogger;
class MainQueue;
class WorkerPool;

// Keeps the daemon's event stream open for as long as it runs: connect, read, split the body at
// line feeds, decode each line and hand it to the delegate on the main queue; after any failure
// or end of the stream, reconnect after a fixed pause. Also sends the logout request.
class PeltoBusClient final : public PeltoBus {
public:
    static constexpr std::string_view kStreamRequest =
        "GET /localapi/v0/observe-pelto-bus HTTP/1.1\r\nHost: local-tarnwickd.sock\r\n\r\n";
    static constexpr std::string_view kLogoutRequest =
        "POST /localapi/v0/logout HTTP/1.1\r\nHost: local-tarnwickd.sock\r\n\r\n";
    static constexpr std::size_t kReadChunkSize = 4096;

    struct Options {
        double reconnectDelaySeconds = 3.0;
        // Bytes of one line (or of the response header) held before a line feed arrives. A whole
        // network map of a large network is a few MiB; past this the stream is treated as broken.
        std::size_t maxPendingBytes = 64 * 1024 * 1024;
        // Bounds each step of the logout exchange.
        std::chrono::milliseconds logoutTimeout{30'000};
        // Bounds the stream's connect (a daemon whose listen queue is full never completes it),
        // and so how long stop() may take to end the loop.
        std::chrono::milliseconds connectTimeout{5'000};
        // How long the stream stays quiet before the buffers of a large line are given back.
        std::chrono::milliseconds quietBeforeRelease{5'000};
    };

    PeltoBusClient(std::string socketPath, std::shared_ptr<AppLogger> logger,
                   std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<WorkerPool> pool,
                   Options options);
    PeltoBusClient(std::string socketPath, std::shared_ptr<AppLogger> logger,
                   std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<WorkerPool> pool)
        : PeltoBusClient(std::move(socketPath), std::move(logger), std::move(mainQueue),
                         std::move(pool), Options()) {}
    // Stops the stream and waits for its loop to end.
    ~PeltoBusClient() override;
    PeltoBusClient(const PeltoBusClient&) = delete;
    PeltoBusClient& operator=(const PeltoBusClient&) = delete;

    // The delegate is held weakly and looked up when each callback runs.
    void setDelegate(std::weak_ptr<PeltoBusClientDelegate> delegate) override;

    // Opens the stream unless it is already running. Returns at once.
    void start() override;
    // Ends the stream: a blocked read returns and a pending reconnect pause ends at once.
    void stop() override;
    bool isRunning() const { return isRunning_.load(); }

    // Sends the logout request on its own connection from the worker pool; the outcome is only
    // logged.
    void logout() override;

private:
    void connectLoop();
    void streamOnce(UniqueFd fd);
    bool adoptSocket(int fd);
    void releaseSocket();
    // Returns whether the stream should continue.
    bool pauseBeforeReconnect();
    void readStream(int fd);
    void releaseLargeBuffersWhenQuiet(int fd);
    // Returns false when the pending bytes exceed the limit.
    bool processData(const char* data, std::size_t size);
    void post(std::function<void(PeltoBusClientDelegate&)> callback);
    void log(const std::string& message) const;

    const std::string socketPath_;
    const std::shared_ptr<AppLogger> logger_;
    const std::shared_ptr<MainQueue> mainQueue_;
    const std::shared_ptr<WorkerPool> pool_;
    const Options options_;

    std::mutex delegateMutex_;
    std::weak_ptr<PeltoBusClientDelegate> delegate_;

    // isRunning_ and socketFD_ change together under socketMutex_, so that stop() either sees the
    // socket of the current connection and shuts it down, or the loop sees the cleared flag.
    std::atomic<bool> isRunning_{false};
    std::mutex socketMutex_;
    std::condition_variable stopped_;
    int socketFD_ = -1;

    // Touched only on the stream thread.
    StreamFramer framer_;

    // Last, so that it is destroyed (and its thread joined) before anything the loop uses.
    SerialQueue queue_{"com.tarnwick.desktop.peltobus"};
};

}  // namespace tw
