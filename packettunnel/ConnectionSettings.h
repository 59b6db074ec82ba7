#pragma once

#include <QMap>
#include <QString>
#include <QVariantMap>

namespace tw {

// A NetworkManager connection as it travels over D-Bus (a{sa{sv}}): setting name → properties.
using ConnectionSettings = QMap<QString, QVariantMap>;

}  // namespace tw
