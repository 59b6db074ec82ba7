#pragma once

#include <QString>

namespace tw {

// The extension's Info.json, which sits next to its program (in the application's bundle and
// where the registration installs it).
class ExtensionInfo {
public:
    static constexpr const char* kFallbackIdentifier = "com.tarnwick.desktop.PacketTunnel";

    // CFBundleIdentifier of `directory`/Info.json when it is a string that is not empty, else
    // the fallback. The identifier is the plugin's bus name and its system-log identifier.
    static QString bundleIdentifier(const QString& directory);
};

}  // namespace tw
