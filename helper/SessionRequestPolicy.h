#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "helper/BundleExecutables.h"

namespace tw {

// What a user of the active session may have the helper run: exactly the argument vectors the
// application sends — the daemon with "--help", the daemon with "up" and the servers the bundle's
// Info.json names (so that nobody points the root daemon at a server of their choosing), and the
// CLI with "down".
class SessionRequestPolicy {
  public:
    // `bundleRoot` holds Info.json and the Resources folder of `executables`.
    SessionRequestPolicy(BundleExecutables executables, std::filesystem::path bundleRoot)
        : executables_(std::move(executables)), bundleRoot_(std::move(bundleRoot)) {}

    // Why the request is not one of those; nothing when it is.
    std::optional<std::string> refusal(const std::string& path,
                                       const std::vector<std::string>& arguments) const;

  private:
    // "up" and the server options, from Info.json as it is now (an update may change it).
    std::vector<std::string> daemonStart() const;

    const BundleExecutables executables_;
    const std::filesystem::path bundleRoot_;
};

}  // namespace tw
