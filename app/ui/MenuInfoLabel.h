#pragma once

#include <QLabel>

#include "app/menu/MenuRow.h"
#include "app/ui/PanelTheme.h"

namespace tw {

// An information line or a heading: a label to assistive technology, named by its whole text
// even when a one-line label shows it shortened. The status line's dot sits in its leading margin.
class MenuInfoLabel final : public QLabel {
    Q_OBJECT

public:
    MenuInfoLabel(const MenuRow& row, const PanelTheme& theme, QWidget* parent = nullptr);

    const MenuRow& row() const { return row_; }
    void setRow(const MenuRow& row);
    void setTheme(const PanelTheme& theme);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void apply();
    void elide();

    MenuRow row_;
    PanelTheme theme_;
};

}  // namespace tw
