#include "app/platform/linux/RootOwnedBundleFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace tw {

namespace {

std::expected<void, std::string> checkOne(const std::filesystem::path& path, bool folder) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::unexpected(path.string() + ": " + std::strerror(errno));
    }
    if (S_ISLNK(status.st_mode)) return std::unexpected(path.string() + " is a symbolic link");
    if (folder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) {
        return std::unexpected(path.string() + (folder ? " is no folder" : " is no regular file"));
    }
    if (status.st_uid != 0) return std::unexpected(path.string() + " is not owned by root");
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::unexpected(path.string() + " is writable by group or others");
    }
    return {};
}

}  // namespace

std::expected<void, std::string> RootOwnedBundleFiles::check(
    const std::filesystem::path& bundleRoot, const std::vector<std::filesystem::path>& files) {
    const auto root = bundleRoot.lexically_normal();
    for (const auto& file : files) {
        const auto relative = file.lexically_normal().lexically_relative(root);
        if (relative.empty() || *relative.begin() == "..") {
            return std::unexpected(file.string() + " is outside the bundle " + root.string());
        }
        auto folder = root;
        if (auto checked = checkOne(folder, true); !checked) return checked;
        for (auto part = relative.begin(); std::next(part) != relative.end(); ++part) {
            folder /= *part;
            if (auto checked = checkOne(folder, true); !checked) return checked;
        }
        if (auto checked = checkOne(root / relative, false); !checked) return checked;
    }
    return {};
}

}  // namespace tw
