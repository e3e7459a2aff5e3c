#include "PackageFixture.h"

#include "packages/GlobalShortcuts/Constants.h"
#include "packages/GlobalShortcuts/EventMask.h"
#include "packages/GlobalShortcuts/GlobalKeyboardShortcut.h"
#include "packages/GlobalShortcuts/KeyboardShortcutEvents.h"
#include "packages/GlobalShortcuts/LocalEventMonitor.h"
#include "packages/GlobalShortcuts/MenuItemSupport.h"
#include "packages/GlobalShortcuts/Recorder.h"
#include "platform/input/KeyCodeTable.h"
#include "platform/input/KeyboardLayout.h"
#include "support/AlertAnswerer.h"
#include "support/WaitUntil.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolButton>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest/QTest>

using namespace GlobalShortcuts;
using platform::HotKeyCenter;

namespace {

const Shortcut cmdShift6(22, 768), cmdShift7(26, 768);
using Changes = std::vector<std::optional<Shortcut>>;

class RecorderUi : public PackageFixture {
protected:
    void SetUp() override {
        PackageFixture::SetUp();
        RecorderCocoa::setBeepForTesting([this] { ++beeps; });
        auto* layout = new QVBoxLayout(&window);
        layout->setMenuBar(menuBar = new QMenuBar);
        layout->addWidget(recorder = new Recorder(name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); }));
        layout->addWidget(other = new QLineEdit);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field = recorder->control();
    }
    void TearDown() override {
        RecorderCocoa::setBeepForTesting(nullptr);
        PackageFixture::TearDown();
    }
    void startRecording() {
        QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
        ASSERT_TRUE(waitUntil([&] { return field->isRecording(); }));
    }

    Name name{"recorded"};
    QWidget window;
    QMenuBar* menuBar;
    QLineEdit* other;
    Recorder* recorder;
    RecorderCocoa* field;
    int beeps = 0;
    Changes changes;
};

TEST_F(RecorderUi, HoldsTheKeyboardBeepsAtKeysWithoutAModifierAndStoresTheFirstCombination) {
    EXPECT_FALSE(field->hasFocus());  // showing does not start recording
    QAction action;
    globalKeyboardShortcut(&action, name);
    startRecording();
    EXPECT_EQ(field->placeholderText(), "Press Shortcut");
    EXPECT_TRUE(isPaused() && QWidget::keyboardGrabber() == field && action.shortcut().isEmpty());  // keys are ours
    for (auto [key, modifiers] : std::initializer_list<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_A, {}}, {Qt::Key_A, Qt::ShiftModifier}, {Qt::Key_Backtab, Qt::ShiftModifier},
             {Qt::Key_Escape, Qt::ShiftModifier}, {Qt::Key_Pause, Qt::ControlModifier}})  // the last: no key code
        QTest::keyClick(field, key, modifiers);
    EXPECT_TRUE(beeps == 5 && field->isRecording());

    QTest::keyClick(field, Qt::Key_AsciiCircum, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(getShortcut(name) == cmdShift6 && changes == Changes{cmdShift6});
    EXPECT_EQ(field->text(), "Ctrl+Shift+6");
    EXPECT_FALSE(field->isRecording() || isPaused() || QWidget::keyboardGrabber());
    EXPECT_EQ(action.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_6));
    EXPECT_TRUE(field->showsCancelButton() && field->placeholderText() == "Record Shortcut");
    startRecording();  // function keys need no modifier; Shift alone will do
    QTest::keyClick(field, Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_TRUE(field->text() == "Shift+F2" && beeps == 5);
    startRecording();  // nor does Print, in F13's place
    QTest::keyClick(field, Qt::Key_Print);
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f13.rawValue, 0));
    EXPECT_TRUE(field->text() == "Print" && beeps == 5);
    startRecording();
    delete recorder;  // gone while recording: the shortcuts do not stay paused
    EXPECT_FALSE(isPaused() || QWidget::keyboardGrabber());
}

TEST_F(RecorderUi, BackspaceDeleteAndTheClearButtonClearAndRecordingGoesOn) {
    startRecording();
    QTest::keyClick(field, Qt::Key_Backspace);  // nothing stored: nothing to clear
    EXPECT_TRUE(changes.empty());
    setShortcut(cmdShift6, name);
    EXPECT_EQ(field->text(), "Ctrl+Shift+6");  // follows the stored value
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_FALSE(userDefaultsContains(name) || field->showsCancelButton());
    EXPECT_TRUE(changes == Changes{std::nullopt} && field->isRecording());

    other->setFocus();
    setShortcut(cmdShift6, name);
    auto* clear = field->findChild<QToolButton*>();
    QTest::mouseClick(clear, Qt::LeftButton, {}, clear->rect().center());
    EXPECT_TRUE(!userDefaultsContains(name) && field->isRecording());  // ready for the new one
    field->setShortcutName(Name("recordedWithDefault", cmdShift6));
    EXPECT_EQ(field->text(), "Ctrl+Shift+6");
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(store.object("GlobalShortcuts_recordedWithDefault"), QVariant(false));
}

TEST_F(RecorderUi, EndsOnFocusLossEscapeTabClicksOutsideAndLeavingTheWindow) {
    for (auto end : std::initializer_list<std::function<void()>>{
             [&] { other->setFocus(); }, [&] { QTest::keyClick(field, Qt::Key_Escape); },
             [&] { QTest::mouseClick(&window, Qt::RightButton, {}, field->mapTo(&window, QPoint(field->width() + 40, 5))); },
             [&] { QTest::keyClick(field, Qt::Key_Tab); }}) {
        startRecording();
        // Within three pixels of the field counts as inside.
        QTest::mouseClick(&window, Qt::LeftButton, {}, field->mapTo(&window, QPoint(field->width() + 2, 5)));
        EXPECT_TRUE(field->isRecording());
        end();
        EXPECT_FALSE(field->isRecording());
    }
    EXPECT_TRUE(other->hasFocus());  // Tab went on to the next field
    int seen = 0;  // a monitor of its own sees the focused field's keys only while started
    LocalEventMonitor monitor(EventMask::bit(EventMask::keyDown), [&](QEvent* e) { return ++seen, e; });
    QTest::keyClick(other, Qt::Key_A);
    monitor.start();
    QTest::keyClick(other, Qt::Key_A);
    EXPECT_EQ(seen, 1);
    startRecording();
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_FALSE(field->isRecording() || isPaused() || QWidget::keyboardGrabber());
    // Back in the window, the field does not start recording by itself.
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    spinFor(20);
    EXPECT_FALSE(field->hasFocus() || userDefaultsContains(name));
}

TEST_F(RecorderUi, ConflictsWithAMenuItemOrAnotherProgramRaiseAlerts) {
    QAction* save = menuBar->addMenu("&File")->addAction("&Save Capture", QKeySequence(Qt::CTRL | Qt::Key_S));
    int saves = 0;
    QObject::connect(save, &QAction::triggered, [&] { ++saves; });
    startRecording();
    {
        AlertAnswerer answer("OK");
        QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
        EXPECT_TRUE(answer.text.contains("“Save Capture”")) << answer.text.toStdString();
        EXPECT_EQ(answer.modality, Qt::WindowModal);
    }
    EXPECT_TRUE(saves == 0 && waitUntil([&] { return field->isRecording(); }));  // recording starts again

    center.refused = {{quint32(Key::k.rawValue), 0x100}, {quint32(Key::f12.rawValue), 0}};  // another program's
    for (const char* button : {"OK", "Use Anyway"}) {
        ASSERT_TRUE(waitUntil([&] { return field->isRecording(); }));
        AlertAnswerer answer(button);
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier);
        EXPECT_EQ(answer.titles, (QStringList{"OK", "Use Anyway"}));
    }
    EXPECT_EQ(getShortcut(name), Shortcut(Key::k.rawValue, 0x100));
    EXPECT_EQ(changes.size(), 1u);
    startRecording();
    QTest::keyClick(field, Qt::Key_F12);  // F12 alone is never stopped
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f12.rawValue, 0));

    // A tray app has no menu bar: the menu it hands over is its menu.
    QMenu tray;
    tray.addAction("Capture Screen", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_6));
    tray.addAction("Quit Zentola", QKeySequence(Qt::CTRL | Qt::Key_Q));
    RecorderCocoa::setMainMenu([&] { return &tray; });
    std::shared_ptr<void> handBack(nullptr, [](void*) { RecorderCocoa::setMainMenu(nullptr); });
    startRecording();
    {
        AlertAnswerer answer("OK");
        QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_TRUE(answer.text.contains("“Quit Zentola”")) << answer.text.toStdString();
    }
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f12.rawValue, 0));
    // The overlay's own default, which the menu shows beside its command, is the overlay's to take.
    field->setShortcutName(Name::openOverlay());
    ASSERT_TRUE(waitUntil([&] { return field->isRecording(); }));
    AlertAnswerer none("OK");
    QTest::keyClick(field, Qt::Key_AsciiCircum, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(getShortcut(Name::openOverlay()), cmdShift6);
    EXPECT_TRUE(none.text.isEmpty()) << none.text.toStdString();
}

TEST_F(RecorderUi, EveryCombinationOfTheKeyboardAndAnyStoredRecordReadsWhole) {
    // The room for text: inside the frame and the line edit's own margins, up to the clear button.
    const auto room = [&] {
        QCoreApplication::processEvents();  // the window's layout gives the field its width
        const int frame = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field);
        return field->findChild<QToolButton*>()->geometry().left() - frame - 2 * 2;
    };
    std::vector<Shortcut> shortcuts;
    for (int code : platform::KeyCodeTable::virtualKeyCodes())
        shortcuts.push_back(Shortcut(code, 0x1B00));  // Super+Ctrl+Alt+Shift
    for (const char* layout : {"us", "de", "fr"}) {
        platform::KeyboardLayout::setCurrentForTesting(platform::KeyboardLayout::fromNames(layout));
        emit platform::KeyboardLayoutChanges::instance().changed();
        for (const Shortcut& shortcut : shortcuts) {
            setShortcut(shortcut, name);
            EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), room()) << field->text().toStdString();
        }
    }
    store.setString("GlobalShortcuts_recorded", R"({"carbonKeyCode":4294967296,"carbonModifiers":6912})");
    userDefaultsDidChange(name);
    EXPECT_EQ(field->text(), "Super+Ctrl+Alt+Shift+Key 4294967296");
    EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), room());
}

class GermanTitles : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override {
        return QByteArray(context) + source == "SettingsOpen capture overlay" ? "Aufnahme öffnen" : QString();
    }
};

TEST_F(RecorderUi, LabelledRecordersPutTheTitleFirstLookedUpOrVerbatim) {
    GermanTitles german;
    QCoreApplication::installTranslator(&german);
    Recorder looked(LocalizedStringKey{"Settings", "Open capture overlay"}, name);
    Recorder verbatim("Open capture overlay", name);
    auto text = [](const Recorder& r) { return qobject_cast<QLabel*>(r.label())->text(); };
    EXPECT_TRUE(text(looked) == "Aufnahme öffnen" && text(verbatim) == "Open capture overlay");
    QCoreApplication::removeTranslator(&german);
    turn();
    EXPECT_EQ(text(looked), "Open capture overlay");  // follows the language
    EXPECT_FALSE(recorder->hasLabel() || Constants::isSandboxed());
}

const QKeySequence ctrlShift6(Qt::CTRL | Qt::SHIFT | Qt::Key_6), ctrlShift7(Qt::CTRL | Qt::SHIFT | Qt::Key_7);

TEST_F(PackageFixture, MenuItemsAndActionsFollowTheirNameOnTheNextTurnAndLetARecordingRecorderHaveTheKeys) {
    const Name bound("menuBound", cmdShift6), otherName("menuOther");
    QAction item("Capture"), action("Do");
    setShortcut(std::nullopt, bound);  // disabled: no key sequence
    MenuItemSupport::setShortcutFor(&item, bound);
    auto* binding = globalKeyboardShortcut(&action, bound);
    EXPECT_TRUE(item.shortcut().isEmpty() && action.shortcut().isEmpty());
    setShortcut(cmdShift7, bound);
    setShortcut(cmdShift6, otherName);
    EXPECT_TRUE(item.shortcut().isEmpty());  // not before the storage operation is over
    turn();
    EXPECT_TRUE(item.shortcut() == ctrlShift7 && action.shortcut() == ctrlShift7);
    MenuItemSupport::setShortcutFor(&item, otherName);  // replaces the binding
    auto& notifications = platform::NotificationCenter::defaultCenter();
    notifications.post(recorderActiveStatusDidChange, {{"isActive", true}});
    setShortcut(cmdShift6, bound);
    turn();
    EXPECT_EQ(item.shortcut(), ctrlShift6);
    EXPECT_TRUE(action.shortcut().isEmpty());
    notifications.post(recorderActiveStatusDidChange, {{"isActive", "yes"}});  // no bool: not active
    EXPECT_FALSE(binding->isRecorderActive());
    EXPECT_EQ(action.shortcut(), ctrlShift6);
    // Another keyboard layout: the same keys, named as that layout types them.
    platform::KeyboardLayout::setCurrentForTesting(platform::KeyboardLayout::fromNames("fr"));
    emit platform::KeyboardLayoutChanges::instance().changed();
    EXPECT_EQ(item.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Minus));
    EXPECT_EQ(action.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Minus));
    MenuItemSupport::setShortcutFor(&item, std::nullopt);
    setShortcut(cmdShift7, otherName);
    turn();
    EXPECT_TRUE(item.shortcut().isEmpty());
}

TEST_F(PackageFixture, ShownWidgetReceivesPressesAndReleasesUntilHidden) {
    const Name name("viewEvents");
    setShortcut(cmdShift6, name);
    disable({name});
    QWidget widget;
    std::vector<EventType> all;
    int releases = 0;
    auto* listener = onGlobalKeyboardShortcut(&widget, name, [&](EventType e) { all.push_back(e); });
    onKeyboardShortcut(&widget, name, EventType::keyUp, [&] { ++releases; });
    EXPECT_FALSE(listener->isListening());
    for (int shown = 0; shown < 2; ++shown) {
        widget.show();
        turn();
        center.send(HotKeyCenter::kindHotKeyPressed, 22, 768);
        center.send(HotKeyCenter::kindHotKeyReleased, 22, 768);
        widget.hide();
        turn();
        turn();
        EXPECT_FALSE(center.isLive(22, 768));  // nothing else needs it
    }
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(all, (std::vector<EventType>{EventType::keyDown, EventType::keyUp, EventType::keyDown, EventType::keyUp}));
}

TEST_F(PackageFixture, MenusOpeningClosingOrGoingAwayWithdrawAndRestoreHotKeys) {
    initialize();
    setShortcut(cmdShift6, Name("menuTracked"));
    auto* menu = new QMenu;
    QMenu* sub = menu->addMenu("More");
    menu->popup(QPoint(10, 10));
    EXPECT_FALSE(center.isLive(22, 768));
    sub->popup(QPoint(60, 10));
    sub->hide();
    EXPECT_TRUE(isMenuOpen());  // the outer menu is still open
    menu->hide();
    EXPECT_TRUE(center.isLive(22, 768));
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(isMenuOpen());
    delete menu;  // deleted while open: no hide event
    EXPECT_FALSE(isMenuOpen());
    EXPECT_TRUE(center.isLive(22, 768));
}

}  // namespace
