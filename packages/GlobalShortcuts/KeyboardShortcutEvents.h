#pragma once

#include "packages/GlobalShortcuts/EventStream.h"
#include "packages/GlobalShortcuts/EventType.h"
#include "packages/GlobalShortcuts/Name.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace GlobalShortcuts {

// Runs a callback for each press and release of a named global shortcut while a widget is shown:
// each showing opens an event stream, each hiding finishes it. Lives as a child of the widget.
class KeyboardShortcutEvents : public QObject {
    Q_OBJECT
public:
    KeyboardShortcutEvents(QWidget* widget, const Name& name, std::optional<EventType> only,
                           std::function<void(EventType)> perform);
    ~KeyboardShortcutEvents() override;

    bool isListening() const { return stream_ != nullptr; }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startListening();
    void stopListening();

    Name name_;
    std::optional<EventType> only_;
    std::function<void(EventType)> perform_;
    std::shared_ptr<EventStream> stream_;
};

// Each press and release, with its kind.
KeyboardShortcutEvents* onGlobalKeyboardShortcut(QWidget* widget, const Name& name,
                                                 std::function<void(EventType)> perform);
// Only presses or only releases.
KeyboardShortcutEvents* onGlobalKeyboardShortcut(QWidget* widget, const Name& name, EventType type,
                                                 std::function<void()> perform);
inline KeyboardShortcutEvents* onKeyboardShortcut(QWidget* widget, const Name& name,
                                                  std::function<void(EventType)> perform) {
    return onGlobalKeyboardShortcut(widget, name, std::move(perform));
}
inline KeyboardShortcutEvents* onKeyboardShortcut(QWidget* widget, const Name& name, EventType type,
                                                  std::function<void()> perform) {
    return onGlobalKeyboardShortcut(widget, name, type, std::move(perform));
}

}  // namespace GlobalShortcuts
