#pragma once

#include <filesystem>
#include <string>

namespace tw {

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away. Paths are kept short so that socket paths inside stay well under the
// Unix socket limit.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace tw
