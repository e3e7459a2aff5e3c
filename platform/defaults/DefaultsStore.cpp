#include "platform/defaults/DefaultsStore.h"

#include "platform/core/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

namespace platform {

namespace {

QString standardPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + "/.config";
    return base + "/zentola/defaults.json";
}

QJsonValue toJson(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return static_cast<qint64>(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return v.toDouble();
    case QMetaType::QByteArray:
        return QJsonObject{{"data", QString::fromLatin1(v.toByteArray().toBase64())}};
    default:
        return v.toString();
    }
}

// Returns an invalid QVariant for a value the store does not hold (null, arrays, other objects).
QVariant fromJson(const QJsonValue& j) {
    switch (j.type()) {
    case QJsonValue::Bool:
        return j.toBool();
    case QJsonValue::Double: {
        double d = j.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9.007199254740992e15)
            return static_cast<qint64>(d);
        return d;
    }
    case QJsonValue::String:
        return j.toString();
    case QJsonValue::Object: {
        QJsonObject o = j.toObject();
        if (o.size() == 1 && o.value("data").isString())
            return QByteArray::fromBase64(o.value("data").toString().toLatin1());
        return {};
    }
    default:
        return {};
    }
}

bool isNumber(const QVariant& v) {
    return v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Int;
}

}  // namespace

DefaultsStore& DefaultsStore::standard() {
    static DefaultsStore store(standardPath());
    return store;
}

DefaultsStore::DefaultsStore(QString filePath) : path_(std::move(filePath)) { load(); }

DefaultsStore::~DefaultsStore() = default;

void DefaultsStore::reload() {
    values_.clear();
    load();
}

void DefaultsStore::load() {
    QFile f(path_);
    if (!f.exists())
        return;
    QJsonParseError err{};
    QJsonDocument doc;
    bool readable = f.open(QIODevice::ReadOnly);
    if (readable)
        doc = QJsonDocument::fromJson(f.readAll(), &err);
    f.close();
    if (!readable || err.error != QJsonParseError::NoError || !doc.isObject()) {
        // Keep the user's file for inspection instead of overwriting it with an empty store.
        QString aside = path_ + ".unreadable-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
        QFile::rename(path_, aside);
        logLine("[Zentola] Settings file could not be read; kept as " + aside.toStdString() + ", starting with defaults");
        return;
    }
    const QJsonObject obj = doc.object();
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        QVariant v = fromJson(it.value());
        if (v.isValid())
            values_.insert(it.key(), v);
    }
}

void DefaultsStore::save() {
    QJsonObject obj;
    for (auto it = values_.cbegin(); it != values_.cend(); ++it)
        obj.insert(it.key(), toJson(it.value()));
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile f(path_);
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(obj).toJson(QJsonDocument::Indented)) < 0 ||
        !f.commit())
        logLine("[Zentola] Could not write settings to " + path_.toStdString() + ": " +
                f.errorString().toStdString());
}

std::optional<QVariant> DefaultsStore::object(const QString& key) const {
    auto it = values_.constFind(key);
    if (it == values_.cend())
        return std::nullopt;
    return *it;
}

bool DefaultsStore::boolForKey(const QString& key) const {
    auto v = object(key);
    if (!v)
        return false;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool();
    if (isNumber(*v))
        return v->toDouble() != 0.0;
    if (v->typeId() == QMetaType::QString) {
        QString s = v->toString().trimmed().toLower();
        return s == "yes" || s == "true" || s.toLongLong() != 0;
    }
    return false;
}

double DefaultsStore::doubleForKey(const QString& key) const {
    auto v = object(key);
    if (!v)
        return 0.0;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool() ? 1.0 : 0.0;
    if (isNumber(*v))
        return v->toDouble();
    if (v->typeId() == QMetaType::QString) {
        bool ok = false;
        double d = v->toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

qint64 DefaultsStore::integerForKey(const QString& key) const {
    auto v = object(key);
    if (!v)
        return 0;
    if (v->typeId() == QMetaType::LongLong || v->typeId() == QMetaType::Int)
        return v->toLongLong();
    double d = doubleForKey(key);
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
        return 0;
    return static_cast<qint64>(d);  // truncates toward zero, as the platform's store does
}

std::optional<QString> DefaultsStore::stringForKey(const QString& key) const {
    auto v = object(key);
    if (!v)
        return std::nullopt;
    switch (v->typeId()) {
    case QMetaType::QString:
        return v->toString();
    case QMetaType::Bool:
        return QString(v->toBool() ? "1" : "0");
    case QMetaType::LongLong:
    case QMetaType::Int:
        return QString::number(v->toLongLong());
    case QMetaType::Double:
        return QString::number(v->toDouble(), 'g', 17);
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> DefaultsStore::dataForKey(const QString& key) const {
    auto v = object(key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::QByteArray)
        return v->toByteArray();
    if (v->typeId() == QMetaType::QString)
        return v->toString().toUtf8();
    return std::nullopt;
}

void DefaultsStore::set(const QString& key, const QVariant& value) {
    if (!value.isValid()) {
        remove(key);
        return;
    }
    QVariant v = value;
    if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::ULongLong)
        v = QVariant(static_cast<qint64>(v.toLongLong()));
    else if (v.typeId() == QMetaType::Float)
        v = QVariant(v.toDouble());
    values_.insert(key, v);
    save();
}

void DefaultsStore::remove(const QString& key) {
    if (values_.remove(key) > 0)
        save();
}

}  // namespace platform
