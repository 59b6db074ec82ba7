#pragma once

#include <functional>

#include <QAbstractButton>

#include "app/menu/MenuRow.h"
#include "app/ui/PanelTheme.h"

namespace tw {

// An action, profile or warning row: a push button to assistive technology, named by its text,
// drawn with the row style (full width, the row's insets, gray behind it while hovered, rounded
// corners), and clickable over its whole rectangle. Enter and Space press it; the arrow keys are
// left to the row list.
class MenuRowButton final : public QAbstractButton {
    Q_OBJECT

public:
    using HoverHandler = std::function<void(const MenuRow&, bool hovering)>;

    MenuRowButton(const MenuRow& row, const PanelTheme& theme, HoverHandler hover,
                  QWidget* parent = nullptr);

    const MenuRow& row() const { return row_; }
    void setRow(const MenuRow& row);
    void setTheme(const PanelTheme& theme);

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Geometry {
        QRect box;       // the highlighted, rounded rectangle
        QRect leading;   // the symbol or dot column, empty when the row has none
        QRect text;
        QRect detail;    // the warning row's guide text, empty otherwise
        QRect trailing;  // the trailing symbol, empty when the row has none
    };

    Geometry geometryFor(int width) const;
    int detailHeight(int width) const;
    static int wrappedHeight(const QFontMetrics& metrics, int width, const QString& text);
    bool hasLeadingColumn() const;
    void paintSymbols(QPainter& painter, const Geometry& geometry) const;

    MenuRow row_;
    PanelTheme theme_;
    HoverHandler hover_;
};

}  // namespace tw
