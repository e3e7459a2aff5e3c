#include "platform/desktop/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace platform {

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
        data_.emplace_back(type, data);
    publish();
    return true;
}

bool Pasteboard::setString(const QString& text, const QString& type) {
    return setData(text.toUtf8(), type);
}

// The clipboard owns each QMimeData it is given, so every change hands over a fresh one with the
// formats in declared order.
void Pasteboard::publish() {
    auto* mime = new QMimeData;
    for (const QString& type : declared_) {
        for (const auto& [t, d] : data_) {
            if (t == type && !d.isEmpty())
                mime->setData(type, d);
        }
    }
    clipboard_->setMimeData(mime, QClipboard::Clipboard);
}

}  // namespace platform
