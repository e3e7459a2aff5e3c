#include "platform/core/NotificationCenter.h"

#include <vector>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, Observer observer) {
    std::lock_guard lock(mutex_);
    Token t = next_++;
    observers_.emplace(t, Entry{name, std::move(observer)});
    return t;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    observers_.erase(token);
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo) {
    std::vector<std::pair<Token, Observer>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [t, e] : observers_)
            if (e.name == name)
                targets.emplace_back(t, e.observer);
    }
    for (auto& [t, fn] : targets) {
        bool stillThere;
        {
            std::lock_guard lock(mutex_);
            stillThere = observers_.count(t) != 0;
        }
        if (stillThere)
            fn(userInfo);
    }
}

}  // namespace platform
