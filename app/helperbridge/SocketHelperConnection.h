#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "app/helperbridge/HelperConnection.h"

namespace tw {

class WorkerPool;

// The helper's Unix socket: one connection per request, one JSON request line out, one reply
// line back, then the connection is closed. The whole exchange, the connect included, runs on
// the worker pool.
class SocketHelperConnection final : public HelperConnection {
public:
    static constexpr std::string_view kDefaultSocketPath = "/run/tarnwick/helper.sock";
    // The helper answers once the command has finished; a helper silent for this long is lost.
    static constexpr std::chrono::seconds kDefaultReplyLimit{120};

    SocketHelperConnection(std::string socketPath, std::shared_ptr<WorkerPool> pool,
                           std::chrono::milliseconds replyLimit = kDefaultReplyLimit);

    void runGoTool(const std::string& path, const std::vector<std::string>& arguments,
                   Callbacks callbacks) override;

private:
    const std::string socketPath_;
    const std::shared_ptr<WorkerPool> pool_;
    const std::chrono::milliseconds replyLimit_;
};

}  // namespace tw
