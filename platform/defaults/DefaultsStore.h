#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// The user's persistent key/value store: texts, numbers, booleans and byte blobs, telling an absent
// key from a stored false or 0. Kept in one JSON file, $XDG_CONFIG_HOME/zentola/defaults.json
// (default ~/.config), values typed by their JSON type, blobs as {"data": "<base64>"}.
//
// A write changes the store at once; the file follows on a thread of its own, at most writeDelay
// later, several writes making one file. flush() (and the destructor) writes what is pending and
// waits for it. Every value the file holds stays as it was, to the byte, until this process sets or
// removes its key: also values the store does not model (null, arrays, other objects), which read as
// absent, and numbers beyond what it reads exactly.
// A write puts this process's changes into the file as it is on disk at that moment, so another copy
// of the app (one runs per X display, all sharing the file) keeps what it wrote in the meantime; a
// set or a removal reaches the file whenever the file holds something else, whatever this process
// last read. A UTF-8 byte-order mark at the start is read past and kept.
// A file that cannot be read whole is moved aside; when even that fails, nothing is written over it.
// A path that is no regular file (a FIFO, a device, a folder) is never opened to wait on, moved
// or replaced: the store starts empty and saves nothing.
//
// Values: bool, qint64 (integers), double, QString, QByteArray (blobs). Main thread only.
class DefaultsStore {
public:
    static constexpr std::chrono::milliseconds writeDelay{500};

    // The user's store, loaded on first use.
    static DefaultsStore& standard();
    // A store over another file (tests).
    explicit DefaultsStore(QString filePath, std::chrono::milliseconds delay = writeDelay);
    ~DefaultsStore();
    DefaultsStore(const DefaultsStore&) = delete;
    DefaultsStore& operator=(const DefaultsStore&) = delete;

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

    // Writes what is pending now and returns once it is on disk.
    void flush();

private:
    class Writer;

    // One member of the file's object, as its text: what was read, or what this process set.
    struct Entry {
        QString key;
        QByteArray keyText;
        QByteArray valueText;
    };

    // The members of a file's text, in order; false when the text is not a JSON object this walk
    // reads whole.
    static bool parse(const QByteArray& bytes, std::vector<Entry>& entries);
    // The text of a file of these members; members with an empty value text are left out.
    static QByteArray fileText(const std::vector<Entry>& entries);

    void load();

    QString path_;
    QVariantMap values_;
    bool writable_ = true;
    std::unique_ptr<Writer> writer_;
};

}  // namespace platform
