#pragma once

#include <filesystem>

#include <QColor>
#include <QIcon>

namespace tw {

// The tray icon's images: the installed symbolic icon, which the tray host recolours itself; the
// bundle's SVG asset drawn in one colour; the text "TW" when the asset is missing.
class StatusIconFactory {
public:
    // The name of the symbolic icon in the hicolor theme.
    static constexpr const char* themeName = "com.tarnwick.desktop-symbolic";

    // The symbolic icon the package installs, or a null icon when it is not installed.
    static QIcon themed();
    // The SVG drawn in `color` at the tray's usual sizes; null when it cannot be read.
    static QIcon fromAsset(const std::filesystem::path& svg, const QColor& color);
    static QIcon text(const QColor& color);
};

}  // namespace tw
