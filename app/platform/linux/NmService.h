#pragma once

#include <QString>

namespace tw {

// NetworkManager on the system bus.
struct NmService {
    static inline const QString kName = "org.freedesktop.NetworkManager";
    static inline const QString kPath = "/org/freedesktop/NetworkManager";
};

}  // namespace tw
