#include "app/menu/LogExporter.h"

#include <system_error>

namespace tw {

namespace {

// Copies beside the destination first, so that a copy that fails half-way (an unreadable source,
// a full disk) neither leaves a torn file nor costs the user the one it would have replaced.
bool copyReplacing(const std::filesystem::path& source, const std::filesystem::path& destination) {
    auto staged = destination;
    staged.replace_filename("." + destination.filename().string() + ".partial");
    std::error_code error;
    const bool copied = std::filesystem::copy_file(
        source, staged, std::filesystem::copy_options::overwrite_existing, error);
    if (copied && !error) std::filesystem::rename(staged, destination, error);
    if (!copied || error) {
        std::error_code ignored;
        std::filesystem::remove(staged, ignored);
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> LogExporter::copyInto(const std::filesystem::path& folder,
                                               const std::vector<Source>& sources) {
    std::vector<std::string> copied;
    for (const auto& source : sources) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(source.path, error)) continue;
        if (copyReplacing(source.path, folder / source.name)) copied.push_back(source.name);
    }
    return copied;
}

}  // namespace tw
