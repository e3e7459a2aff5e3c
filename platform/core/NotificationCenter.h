#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <mutex>

namespace platform {

// In-process named notifications. Observers run synchronously on the posting thread, in the order
// they were added; removing an observer from inside a callback is allowed.
class NotificationCenter {
public:
    using Observer = std::function<void(const QVariantMap& userInfo)>;
    using Token = quint64;

    static NotificationCenter& defaultCenter();

    Token addObserver(const QString& name, Observer observer);
    void removeObserver(Token token);
    void post(const QString& name, const QVariantMap& userInfo = {});

private:
    struct Entry {
        QString name;
        Observer observer;
    };
    std::mutex mutex_;
    std::map<Token, Entry> observers_;
    Token next_ = 1;
};

}  // namespace platform
