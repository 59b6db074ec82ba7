#pragma once

#include <expected>
#include <string>

#include "devdaemon/StandInState.h"

namespace tw {

// The JSON file that keeps the stand-in's profiles and its WantRunning between runs.
class StandInStateFile {
public:
    explicit StandInStateFile(std::string path) : path_(std::move(path)) {}

    // A file that does not exist yet reads as a fresh state; one that cannot be read or parsed
    // is an error, so that it is not overwritten by mistake.
    std::expected<StandInState::Saved, std::string> load() const;
    // Replaces the file whole (a temporary file renamed over it).
    std::expected<void, std::string> save(const StandInState::Saved& saved) const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace tw
