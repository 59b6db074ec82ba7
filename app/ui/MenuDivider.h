#pragma once

#include <QWidget>

#include "app/menu/MenuRow.h"
#include "app/ui/PanelTheme.h"

namespace tw {

// A thin separator line with the row's margins and insets around it.
class MenuDivider final : public QWidget {
    Q_OBJECT

public:
    MenuDivider(const MenuRow& row, const PanelTheme& theme, QWidget* parent = nullptr);

    const MenuRow& row() const { return row_; }
    void setRow(const MenuRow& row);
    void setTheme(const PanelTheme& theme);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MenuRow row_;
    PanelTheme theme_;
};

}  // namespace tw
