#pragma once

// How Qt values read in a failed expectation: as text, not as the bytes of the object. Included in
// every test's sources by the build (see CMakeLists.txt here), so each test file gets it unasked.
// gtest finds these by argument-dependent lookup: Qt's types live in the global namespace, and so
// do these.

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QDebug>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLine>
#include <QLineF>
#include <QMargins>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <ostream>

namespace zentola_test_printing {

// A long text or blob is cut: the start is what tells one from another, and the whole could be megabytes.
constexpr qsizetype longest = 4000;

template <typename T>
void printDebug(const T& value, std::ostream* os) {
    QString text;
    QDebug(&text).nospace() << value;
    if (text.size() > longest)
        text = text.left(longest) + QStringLiteral("... (%1 characters)").arg(text.size());
    *os << text.toStdString();
}

}  // namespace zentola_test_printing

inline void PrintTo(const QString& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QByteArray& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(QChar v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QStringList& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QUrl& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QPoint& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QPointF& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QSize& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QSizeF& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QRect& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QRectF& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QLine& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QLineF& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QMargins& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QColor& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QDateTime& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QVariant& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QVariantMap& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QJsonValue& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QJsonValueRef& v, std::ostream* os) { zentola_test_printing::printDebug(QJsonValue(v), os); }
inline void PrintTo(const QJsonValueConstRef& v, std::ostream* os) { zentola_test_printing::printDebug(QJsonValue(v), os); }
inline void PrintTo(const QJsonObject& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QJsonArray& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
inline void PrintTo(const QJsonDocument& v, std::ostream* os) { zentola_test_printing::printDebug(v, os); }
// An image by what a failure needs first: its size and format, not its pixels.
inline void PrintTo(const QImage& v, std::ostream* os) {
    if (v.isNull())
        *os << "QImage(null)";
    else
        *os << "QImage(" << v.width() << "x" << v.height() << ", format " << int(v.format()) << ")";
}
