#include "platform/defaults/DefaultsStore.h"

#include "platform/core/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// One JSON value as compact text.
QByteArray jsonText(const QJsonValue& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// The JSON value that a piece of text holds (the text is known to be valid JSON).
QJsonValue parsedValue(const QByteArray& text) {
    return QJsonDocument::fromJson("[" + text + "]").array().at(0);
}

// Returns an invalid QVariant for a value the store does not hold (null, arrays, other objects).
// `text` is the value as written in the file: an integer literal is read exactly, also above the
// 53 bits that a double holds.
QVariant fromJson(const QJsonValue& j, const QByteArray& text = {}) {
    switch (j.type()) {
    case QJsonValue::Bool:
        return j.toBool();
    case QJsonValue::Double: {
        bool integral = false;
        const qint64 exact = text.toLongLong(&integral);
        if (integral)
            return exact;
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

// Whether two pieces of JSON text hold the same value as the store reads it.
bool sameValue(const QByteArray& a, const QByteArray& b) {
    if (a == b)
        return true;
    const QVariant x = fromJson(parsedValue(a), a);
    const QVariant y = fromJson(parsedValue(b), b);
    return x.isValid() && x.typeId() == y.typeId() && x == y;
}

// Editors on Linux and Windows may start a JSON file with it; it is no part of the JSON text.
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

bool startsWithByteOrderMark(const QByteArray& bytes) {
    return bytes.startsWith(QByteArrayView(byteOrderMark.data(), qsizetype(byteOrderMark.size())));
}

// What is at the settings path, read without ever waiting on it: a FIFO or a device there would
// otherwise block the start, or the writer, in open() or read().
struct SettingsFile {
    enum State { absent, notRegular, unreadable, read } state = absent;
    QByteArray bytes;
};

SettingsFile readSettingsFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        return {errno == ENOENT ? SettingsFile::absent : SettingsFile::unreadable, {}};
    if (!S_ISREG(info.st_mode))
        return {SettingsFile::notRegular, {}};
    // Non-blocking, and checked again once open: the path may have been replaced in between.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {SettingsFile::unreadable, {}};
    SettingsFile file{SettingsFile::read, {}};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        file.state = SettingsFile::notRegular;
    } else {
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                file = {SettingsFile::unreadable, {}};
                break;
            }
            file.bytes.append(buffer, n);
        }
    }
    ::close(fd);
    return file;
}

// The file with its members read by `parse`; one that `parse` cannot read whole is unreadable.
template <class Entries, class Parse>
SettingsFile readSettingsFile(const QString& path, Entries& entries, Parse parse) {
    SettingsFile file = readSettingsFile(path);
    if (file.state == SettingsFile::read && !parse(file.bytes, entries))
        file.state = SettingsFile::unreadable;
    return file;
}

// Moves a file this store cannot read out of the way, so that nothing is ever written over it.
// `loading`: at start, when the defaults are what the app goes on with; else at a write.
bool keepAside(const QString& path, bool loading) {
    const QString stem = path + ".unreadable-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    QString aside = stem;
    for (int copy = 2; QFileInfo::exists(aside) && copy < 1000; ++copy)  // one kept within that second stays
        aside = stem + "-" + QString::number(copy);
    if (!QFile::rename(path, aside)) {
        logLine("[Zentola] Settings file " + path.toStdString() + " could not be read nor moved aside; " +
                (loading ? "starting with defaults and saving no settings" : "settings not saved"));
        return false;
    }
    logLine("[Zentola] Settings file could not be read; kept as " + aside.toStdString() +
            (loading ? ", starting with defaults" : ", writing the settings anew"));
    return true;
}

void logNotRegular(const QString& path, bool loading) {
    logLine("[Zentola] Settings file " + path.toStdString() + " is not a regular file; " +
            (loading ? "starting with defaults and saving no settings" : "settings not saved"));
}

}  // namespace

// Puts the latest document on disk on a thread of its own: the first change after a write waits
// `delay`, so a burst of changes makes one file.
class DefaultsStore::Writer {
    struct Change {
        Entry entry;
        bool removed;
    };

    // The members of a file in their order, found by key. A removed member leaves a gap (an empty
    // text) that the file's text skips.
    class Members {
    public:
        Members() = default;
        explicit Members(std::vector<Entry> entries) : entries_(std::move(entries)) { reindex(); }

        // Whether the change changed a value. The same value keeps its text: no number rewritten.
        bool apply(const Change& c) {
            const auto at = index_.constFind(c.entry.key);
            if (c.removed) {
                if (at == index_.cend())
                    return false;
                entries_[*at].valueText.clear();
                index_.erase(at);
                if (++gaps_ > qsizetype(entries_.size()) / 2) {  // a key removed and set again, over and over
                    std::erase_if(entries_, [](const Entry& e) { return e.valueText.isEmpty(); });
                    reindex();
                }
                return true;
            }
            if (at == index_.cend()) {
                index_.insert(c.entry.key, qsizetype(entries_.size()));
                entries_.push_back(c.entry);
                return true;
            }
            if (sameValue(entries_[*at].valueText, c.entry.valueText))
                return false;
            entries_[*at].valueText = c.entry.valueText;
            return true;
        }
        QByteArray text() const { return fileText(entries_); }

    private:
        void reindex() {
            gaps_ = 0;
            index_.clear();
            index_.reserve(qsizetype(entries_.size()));
            for (qsizetype i = 0; i < qsizetype(entries_.size()); ++i)
                index_.insert(entries_[i].key, i);
        }

        std::vector<Entry> entries_;
        QHash<QString, qsizetype> index_;
        qsizetype gaps_ = 0;
    };

public:
    Writer(QString path, std::chrono::milliseconds delay) : path_(std::move(path)), delay_(delay) {}

    ~Writer() {
        flush();
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    // The file as loaded: what is written, with the changes, where there is no file to merge with.
    // Before the first change.
    void start(std::vector<Entry> loaded) { view_ = Members(std::move(loaded)); }

    void schedule(Entry change, bool removed) {
        std::lock_guard lock(mutex_);
        if (!pending_)
            due_ = Clock::now() + delay_;
        std::vector<Change>& changes = pending_ ? *pending_ : pending_.emplace();
        std::erase_if(changes, [&](const Change& c) { return c.entry.key == change.key; });
        changes.push_back(Change{std::move(change), removed});
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_all();
    }

    void flush() {
        std::unique_lock lock(mutex_);
        if (!pending_ && !writing_)
            return;
        due_ = Clock::now();
        wake_.notify_all();
        done_.wait(lock, [this] { return !pending_ && !writing_; });
    }

private:
    using Clock = std::chrono::steady_clock;

    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (!pending_)
                return;
            wake_.wait_until(lock, due_, [this] { return Clock::now() >= due_; });
            const std::vector<Change> changes = std::move(*pending_);
            pending_.reset();
            writing_ = true;
            lock.unlock();
            for (const Change& c : changes)
                view_.apply(c);
            mergeAndWrite(changes);
            lock.lock();
            writing_ = false;
            done_.notify_all();
        }
    }

    // Copies on other displays write the same file: between them, reading it, putting the changes in
    // and replacing it is one step, or one copy's replacement would drop what another just wrote.
    void mergeAndWrite(const std::vector<Change>& changes) const {
        const QString folder = QFileInfo(path_).absolutePath();
        QDir().mkpath(folder);
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            ::flock(fd, LOCK_EX);  // released with the descriptor
        if (const auto text = merged(changes))
            write(*text);
        if (fd >= 0)
            ::close(fd);
    }

    // The file as it is now with this process's changes put in, or nothing when it needs no write.
    // Where there is no file, or one that is not a settings file (then kept aside first), all this
    // process knows, as after a load that found it so.
    std::optional<QByteArray> merged(const std::vector<Change>& changes) const {
        std::vector<Entry> entries;
        const SettingsFile file = readSettingsFile(path_, entries, &DefaultsStore::parse);
        switch (file.state) {
        case SettingsFile::absent:
            // A removal from a file that is not there needs no write.
            if (std::ranges::all_of(changes, &Change::removed))
                return std::nullopt;
            return view_.text();
        case SettingsFile::notRegular:
            logNotRegular(path_, false);
            return std::nullopt;
        case SettingsFile::unreadable:
            if (!keepAside(path_, false))
                return std::nullopt;
            return view_.text();
        case SettingsFile::read:
            break;
        }
        // Compared with the file, not with what this process last read: another copy may have
        // changed a value since, and this process's set must then reach the file all the same.
        Members onDisk(std::move(entries));
        bool modified = false;
        for (const Change& c : changes)
            modified = onDisk.apply(c) || modified;
        if (!modified)
            return std::nullopt;
        // The mark the user's editor put first stays first: the file keeps the form it was given.
        return (startsWithByteOrderMark(file.bytes) ? QByteArray(byteOrderMark.data(), qsizetype(byteOrderMark.size()))
                                                    : QByteArray()) +
               onDisk.text();
    }

    void write(const QByteArray& document) const {
        QDir().mkpath(QFileInfo(path_).absolutePath());
        QSaveFile f(path_);
        if (!f.open(QIODevice::WriteOnly) || f.write(document) < 0 ||
            !f.commit())
            logLine("[Zentola] Could not write settings to " + path_.toStdString() + ": " +
                    f.errorString().toStdString());
    }

    const QString path_;
    const std::chrono::milliseconds delay_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::optional<std::vector<Change>> pending_;
    Members view_;  // the writer thread's own, from the start on
    Clock::time_point due_;
    bool writing_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

DefaultsStore& DefaultsStore::standard() {
    static DefaultsStore store(standardPath());
    return store;
}

DefaultsStore::DefaultsStore(QString filePath, std::chrono::milliseconds delay)
    : path_(std::move(filePath)), writer_(std::make_unique<Writer>(path_, delay)) {
    load();
}

DefaultsStore::~DefaultsStore() = default;

void DefaultsStore::flush() {
    writer_->flush();
}

void DefaultsStore::load() {
    std::vector<Entry> entries;
    const SettingsFile file = readSettingsFile(path_, entries, &DefaultsStore::parse);
    switch (file.state) {
    case SettingsFile::absent:
        return;
    case SettingsFile::notRegular:
        // A FIFO, a device or a folder is not ours to move or replace.
        writable_ = false;
        logNotRegular(path_, true);
        return;
    case SettingsFile::unreadable:
        // Kept for the user to look at, instead of overwritten with an empty store.
        writable_ = keepAside(path_, true);
        return;
    case SettingsFile::read:
        break;
    }
    for (const Entry& e : entries) {
        const QVariant v = fromJson(parsedValue(e.valueText), e.valueText);
        if (v.isValid())
            values_.insert(e.key, v);
    }
    writer_->start(std::move(entries));
}

bool DefaultsStore::parse(const QByteArray& bytes, std::vector<Entry>& entries) {
    const QByteArray text = (startsWithByteOrderMark(bytes) ? bytes.mid(qsizetype(byteOrderMark.size())) : bytes).trimmed();
    QJsonParseError err{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &err);
    if (err.error != QJsonParseError::NoError || !document.isObject())
        return false;
    // The parser has checked the text, so the walk over its members can be simple.
    qsizetype at = 1;  // past '{'
    const auto skipSpace = [&] {
        while (at < text.size() && QChar::isSpace(uchar(text[at])))
            ++at;
    };
    const auto endOfString = [&](qsizetype from) {  // from the opening quote to past the closing one
        for (qsizetype i = from + 1; i < text.size(); ++i) {
            if (text[i] == '\\')
                ++i;
            else if (text[i] == '"')
                return i + 1;
        }
        return text.size();
    };
    const qsizetype members = document.object().size();
    QHash<QString, qsizetype> index;
    index.reserve(members);
    entries.reserve(size_t(members));
    for (skipSpace(); at < text.size() && text[at] == '"';) {
        const qsizetype keyEnd = endOfString(at);
        Entry entry{QString(), text.mid(at, keyEnd - at), QByteArray()};
        entry.key = parsedValue(entry.keyText).toString();
        at = keyEnd;
        skipSpace();
        ++at;  // ':'
        skipSpace();
        const qsizetype valueStart = at;
        for (int depth = 0; at < text.size(); ++at) {
            const char c = text[at];
            if (c == '"')
                at = endOfString(at) - 1;
            else if (c == '{' || c == '[')
                ++depth;
            else if ((c == '}' || c == ']') && depth-- == 0)
                break;
            else if (c == ',' && depth == 0)
                break;
        }
        entry.valueText = text.mid(valueStart, at - valueStart).trimmed();
        if (at < text.size() && text[at] == ',')
            ++at;
        skipSpace();
        if (const auto same = index.constFind(entry.key); same != index.cend()) {
            entries[*same] = std::move(entry);  // the last of a repeated key counts, as for the parser
        } else {
            index.insert(entry.key, qsizetype(entries.size()));
            entries.push_back(std::move(entry));
        }
    }
    // A walk that did not end at the closing brace with every member the parser saw has met a form it
    // does not know: writing its entries back would lose the rest.
    return at == text.size() - 1 && qsizetype(entries.size()) == members;
}

QByteArray DefaultsStore::fileText(const std::vector<Entry>& entries) {
    QByteArray text = "{";
    for (const Entry& e : entries) {
        if (e.valueText.isEmpty())
            continue;  // removed
        text += text.size() == 1 ? "\n    " : ",\n    ";
        text += e.keyText;
        text += ": ";
        text += e.valueText;
    }
    return text + (text.size() == 1 ? "}\n" : "\n}\n");
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
    // Sent even when this process holds that value already: the file may hold another copy's since.
    if (writable_)
        writer_->schedule(Entry{key, jsonText(key), jsonText(toJson(v))}, false);
}

void DefaultsStore::remove(const QString& key) {
    values_.remove(key);
    // Sent even for a key this process never had: another copy may have stored it since.
    if (writable_)
        writer_->schedule(Entry{key, jsonText(key), QByteArray()}, true);
}

}  // namespace platform
