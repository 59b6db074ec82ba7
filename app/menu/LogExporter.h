#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tw {

// The file work of the menu's log export. Blocking: run it off the main queue.
class LogExporter {
public:
    struct Source {
        std::filesystem::path path;
        std::string name;  // the copy's file name in the chosen folder
    };

    // Copies each source that exists into `folder` under its name, in order, replacing a file of
    // that name. A source that is missing or cannot be copied is skipped and leaves any earlier
    // file of its name as it was. Returns the names copied.
    static std::vector<std::string> copyInto(const std::filesystem::path& folder,
                                             const std::vector<Source>& sources);
};

}  // namespace tw
