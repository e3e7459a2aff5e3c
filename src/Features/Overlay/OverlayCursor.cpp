#include "Features/Overlay/OverlayCursor.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zentola {
namespace {

// An 18 x 18 double-headed arrow, drawn in y-up points: black with a white rim, hot spot at the centre.
QCursor diagonalCursor(QPointF tipA, QPointF tipB, QPointF a1, QPointF a2, QPointF b1, QPointF b2) {
    QPixmap pixmap(18, 18);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // The strokes are given with y up.
    p.translate(0, 18);
    p.scale(1, -1);
    QPainterPath path;
    path.moveTo(tipA);
    path.lineTo(tipB);
    for (auto [tip, end] : {std::pair{tipB, a1}, std::pair{tipB, a2}, std::pair{tipA, b1}, std::pair{tipA, b2}}) {
        path.moveTo(tip);
        path.lineTo(end);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.end();
    return QCursor(pixmap, 9, 9);
}

const QCursor& diagonalNWSECursor() {
    static const QCursor cursor = diagonalCursor({2, 16}, {16, 2}, {10, 3}, {15, 8}, {8, 15}, {3, 10});
    return cursor;
}

const QCursor& diagonalNESWCursor() {
    static const QCursor cursor = diagonalCursor({16, 16}, {2, 2}, {8, 3}, {3, 8}, {10, 15}, {15, 10});
    return cursor;
}

}  // namespace

QCursor cursorFor(OverlayCursor shape) {
    switch (shape) {
    case OverlayCursor::arrow:
        return QCursor(Qt::ArrowCursor);
    case OverlayCursor::crosshair:
        return QCursor(Qt::CrossCursor);
    case OverlayCursor::openHand:
        return QCursor(Qt::OpenHandCursor);
    case OverlayCursor::closedHand:
        return QCursor(Qt::ClosedHandCursor);
    case OverlayCursor::resizeLeftRight:
        return QCursor(Qt::SizeHorCursor);
    case OverlayCursor::resizeUpDown:
        return QCursor(Qt::SizeVerCursor);
    case OverlayCursor::diagonalNWSE:
        return diagonalNWSECursor();
    case OverlayCursor::diagonalNESW:
        return diagonalNESWCursor();
    }
    return QCursor(Qt::ArrowCursor);
}

}  // namespace zentola
