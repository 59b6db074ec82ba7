#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/menu/MenuRow.h"
#include "app/ui/MenuRowButton.h"
#include "app/ui/PanelTheme.h"

class QVBoxLayout;

namespace tw {

// A vertical stack of rows, one widget per MenuRow. A new list of the same shape (kinds, ids and
// profiles in the same order) updates the widgets in place, so a hover change redraws one row and
// the pointer and keyboard focus stay where they are. Up and Down move the keyboard focus between
// the rows that take it, wrapping around.
class MenuRowList final : public QWidget {
    Q_OBJECT

public:
    struct Handlers {
        std::function<void(const MenuRow&)> activate;
        MenuRowButton::HoverHandler hover;
    };

    MenuRowList(const PanelTheme& theme, Handlers handlers, QWidget* parent = nullptr);

    void setRows(const std::vector<MenuRow>& rows);
    void setTheme(const PanelTheme& theme);

    // The widget of the row, or null.
    QWidget* widgetFor(MenuRowId id, const std::string& profileId = {}) const;
    MenuRowButton* buttonFor(MenuRowId id, const std::string& profileId = {}) const;
    // Reports the pointer as gone from every row still drawn hovered (the list is being hidden,
    // and a hidden widget gets no leave event).
    void clearHover();
    // Gives the keyboard focus to the first (or last) row that takes it.
    void focusEdgeRow(bool first);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* create(const MenuRow& row);
    void update(QWidget* widget, const MenuRow& row);
    static bool sameShape(const std::vector<MenuRow>& a, const std::vector<MenuRow>& b);
    std::vector<MenuRowButton*> focusableButtons() const;

    QVBoxLayout* layout_;
    PanelTheme theme_;
    Handlers handlers_;
    std::vector<MenuRow> rows_;
    std::vector<QWidget*> widgets_;
};

}  // namespace tw
