#pragma once

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace tw {

// Whole-file reads and writes of small files that other programs may read at any moment (the
// preferences, the autostart entry). A write replaces the file in one step: a reader sees the old
// content or the new, never a part, and a crash midway leaves the old file in place.
class AtomicFile {
  public:
    // The file's content when it is a regular file of at most `maxBytes`; otherwise the errno
    // (ENOENT when missing, EFBIG when larger).
    static std::expected<std::string, int> read(const std::filesystem::path& path,
                                                std::size_t maxBytes);

    // Writes `content` to a new temporary file beside `path` with the permissions `mode`, flushes
    // it to disk, renames it over `path` and flushes the folder. The folder must exist. On failure
    // the temporary file is gone, `path` is untouched and the errno of the failed step returned.
    static std::expected<void, int> write(const std::filesystem::path& path,
                                          std::string_view content, mode_t mode);
};

}  // namespace tw
