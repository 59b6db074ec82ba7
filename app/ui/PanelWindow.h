#pragma once

#include <memory>

#include <QPointer>

#include "app/menu/MenuPanelModel.h"
#include "app/ui/MenuPopover.h"
#include "app/ui/MenuRowList.h"
#include "app/ui/RoundedPopup.h"
#include "app/ui/UninstallConfirmation.h"
#include "base/Subscription.h"

namespace tw {

// The panel under the tray icon: the model's rows, its two popovers attached to their rows, and
// the uninstall confirmation, all redrawn from the model's panel on every change. Input goes to
// the model; the panel decides nothing about what it shows.
class PanelWindow final : public RoundedPopup {
    Q_OBJECT

public:
    static constexpr int panelWidth = 280;

    explicit PanelWindow(std::shared_ptr<MenuPanelModel> model, QWidget* parent = nullptr);

    void setTheme(const PanelTheme& theme) override;
    // Shows the panel as a popup beside `anchor` (global coordinates: the icon, or the pointer).
    void showAt(const QRect& anchor);
    // Shows the panel as a small ordinary window (no tray to anchor it to).
    void showAsWindow();

    MenuRowList& rows() { return *rows_; }
    MenuPopover& morePopover() { return *more_; }
    MenuPopover& switchAccountPopover() { return *switchAccount_; }
    UninstallConfirmation* uninstallConfirmation() const { return confirmation_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    MenuRowList::Handlers handlers();
    void render(const MenuPanel& panel);
    void syncPopover(MenuPopover& popover, bool presented, MenuRowId anchorRow);
    void syncConfirmation(bool shown);
    void present(Presentation presentation);
    void place();

    const std::shared_ptr<MenuPanelModel> model_;
    MenuRowList* rows_;
    MenuPopover* more_;
    MenuPopover* switchAccount_;
    QPointer<UninstallConfirmation> confirmation_;
    QRect anchor_;
    Subscription subscription_;
};

}  // namespace tw
