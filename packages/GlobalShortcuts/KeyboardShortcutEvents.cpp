#include "packages/GlobalShortcuts/KeyboardShortcutEvents.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/Log.h"

#include <QEvent>
#include <QWidget>
#include <qcoro/qcorotask.h>

namespace GlobalShortcuts {

namespace {

// Takes its own references: the widget may be gone by the time the stream ends.
QCoro::Task<> consume(std::shared_ptr<EventStream> stream, std::function<void(EventType)> perform) {
    try {
        while (auto event = co_await stream->next())
            perform(*event);
    } catch (const std::exception& e) {
        platform::logLine(std::string("[Zentola] Shortcut event handler failed: ") + e.what());
    }
}

}  // namespace

KeyboardShortcutEvents::KeyboardShortcutEvents(QWidget* widget, const Name& name, std::optional<EventType> only,
                                               std::function<void(EventType)> perform)
    : QObject(widget), name_(name), only_(only), perform_(std::move(perform)) {
    widget->installEventFilter(this);
    if (widget->isVisible())
        startListening();
}

KeyboardShortcutEvents::~KeyboardShortcutEvents() { stopListening(); }

bool KeyboardShortcutEvents::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent()) {
        if (event->type() == QEvent::Show)
            startListening();
        else if (event->type() == QEvent::Hide)
            stopListening();
    }
    return false;
}

void KeyboardShortcutEvents::startListening() {
    if (stream_)
        return;
    stream_ = only_ ? events(*only_, name_) : events(name_);
    consume(stream_, perform_);
}

void KeyboardShortcutEvents::stopListening() {
    if (!stream_)
        return;
    stream_->finish();
    stream_.reset();
}

KeyboardShortcutEvents* onGlobalKeyboardShortcut(QWidget* widget, const Name& name,
                                                 std::function<void(EventType)> perform) {
    return new KeyboardShortcutEvents(widget, name, std::nullopt, std::move(perform));
}

KeyboardShortcutEvents* onGlobalKeyboardShortcut(QWidget* widget, const Name& name, EventType type,
                                                 std::function<void()> perform) {
    return new KeyboardShortcutEvents(widget, name, type, [perform = std::move(perform)](EventType) { perform(); });
}

}  // namespace GlobalShortcuts
