#pragma once

namespace tw {

// NMVpnServiceState: the plugin's state as NetworkManager reads it.
enum class PluginState : unsigned {
    unknown = 0,
    init = 1,
    shutdown = 2,
    starting = 3,
    started = 4,
    stopping = 5,
    stopped = 6,
};

}  // namespace tw
