#pragma once

namespace tw {

// The application's view of the tunnel.
enum class VPNConnectionStatus { disconnected, connected, connecting, disconnecting, error, unknown };

}  // namespace tw
