#include "Models/SelectionRect.h"

#include "Extensions/ScreenExt.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace zentola {

namespace {

std::optional<std::pair<double, double>> numberPair(const QJsonValue& v) {
    if (!v.isArray())
        return std::nullopt;
    const QJsonArray a = v.toArray();
    if (a.size() != 2 || !a[0].isDouble() || !a[1].isDouble())
        return std::nullopt;
    double x = a[0].toDouble(), y = a[1].toDouble();
    if (!std::isfinite(x) || !std::isfinite(y))
        return std::nullopt;
    return std::make_pair(x, y);
}

}  // namespace

platform::ScreenRef SelectionRect::screen() const {
    return ScreenExt::screenWithDisplayID(screenDisplayID);
}

QByteArray SelectionRect::toJson() const {
    QJsonObject o{
        {"origin", QJsonArray{origin.x(), origin.y()}},
        {"size", QJsonArray{size.width(), size.height()}},
        {"screenDisplayID", static_cast<double>(screenDisplayID)},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<SelectionRect> SelectionRect::fromJson(const QByteArray& json) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    auto origin = numberPair(o.value("origin"));
    auto size = numberPair(o.value("size"));
    const QJsonValue id = o.value("screenDisplayID");
    if (!origin || !size || !id.isDouble())
        return std::nullopt;
    // A display number is a whole unsigned 32-bit value; anything else is not ours.
    double n = id.toDouble();
    if (n < 0 || n > std::numeric_limits<quint32>::max() || std::floor(n) != n)
        return std::nullopt;
    return SelectionRect{QPointF(origin->first, origin->second), QSizeF(size->first, size->second),
                         static_cast<quint32>(n)};
}

bool operator==(const SelectionRect& a, const SelectionRect& b) {
    return a.origin.x() == b.origin.x() && a.origin.y() == b.origin.y() && a.size.width() == b.size.width() &&
           a.size.height() == b.size.height() && a.screenDisplayID == b.screenDisplayID;
}

}  // namespace zentola
