#pragma once

#include <QWidget>

#include "app/ui/PanelTheme.h"

namespace tw {

// A frameless popup with rounded corners, closed by a click outside it or by Escape. With a
// compositor its corners blend with what lies behind; without one, transparent pixels would show
// black, so the corners are cut with a mask instead. As an ordinary window (when there is no tray
// to hang a popup from) it is opaque and decorated by the window manager.
class RoundedPopup : public QWidget {
    Q_OBJECT

public:
    enum class Presentation { popup, window };

    explicit RoundedPopup(QWidget* parent = nullptr);

    void setPresentation(Presentation presentation);
    Presentation presentation() const { return presentation_; }
    const PanelTheme& theme() const { return theme_; }
    // Applies the theme to the background; subclasses pass it on to their rows.
    virtual void setTheme(const PanelTheme& theme);

    static constexpr int cornerRadius = 10;

protected:
    // Takes exactly the height its rows need at its width (wrapped lines included).
    void fitHeight();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void updateMask();
    // True when a compositing manager owns the X selection _NET_WM_CM_S0, and on every platform
    // that composites by design (Wayland, offscreen).
    static bool compositorRunning();

    Presentation presentation_ = Presentation::popup;
    PanelTheme theme_;
    bool composited_ = true;
};

}  // namespace tw
