#pragma once

namespace tw {

// The status item and its panel as the application shell drives them. Implemented by the Qt
// views; the shell and its tests see only this.
class StatusBarController {
public:
    virtual ~StatusBarController() = default;

    // Builds the tray icon, the panel and the outside-click handling, once, at launch.
    virtual void setupMenuBar() = 0;
    // (Re)applies the tray icon.
    virtual void updateStatusItemIcon() = 0;
    // Shows the panel when hidden, hides it when shown.
    virtual void togglePopover() = 0;
    // Places the panel at the icon and shows it (also when a login link arrives).
    virtual void showWindow() = 0;
};

}  // namespace tw
