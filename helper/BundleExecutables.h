#pragma once

#include <expected>
#include <filesystem>
#include <string>

namespace tw {

// The only programs the helper runs: the bundle's own CLI and node daemon in its Resources folder.
class BundleExecutables {
  public:
    enum class Kind { cli, daemon };
    struct Match {
        Kind kind;
        std::string executable;  // the resolved path, which is what gets run
    };

    explicit BundleExecutables(std::filesystem::path resources)
        : resources_(std::move(resources)) {}

    // <prefix>/libexec/tarnwick/tarnwick-helper -> <prefix>/lib/tarnwick/Resources
    static std::filesystem::path resourcesFor(const std::filesystem::path& helperExecutable);

    // Which bundle executable `path` is once every symlink is resolved. errno otherwise: that of
    // resolving the path, or EPERM for any other file.
    std::expected<Match, int> resolve(const std::string& path) const;

  private:
    std::filesystem::path resources_;
};

}  // namespace tw
