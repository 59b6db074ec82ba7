#include "app/platform/linux/DesktopUrlOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace tw {

bool DesktopUrlOpener::open(const std::string& url) {
    // A plain path is a local folder or file; anything else must parse as a URL with a scheme.
    const auto text = QString::fromStdString(url);
    const auto target = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text, QUrl::StrictMode);
    if (!target.isValid() || target.scheme().isEmpty()) return false;
    return QDesktopServices::openUrl(target);
}

}  // namespace tw
