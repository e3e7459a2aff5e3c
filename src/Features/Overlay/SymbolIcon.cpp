#include "Features/Overlay/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace zentola {
namespace {

// Square drawing area of side s around the box's centre.
QRectF square(const QRectF& box) {
    const double s = std::min(box.width(), box.height());
    return QRectF(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
}

QRectF inset(const QRectF& r, double fx, double fy, double fw, double fh) {
    return QRectF(r.x() + r.width() * fx, r.y() + r.height() * fy, r.width() * fw, r.height() * fh);
}

void rectangleDashed(QPainter& p, const QRectF& s, const QColor& c, double w, bool filled) {
    const QRectF r = inset(s, 0.08, 0.2, 0.84, 0.6);
    if (filled)
        p.fillRect(r, QColor(c.red(), c.green(), c.blue(), c.alpha() / 4));
    QPen pen(c, w, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({2.0, 1.5});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, s.width() * 0.08, s.width() * 0.08);
}

void macwindow(QPainter& p, const QRectF& s, const QColor& c, double w, bool filled) {
    const QRectF r = inset(s, 0.06, 0.14, 0.88, 0.72);
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, s.width() * 0.1, s.width() * 0.1);
    const double bar = r.top() + r.height() * 0.3;
    if (filled) {
        QPainterPath clip;
        clip.addRoundedRect(r, s.width() * 0.1, s.width() * 0.1);
        p.save();
        p.setClipPath(clip);
        p.fillRect(QRectF(r.left(), r.top(), r.width(), bar - r.top()), c);
        p.restore();
    } else {
        p.drawLine(QPointF(r.left(), bar), QPointF(r.right(), bar));
    }
}

void crop(QPainter& p, const QRectF& s, const QColor& c, double w) {
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const double a = s.left() + s.width() * 0.28, b = s.left() + s.width() * 0.78;
    const double t = s.top() + s.height() * 0.22, u = s.top() + s.height() * 0.72;
    QPainterPath path;
    path.moveTo(a, s.top() + s.height() * 0.06);
    path.lineTo(a, u);
    path.lineTo(s.right() - s.width() * 0.06, u);
    path.moveTo(s.left() + s.width() * 0.06, t);
    path.lineTo(b, t);
    path.lineTo(b, s.bottom() - s.height() * 0.06);
    p.drawPath(path);
}

void camera(QPainter& p, const QRectF& s, const QColor& c, double w, bool filled) {
    const QRectF body = inset(s, 0.06, 0.3, 0.88, 0.56);
    QPainterPath path;
    path.addRoundedRect(body, s.width() * 0.1, s.width() * 0.1);
    QPainterPath hump;
    hump.addRoundedRect(inset(s, 0.34, 0.18, 0.32, 0.2), s.width() * 0.05, s.width() * 0.05);
    path = path.united(hump);
    const QRectF lens(body.center().x() - s.width() * 0.16, body.center().y() - s.width() * 0.16, s.width() * 0.32,
                      s.width() * 0.32);
    if (filled) {
        QPainterPath hole;
        hole.addEllipse(lens);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPath(path.subtracted(hole));
        p.drawEllipse(lens.adjusted(s.width() * 0.07, s.width() * 0.07, -s.width() * 0.07, -s.width() * 0.07));
    } else {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        p.drawEllipse(lens);
    }
}

void video(QPainter& p, const QRectF& s, const QColor& c, double w, bool filled) {
    const QRectF body = inset(s, 0.04, 0.26, 0.62, 0.48);
    QPolygonF lens;
    lens << QPointF(s.left() + s.width() * 0.7, s.center().y() - s.height() * 0.06)
         << QPointF(s.right() - s.width() * 0.04, s.top() + s.height() * 0.28)
         << QPointF(s.right() - s.width() * 0.04, s.bottom() - s.height() * 0.28)
         << QPointF(s.left() + s.width() * 0.7, s.center().y() + s.height() * 0.06);
    if (filled) {
        p.setPen(Qt::NoPen);
        p.setBrush(c);
    } else {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
    }
    p.drawRoundedRect(body, s.width() * 0.1, s.width() * 0.1);
    p.drawPolygon(lens);
}

void recordCircle(QPainter& p, const QRectF& s, const QColor& c, double w, bool filled) {
    const QRectF outer = inset(s, 0.06, 0.06, 0.88, 0.88);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c, w));
    if (filled) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(c.red(), c.green(), c.blue(), c.alpha() / 3));
    }
    p.drawEllipse(outer);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(inset(s, 0.28, 0.28, 0.44, 0.44));
}

void xmark(QPainter& p, const QRectF& s, const QColor& c, double w) {
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap));
    const QRectF r = inset(s, 0.2, 0.2, 0.6, 0.6);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

}  // namespace

bool SymbolIcon::exists(const QString& name) {
    static const QStringList names = {QStringLiteral("rectangle.dashed"), QStringLiteral("macwindow"),
                                      QStringLiteral("crop"),             QStringLiteral("camera"),
                                      QStringLiteral("camera.fill"),      QStringLiteral("video"),
                                      QStringLiteral("video.fill"),       QStringLiteral("record.circle"),
                                      QStringLiteral("xmark")};
    return names.contains(name);
}

bool SymbolIcon::paint(QPainter& p, const QString& name, const QRectF& box, const QColor& colour, double weight,
                       bool filled) {
    if (!exists(name))
        return false;
    const QRectF s = square(box);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (name == QLatin1String("rectangle.dashed"))
        rectangleDashed(p, s, colour, weight, filled);
    else if (name == QLatin1String("macwindow"))
        macwindow(p, s, colour, weight, filled);
    else if (name == QLatin1String("crop"))
        crop(p, s, colour, weight);
    else if (name.startsWith(QLatin1String("camera")))
        camera(p, s, colour, weight, filled || name.endsWith(QLatin1String(".fill")));
    else if (name.startsWith(QLatin1String("video")))
        video(p, s, colour, weight, filled || name.endsWith(QLatin1String(".fill")));
    else if (name == QLatin1String("record.circle"))
        recordCircle(p, s, colour, weight, filled);
    else
        xmark(p, s, colour, weight);
    p.restore();
    return true;
}

}  // namespace zentola
