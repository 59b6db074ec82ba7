#include "app/ui/RoundedPopup.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <QGuiApplication>
#include <QScreen>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

namespace tw {
namespace {

QPainterPath roundedPath(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, RoundedPopup::cornerRadius, RoundedPopup::cornerRadius);
    return path;
}

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

}  // namespace

RoundedPopup::RoundedPopup(QWidget* parent) : QWidget(parent) {
    theme_ = PanelTheme::make(false, font());
    setPresentation(Presentation::popup);
}

void RoundedPopup::setPresentation(Presentation presentation) {
    presentation_ = presentation;
    const bool popup = presentation == Presentation::popup;
    setWindowFlags(popup ? Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint : Qt::Window);
    setAttribute(Qt::WA_TranslucentBackground, popup);
    updateMask();
}

void RoundedPopup::setTheme(const PanelTheme& theme) {
    theme_ = theme;
    update();
}

bool RoundedPopup::compositorRunning() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return true;
    static constexpr const char* selection = "_NET_WM_CM_S0";
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(selection)), selection),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_NONE;
}

void RoundedPopup::fitHeight() {
    // Layouts cache heights per width; a theme or row change may not have reached those caches yet.
    for (QLayout* layout : findChildren<QLayout*>()) layout->invalidate();
    const int height = hasHeightForWidth() ? heightForWidth(width()) : sizeHint().height();
    // Never an empty or unbounded window: neither can be drawn, and the X server refuses both.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int tallest = screen ? screen->availableGeometry().height() : 2000;
    resize(width(), std::clamp(height, 1, std::max(1, tallest)));
}

void RoundedPopup::showEvent(QShowEvent* event) {
    if (presentation_ == Presentation::popup) composited_ = compositorRunning();
    updateMask();
    QWidget::showEvent(event);
}

void RoundedPopup::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateMask();
}

void RoundedPopup::updateMask() {
    if (presentation_ == Presentation::popup && !composited_) {
        setMask(QRegion(roundedPath(rect()).toFillPolygon().toPolygon()));
    } else {
        clearMask();
    }
}

void RoundedPopup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = theme_.background;
    if (presentation_ == Presentation::window || !composited_) {
        background.setAlpha(255);
        painter.fillRect(rect(), background);
        return;
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(QPen(theme_.divider, 1));
    painter.setBrush(background);
    painter.drawPath(roundedPath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)));
}

}  // namespace tw
