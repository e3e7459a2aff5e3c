#pragma once

#include "packages/GlobalShortcuts/LocalEventMonitor.h"
#include "packages/GlobalShortcuts/Name.h"
#include "packages/GlobalShortcuts/Shortcut.h"
#include "platform/core/NotificationCenter.h"

#include <QLineEdit>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QAction;

namespace GlobalShortcuts {

// The field in which the user sets the shortcut of one name. Focusing it starts recording; the next
// acceptable combination is checked and stored. Backspace or Delete clears, Escape ends without a
// change, a click outside ends too. While it records no global shortcut fires.
class RecorderCocoa : public QLineEdit {
    Q_OBJECT
public:
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;

    // The narrowest the field gets; it is as wide as the longest combination's text needs.
    static constexpr int minimumWidth = 130;

    explicit RecorderCocoa(const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    ~RecorderCocoa() override;

    const Name& shortcutName() const { return shortcutName_; }
    void setShortcutName(const Name& name);

    bool isRecording() const { return eventMonitor_ != nullptr; }
    bool showsCancelButton() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The system beep (tests count it).
    static void setBeepForTesting(std::function<void()> beep);

    // The application's own menu, whose key equivalents a recorded shortcut must not take, besides
    // the menu bar of the recorder's window: a tray application's menu. None by default.
    static void setMainMenu(std::function<QWidget*()> menu);

protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QEvent* handleMonitoredEvent(QEvent* event);
    void startRecording();
    void endRecording();
    void setStringValue(const Name& name);
    void setShowsCancelButton(bool shows);
    void saveShortcut(const std::optional<Shortcut>& shortcut);
    void controlTextDidChange();
    void preventBecomingKey();
    void watchWindow();
    void resignFocus();
    void takeFocusBack();
    void beep();
    QAction* conflictingMenuItem(const Shortcut& shortcut) const;
    // The width the field needs to show the text whole, with its clear button.
    int widthFor(const QString& text) const;

    OnChange onChange_;
    Name shortcutName_;
    QAction* cancelButton_ = nullptr;
    std::unique_ptr<LocalEventMonitor> eventMonitor_;
    platform::NotificationCenter::Token shortcutsNameChangeObserver_ = 0;
    QPointer<QWidget> observedWindow_;
    // The width the longest combination needs, for the font and layout in use.
    mutable std::optional<int> longestWidth_;
};

}  // namespace GlobalShortcuts
