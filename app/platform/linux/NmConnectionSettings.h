#pragma once

#include <QMap>
#include <QString>
#include <QVariantMap>

namespace tw {

// A NetworkManager connection profile as it travels over D-Bus (a{sa{sv}}): setting name →
// properties.
using NmConnectionSettings = QMap<QString, QVariantMap>;

}  // namespace tw
