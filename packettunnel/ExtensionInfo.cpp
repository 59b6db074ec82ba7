#include "packettunnel/ExtensionInfo.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace tw {

namespace {

// Info.json is written by the build; anything larger is not ours.
constexpr qint64 kMaxInfoSize = 1024 * 1024;

}  // namespace

QString ExtensionInfo::bundleIdentifier(const QString& directory) {
    QFile file(directory + "/Info.json");
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxInfoSize) {
        const auto identifier =
            QJsonDocument::fromJson(file.read(kMaxInfoSize)).object().value("CFBundleIdentifier");
        if (identifier.isString() && !identifier.toString().isEmpty()) return identifier.toString();
    }
    return kFallbackIdentifier;
}

}  // namespace tw
