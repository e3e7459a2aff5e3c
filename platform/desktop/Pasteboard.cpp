#include "platform/desktop/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThreadPool>

#include <chrono>
#include <memory>

namespace platform {
namespace {

bool offers(const Pasteboard::Promise& data) {
    if (data.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return true;
    return !data.get().isEmpty();
}

// Hands out each type's data when a reader asks for it, waiting for data still being made.
class PromisedMimeData final : public QMimeData {
public:
    explicit PromisedMimeData(std::vector<std::pair<QString, Pasteboard::Promise>> entries)
        : entries_(std::move(entries)) {}

    QStringList formats() const override {
        QStringList out;
        for (const auto& [type, data] : entries_) {
            if (offers(data))
                out << type;
        }
        return out;
    }

    bool hasFormat(const QString& type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        for (const auto& [t, data] : entries_) {
            if (t == type && data.valid())
                return data.get();
        }
        return {};
    }

private:
    std::vector<std::pair<QString, Pasteboard::Promise>> entries_;
};

Pasteboard::Promise ready(const QByteArray& data) {
    std::promise<QByteArray> promise;
    promise.set_value(data);
    return promise.get_future().share();
}

}  // namespace

Pasteboard& Pasteboard::general() {
    static Pasteboard board(QGuiApplication::clipboard());
    return board;
}

Pasteboard::Pasteboard(QClipboard* clipboard) : clipboard_(clipboard) {}

void Pasteboard::clearContents() {
    declared_.clear();
    data_.clear();
    clipboard_->clear(QClipboard::Clipboard);
}

void Pasteboard::declareTypes(const QStringList& types) {
    declared_ = types;
    data_.clear();
}

bool Pasteboard::setData(const QByteArray& data, const QString& type) {
    return setPromise(ready(data), type);
}

bool Pasteboard::setString(const QString& text, const QString& type) {
    return setData(text.toUtf8(), type);
}

Pasteboard::Promise Pasteboard::setDataLater(const QString& type, std::function<QByteArray()> make) {
    if (!declared_.contains(type))
        return {};
    auto promise = std::make_shared<std::promise<QByteArray>>();
    Promise data = promise->get_future().share();
    // The global pool is waited for when the application object goes, so no job outlives it.
    QThreadPool::globalInstance()->start([promise, make = std::move(make)] {
        QByteArray bytes;
        try {
            bytes = make();
        } catch (...) {
        }
        promise->set_value(std::move(bytes));
    });
    setPromise(data, type);
    return data;
}

bool Pasteboard::setPromise(Promise data, const QString& type) {
    if (!declared_.contains(type))
        return false;
    bool replaced = false;
    for (auto& [t, d] : data_) {
        if (t == type) {
            d = data;
            replaced = true;
        }
    }
    if (!replaced)
        data_.emplace_back(type, std::move(data));
    publish();
    return true;
}

// The clipboard owns each QMimeData it is given, so every change hands over a fresh one with the
// formats in declared order.
void Pasteboard::publish() {
    std::vector<std::pair<QString, Promise>> entries;
    for (const QString& type : declared_) {
        for (const auto& [t, d] : data_) {
            if (t == type)
                entries.emplace_back(t, d);
        }
    }
    clipboard_->setMimeData(new PromisedMimeData(std::move(entries)), QClipboard::Clipboard);
}

}  // namespace platform
