#pragma once

#include <optional>

#include <QObject>
#include <QDBusVariant>
#include <QVariant>

class QDBusPendingCallWatcher;

namespace tw {

// Whether the desktop prefers dark: the XDG desktop portal's org.freedesktop.appearance
// color-scheme where a portal runs (asked without waiting, and followed as it changes), else the
// platform palette. Qt 6.4 has no colour-scheme API of its own.
class DesktopColorScheme final : public QObject {
    Q_OBJECT

public:
    explicit DesktopColorScheme(QObject* parent = nullptr);

    bool prefersDark() const;

signals:
    void changed();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void readAnswer(QDBusPendingCallWatcher* watcher);
    void apply(const QVariant& value);

    // 1 prefers dark, 2 prefers light, 0 or absent: no preference, the palette decides.
    std::optional<uint> portalScheme_;
};

}  // namespace tw
