#include "packages/GlobalShortcuts/RecorderCocoa.h"

#include "packages/GlobalShortcuts/Alert.h"
#include "packages/GlobalShortcuts/ApplicationShortcuts.h"
#include "packages/GlobalShortcuts/Constants.h"
#include "packages/GlobalShortcuts/EventMask.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Localization.h"
#include "packages/GlobalShortcuts/SystemGlobalShortcuts.h"
#include "platform/input/KeyCodeTable.h"
#include "platform/input/KeyboardLayout.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace GlobalShortcuts {

namespace {

std::function<void()>& beepFunction() {
    static std::function<void()> beep = [] { QApplication::beep(); };
    return beep;
}

std::function<QWidget*()>& mainMenu() {
    static std::function<QWidget*()> menu;
    return menu;
}

// F1 to F35 need no modifier, and so does Print, which stands where an extended keyboard has F13.
bool isFunctionKey(const QKeyEvent& key) {
    return Constants::functionKeys().contains(key.key()) ||
           platform::KeyCodeTable::virtualKeyCode(key) == Key::f13.rawValue;
}

// The longest text a combination of keys on the keyboard takes: every modifier and the key whose
// name is widest, in the current layout.
QString longestCombination(const QFontMetrics& metrics) {
    constexpr qint64 allModifiers = 0x1000 | 0x100 | 0x800 | 0x200;  // Super, Ctrl, Alt, Shift
    QString longest;
    for (int code : platform::KeyCodeTable::virtualKeyCodes()) {
        const QString text = Shortcut(code, allModifiers).presentableDescription();
        if (metrics.horizontalAdvance(text) > metrics.horizontalAdvance(longest))
            longest = text;
    }
    return longest;
}

// Every device-independent modifier but the lock and keypad flags; the second also without Shift
// and Function, the modifiers that cannot make a shortcut on their own.
constexpr quint64 anyModifierMask = 0xFFDE0000;
constexpr quint64 requiredModifierMask = 0xFF5C0000;

}  // namespace

RecorderCocoa::RecorderCocoa(const Name& name, OnChange onChange, QWidget* parent)
    : QLineEdit(parent), onChange_(std::move(onChange)), shortcutName_(name) {
    setPlaceholderText(localized("record_shortcut"));
    setAlignment(Qt::AlignCenter);
    // Nothing is typed here: keys are recorded, and the caret stays hidden.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    cancelButton_ = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    cancelButton_->setToolTip(QStringLiteral("Clear"));
    connect(cancelButton_, &QAction::triggered, this, [this] {
        setText(QString());
        controlTextDidChange();
    });
    setStringValue(name);

    QPointer<RecorderCocoa> self(this);
    shortcutsNameChangeObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        shortcutByNameDidChange, [self](const QVariantMap& info) {
            const QVariant value = info.value("name");
            if (self && value.canConvert<Name>() && value.value<Name>() == self->shortcutName_)
                self->setStringValue(self->shortcutName_);
        });
    // The key's character depends on the layout: another layout names the same key otherwise.
    connect(&platform::KeyboardLayoutChanges::instance(), &platform::KeyboardLayoutChanges::changed, this,
            [this] {
                longestWidth_.reset();
                setStringValue(shortcutName_);
            });
    watchWindow();
}

RecorderCocoa::~RecorderCocoa() {
    platform::NotificationCenter::defaultCenter().removeObserver(shortcutsNameChangeObserver_);
    // A recorder that goes away while recording must not leave the shortcuts paused.
    if (isRecording())
        endRecording();
}

void RecorderCocoa::setShortcutName(const Name& name) {
    if (name.rawValue() == shortcutName_.rawValue())
        return;
    shortcutName_ = name;
    setStringValue(name);
}

bool RecorderCocoa::showsCancelButton() const { return cancelButton_->isVisible(); }

QSize RecorderCocoa::sizeHint() const {
    // Sized for the longest combination, so the field keeps its width whatever is recorded; and for
    // the text shown, which a stored record of any key code may make longer still.
    if (!longestWidth_)
        longestWidth_ = widthFor(longestCombination(fontMetrics()));
    const int width = std::max({minimumWidth, *longestWidth_, widthFor(text())});
    return {width, QLineEdit::sizeHint().height()};
}

int RecorderCocoa::widthFor(const QString& text) const {
    // The line edit's own margins around its text, as it lays the text out, and room for the clear
    // button on both sides, so centred text clears it.
    constexpr int textMargin = 2;
    const QMargins margins = textMargins();
    const int clearButton = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this) + 6;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const int inner = fontMetrics().horizontalAdvance(text) + 2 * textMargin + margins.left() + margins.right() +
                      2 * clearButton;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(inner, fontMetrics().height()), this).width();
}

void RecorderCocoa::setMainMenu(std::function<QWidget*()> menu) { mainMenu() = std::move(menu); }

QSize RecorderCocoa::minimumSizeHint() const { return sizeHint(); }

void RecorderCocoa::setBeepForTesting(std::function<void()> beep) {
    beepFunction() = beep ? std::move(beep) : [] { QApplication::beep(); };
}

void RecorderCocoa::beep() { beepFunction()(); }

void RecorderCocoa::setStringValue(const Name& name) {
    auto shortcut = getShortcut(name);
    setText(shortcut ? shortcut->presentableDescription() : QString());
    setShowsCancelButton(!text().isEmpty());
    updateGeometry();
}

void RecorderCocoa::setShowsCancelButton(bool shows) { cancelButton_->setVisible(shows); }

void RecorderCocoa::saveShortcut(const std::optional<Shortcut>& shortcut) { setShortcut(shortcut, shortcutName_); }

void RecorderCocoa::controlTextDidChange() {
    if (text().isEmpty()) {
        saveShortcut(std::nullopt);
        if (onChange_)
            onChange_(std::nullopt);
    }
    setShowsCancelButton(!text().isEmpty());
    if (text().isEmpty())
        setFocus(Qt::OtherFocusReason);
}

void RecorderCocoa::takeFocusBack() {
    // The alert's window had the focus; the recorder's window gets it back first.
    window()->activateWindow();
    setFocus(Qt::OtherFocusReason);
}

void RecorderCocoa::resignFocus() {
    // Until the window manager has made the window active again after an alert, the field is only
    // the window's focus widget: left so, it would take the focus, and record, once the window is.
    if (hasFocus() || window()->focusWidget() == this)
        clearFocus();
    if (isRecording())
        endRecording();
}

bool RecorderCocoa::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // While recording, every key comes here: an application shortcut must not run instead.
        if (isRecording()) {
            event->accept();
            return true;
        }
        break;
    case QEvent::FontChange:
    case QEvent::StyleChange:
        longestWidth_.reset();
        break;
    case QEvent::ParentChange:
        // Leaving a window ends recording; the new window is watched instead.
        if (isRecording())
            endRecording();
        watchWindow();
        break;
    case QEvent::Show:
        // A parent may have moved into another window since: only this field's own moves are told.
        if (window() != observedWindow_)
            watchWindow();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

void RecorderCocoa::watchWindow() {
    if (observedWindow_)
        observedWindow_->removeEventFilter(this);
    observedWindow_ = window();
    if (observedWindow_ && observedWindow_ != this)
        observedWindow_->installEventFilter(this);
    preventBecomingKey();
}

bool RecorderCocoa::eventFilter(QObject* watched, QEvent* event) {
    if (watched == observedWindow_) {
        if (event->type() == QEvent::WindowDeactivate) {
            endRecording();
            if (hasFocus())
                clearFocus();
        } else if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show) {
            preventBecomingKey();
        }
    }
    return QLineEdit::eventFilter(watched, event);
}

void RecorderCocoa::preventBecomingKey() {
    // The window must not pick the recorder by itself when it is shown or activated: recording
    // starts only when the user clicks or tabs into it.
    setFocusPolicy(Qt::ClickFocus);
    QTimer::singleShot(0, this, [this] { setFocusPolicy(Qt::StrongFocus); });
}

void RecorderCocoa::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    startRecording();
}

void RecorderCocoa::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    endRecording();
}

void RecorderCocoa::startRecording() {
    if (isRecording())
        return;
    setPlaceholderText(localized("press_shortcut"));
    setShowsCancelButton(!text().isEmpty());
    setIsPaused(true);
    // Held keys never reach a window: the application's own hot keys and other programs' go to
    // their grabs. Holding the keyboard brings every combination here, so the checks below run.
    grabKeyboard();
    platform::NotificationCenter::defaultCenter().post(recorderActiveStatusDidChange, {{"isActive", true}});
    QPointer<RecorderCocoa> self(this);
    eventMonitor_ = std::make_unique<LocalEventMonitor>(
        EventMask::bit(EventMask::keyDown) | EventMask::bit(EventMask::leftMouseUp) |
            EventMask::bit(EventMask::rightMouseUp),
        [self](QEvent* e) -> QEvent* { return self ? self->handleMonitoredEvent(e) : nullptr; });
    eventMonitor_->start();
}

void RecorderCocoa::endRecording() {
    eventMonitor_.reset();
    if (QWidget::keyboardGrabber() == this)
        releaseKeyboard();
    setPlaceholderText(localized("record_shortcut"));
    setShowsCancelButton(!text().isEmpty());
    setIsPaused(false);
    platform::NotificationCenter::defaultCenter().post(recorderActiveStatusDidChange, {{"isActive", false}});
}

QAction* RecorderCocoa::conflictingMenuItem(const Shortcut& shortcut) const {
    // The tray menu shows the overlay's default combination beside the command it runs: recording
    // a name's own default again takes nothing from the menu.
    if (applicationDefault(shortcutName_) == shortcut)
        return nullptr;
    for (QWidget* menu : {static_cast<QWidget*>(window()->findChild<QMenuBar*>()), mainMenu() ? mainMenu()() : nullptr})
        if (QAction* item = shortcut.menuItemWithMatchingShortcut(menu))
            return item;
    return nullptr;
}

QEvent* RecorderCocoa::handleMonitoredEvent(QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint local = mapFromGlobal(mouse->globalPosition().toPoint());
        if (!rect().adjusted(-3, -3, 3, 3).contains(local)) {
            resignFocus();
            return event;
        }
        // The press on the clear button started recording; its release is the button's click.
        if (showsCancelButton() && qobject_cast<QToolButton*>(childAt(local)))
            return event;
    }
    if (event->type() != QEvent::KeyPress)
        return nullptr;

    auto* key = static_cast<QKeyEvent*>(event);
    const quint64 flags = ModifierFlags::fromQt(key->modifiers()).rawValue;
    const bool noModifier = (flags & anyModifierMask) == 0;
    const bool noRequiredModifier = (flags & requiredModifierMask) == 0;

    if (noModifier && key->key() == Qt::Key_Tab) {
        // On to the next control while the focus is still here: with none, the window's own Tab
        // would start over at the first control, which may be this one.
        focusNextChild();
        resignFocus();
        return nullptr;
    }
    if (noModifier && platform::KeyCodeTable::virtualKeyCode(*key) == Key::escape.rawValue) {
        resignFocus();
        return nullptr;
    }
    if (noModifier && (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace)) {
        if (showsCancelButton())
            cancelButton_->trigger();
        return nullptr;
    }
    if (noRequiredModifier && !isFunctionKey(*key)) {
        beep();
        return nullptr;
    }
    auto shortcut = Shortcut::fromEvent(event);
    if (!shortcut) {
        beep();
        return nullptr;
    }

    if (QAction* item = conflictingMenuItem(*shortcut)) {
        resignFocus();
        Alert alert;
        alert.messageText = localizedFormat("keyboard_shortcut_used_by_menu_item", item->iconText());
        alert.runModal(this);
        takeFocusBack();
        return nullptr;
    }

    // F12 alone is always allowed, whatever the desktop uses it for.
    const bool f12Alone = shortcut->carbonKeyCode == Key::f12.rawValue && shortcut->carbonModifiers == 0;
    if (!f12Alone && SystemGlobalShortcuts::isSystemShortcut(*shortcut)) {
        resignFocus();
        Alert alert;
        alert.messageText = localized("keyboard_shortcut_used_by_system");
        alert.informativeText = localized("keyboard_shortcuts_can_be_changed");
        alert.buttons = {localized("ok"), localized("force_use_shortcut")};
        // Using it anyway stores it and ends recording: the window comes back, the focus does not.
        if (alert.runModal(this) != Alert::firstButtonReturn + 1) {
            takeFocusBack();
            return nullptr;
        }
        window()->activateWindow();
    }

    setText(shortcut->presentableDescription());
    setShowsCancelButton(true);
    saveShortcut(shortcut);
    if (onChange_)
        onChange_(shortcut);
    resignFocus();
    return nullptr;
}

}  // namespace GlobalShortcuts
