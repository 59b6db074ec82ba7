#pragma once

#include <functional>

#include "app/ui/MenuRowList.h"
#include "app/ui/RoundedPopup.h"

namespace tw {

// A popover of the panel ("More", "Switch Account"): its rows in a rounded popup beside the row
// it belongs to. Reports every hiding, whether the owner asked for it or the platform closed it
// (outside click, Escape).
class MenuPopover final : public RoundedPopup {
    Q_OBJECT

public:
    static constexpr int contentWidth = 260;

    MenuPopover(MenuRowList::Handlers handlers, std::function<void()> hidden, QWidget* parent = nullptr);

    MenuRowList& rows() { return *rows_; }
    void setTheme(const PanelTheme& theme) override;
    // Shows the popover beside `panel` at the height of `row` (both in global coordinates).
    void showBeside(const QRect& panel, const QRect& row);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    MenuRowList* rows_;
    std::function<void()> hidden_;
};

}  // namespace tw
