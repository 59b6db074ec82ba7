#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace tw {

// Whether files of the bundle may be copied into the system as root: only when no user but root
// could have chosen their contents. Each file, and each folder from the bundle root down to it,
// must be owned by root, not writable by group or others, and no symbolic link. Folders above the
// bundle root (a sticky /tmp, say) are not asked about.
class RootOwnedBundleFiles {
public:
    // Nothing when every file passes; else what is wrong with the first one that does not.
    static std::expected<void, std::string> check(const std::filesystem::path& bundleRoot,
                                                  const std::vector<std::filesystem::path>& files);
};

}  // namespace tw
