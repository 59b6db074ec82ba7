#include "helper/BundleExecutables.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

namespace tw {

namespace {

std::expected<std::string, int> realPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::unexpected(errno);
    return std::string(resolved);
}

}  // namespace

std::filesystem::path BundleExecutables::resourcesFor(
    const std::filesystem::path& helperExecutable) {
    const auto prefix = helperExecutable.parent_path().parent_path().parent_path();
    return prefix / "lib" / "tarnwick" / "Resources";
}

std::expected<BundleExecutables::Match, int> BundleExecutables::resolve(
    const std::string& path) const {
    auto requested = realPath(path);
    if (!requested) return std::unexpected(requested.error());
    // Resolved on every request: an update may replace the bundle while the helper runs.
    for (const auto& [name, kind] :
         {std::pair{"tarnwick", Kind::cli}, std::pair{"tarnwickd", Kind::daemon}}) {
        const auto own = realPath((resources_ / name).string());
        if (own && *own == *requested) return Match{kind, *own};
    }
    return std::unexpected(EPERM);
}

}  // namespace tw
