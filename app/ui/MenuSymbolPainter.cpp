#include "app/ui/MenuSymbolPainter.h"

#include <QPainterPath>

namespace tw {
namespace {

// The symbol's own square, centred in the box, with a margin proportional to its size.
QRectF symbolSquare(const QRectF& box, double scale) {
    const double side = std::min(box.width(), box.height()) * scale;
    return {box.center().x() - side / 2, box.center().y() - side / 2, side, side};
}

QPen strokePen(const QColor& color, double width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void paintWarningTriangle(QPainter& painter, const QRectF& s, const QColor& color) {
    QPainterPath triangle;
    triangle.moveTo(s.center().x(), s.top());
    triangle.lineTo(s.right(), s.bottom());
    triangle.lineTo(s.left(), s.bottom());
    triangle.closeSubpath();
    painter.setPen(strokePen(color, s.width() * 0.12));
    painter.setBrush(color);
    painter.drawPath(triangle);
    const QColor mark = Qt::white;
    const double x = s.center().x();
    painter.setPen(strokePen(mark, s.width() * 0.13));
    painter.drawLine(QPointF(x, s.top() + s.height() * 0.38), QPointF(x, s.top() + s.height() * 0.66));
    painter.drawPoint(QPointF(x, s.top() + s.height() * 0.84));
}

void paintArrowUpForward(QPainter& painter, const QRectF& s, const QColor& color) {
    painter.setPen(strokePen(color, s.width() * 0.09));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(s, s.width() * 0.2, s.width() * 0.2);
    const QRectF a = s.adjusted(s.width() * 0.3, s.height() * 0.3, -s.width() * 0.3, -s.height() * 0.3);
    painter.drawLine(a.bottomLeft(), a.topRight());
    painter.drawLine(a.topRight(), QPointF(a.left() + a.width() * 0.25, a.top()));
    painter.drawLine(a.topRight(), QPointF(a.right(), a.bottom() - a.height() * 0.25));
}

}  // namespace

void MenuSymbolPainter::paint(QPainter& painter, MenuSymbol symbol, const QRectF& box,
                              const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    switch (symbol) {
    case MenuSymbol::none: break;
    case MenuSymbol::chevronRight: {
        const QRectF s = symbolSquare(box, 0.55);
        painter.setPen(strokePen(color, s.width() * 0.16));
        const double x = s.center().x() - s.width() * 0.15;
        painter.drawPolyline(QPolygonF{QPointF(x, s.top()), QPointF(x + s.width() * 0.35, s.center().y()),
                                       QPointF(x, s.bottom())});
        break;
    }
    case MenuSymbol::checkmark: {
        const QRectF s = symbolSquare(box, 0.6);
        painter.setPen(strokePen(color, s.width() * 0.15));
        painter.drawPolyline(QPolygonF{QPointF(s.left(), s.center().y()),
                                       QPointF(s.left() + s.width() * 0.38, s.bottom() - s.height() * 0.1),
                                       QPointF(s.right(), s.top() + s.height() * 0.1)});
        break;
    }
    case MenuSymbol::plus: {
        const QRectF s = symbolSquare(box, 0.6);
        painter.setPen(strokePen(color, s.width() * 0.14));
        painter.drawLine(QPointF(s.center().x(), s.top()), QPointF(s.center().x(), s.bottom()));
        painter.drawLine(QPointF(s.left(), s.center().y()), QPointF(s.right(), s.center().y()));
        break;
    }
    case MenuSymbol::warningTriangle: paintWarningTriangle(painter, symbolSquare(box, 0.9), color); break;
    case MenuSymbol::arrowUpForward: paintArrowUpForward(painter, symbolSquare(box, 0.8), color); break;
    }
    painter.restore();
}

void MenuSymbolPainter::paintDot(QPainter& painter, const QRectF& box, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(box.center().x() - 4, box.center().y() - 4, 8, 8));
    painter.restore();
}

}  // namespace tw
