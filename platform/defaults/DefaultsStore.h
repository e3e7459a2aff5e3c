#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform {

// The user's persistent key/value store: texts, numbers, booleans and byte blobs, telling an absent
// key from a stored false or 0. Kept in one JSON file, $XDG_CONFIG_HOME/zentola/defaults.json
// (default ~/.config), values typed by their JSON type, blobs as {"data": "<base64>"}. Every write
// replaces the file atomically. A file that cannot be read is moved aside, never overwritten.
//
// Values: bool, qint64 (integers), double, QString, QByteArray (blobs). Main thread only.
class DefaultsStore {
public:
    // The user's store, loaded on first use.
    static DefaultsStore& standard();
    // A store over another file (tests).
    explicit DefaultsStore(QString filePath);
    ~DefaultsStore();

    QString filePath() const { return path_; }

    // The stored value, or no value when the key is absent.
    std::optional<QVariant> object(const QString& key) const;
    bool contains(const QString& key) const { return values_.contains(key); }

    // Typed reads, as the platform's defaults store answers them:
    // bool: absent false; numbers non-zero; texts "YES"/"true"/"1" (any case) true.
    bool boolForKey(const QString& key) const;
    // numbers as stored, booleans 1/0, texts parsed (unparsable 0); absent 0.
    double doubleForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    // texts as stored; numbers and booleans as decimal text ("1"/"0" for booleans); others none.
    std::optional<QString> stringForKey(const QString& key) const;
    // blobs as stored; texts as their UTF-8 bytes; others none.
    std::optional<QByteArray> dataForKey(const QString& key) const;

    void set(const QString& key, const QVariant& value);  // an invalid QVariant removes the key
    void setBool(const QString& key, bool v) { set(key, QVariant(v)); }
    void setDouble(const QString& key, double v) { set(key, QVariant(v)); }
    void setInteger(const QString& key, qint64 v) { set(key, QVariant(v)); }
    void setString(const QString& key, const QString& v) { set(key, QVariant(v)); }
    void setData(const QString& key, const QByteArray& v) { set(key, QVariant(v)); }
    void remove(const QString& key);

    QVariantMap dictionaryRepresentation() const { return values_; }

    // Reads the file again, dropping what is in memory (tests).
    void reload();

private:
    void load();
    void save();

    QString path_;
    QVariantMap values_;
};

}  // namespace platform
