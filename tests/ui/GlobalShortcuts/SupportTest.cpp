#include "PackageFixture.h"

#include "packages/GlobalShortcuts/Alert.h"
#include "packages/GlobalShortcuts/Constants.h"
#include "packages/GlobalShortcuts/EventMask.h"
#include "packages/GlobalShortcuts/GlobalKeyboardShortcut.h"
#include "packages/GlobalShortcuts/KeyboardShortcutEvents.h"
#include "packages/GlobalShortcuts/LocalEventMonitor.h"
#include "packages/GlobalShortcuts/MenuItemSupport.h"
#include "platform/input/KeyboardLayout.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>

using namespace GlobalShortcuts;
using platform::HotKeyCenter;

namespace {

const Shortcut cmdShift6(Key::six, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));
const Shortcut cmdShift7(Key::seven, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));
const QKeySequence ctrlShift6(Qt::CTRL | Qt::SHIFT | Qt::Key_6);
const QKeySequence ctrlShift7(Qt::CTRL | Qt::SHIFT | Qt::Key_7);

class Support : public PackageFixture {
protected:
    void SetUp() override {
        PackageFixture::SetUp();
        platform::KeyboardLayout::setCurrentForTesting(platform::KeyboardLayout::fromNames("us"));
    }
    void TearDown() override {
        platform::KeyboardLayout::setCurrentForTesting(std::nullopt);
        PackageFixture::TearDown();
    }
    static void turn() { QCoreApplication::processEvents(); }
};

TEST_F(Support, BoundMenuItemFollowsItsNameOnTheNextTurn) {
    const Name bound("menuBound"), otherName("menuOther");
    QAction action("Capture");
    setShortcut(cmdShift6, bound);
    MenuItemSupport::setShortcutFor(&action, bound);
    EXPECT_EQ(action.shortcut(), ctrlShift6);

    setShortcut(cmdShift7, bound);
    EXPECT_EQ(action.shortcut(), ctrlShift6);  // not before the storage operation is over
    turn();
    EXPECT_EQ(action.shortcut(), ctrlShift7);

    setShortcut(cmdShift6, otherName);
    turn();
    EXPECT_EQ(action.shortcut(), ctrlShift7);

    // Another name replaces the binding.
    MenuItemSupport::setShortcutFor(&action, otherName);
    EXPECT_EQ(action.shortcut(), ctrlShift6);
    setShortcut(std::nullopt, bound);
    turn();
    EXPECT_EQ(action.shortcut(), ctrlShift6);

    MenuItemSupport::setShortcutFor(&action, std::nullopt);
    EXPECT_TRUE(action.shortcut().isEmpty());
    setShortcut(cmdShift7, otherName);
    turn();
    EXPECT_TRUE(action.shortcut().isEmpty());
}

TEST_F(Support, UnsetOrDisabledNamesLeaveTheItemEmptyUntilAShortcutArrives) {
    const Name disabled("menuDisabled", cmdShift6);
    setShortcut(std::nullopt, disabled);
    QAction action("Capture");
    action.setShortcut(QKeySequence("Ctrl+Q"));
    MenuItemSupport::setShortcutFor(&action, disabled);
    EXPECT_TRUE(action.shortcut().isEmpty());
    setShortcut(cmdShift7, disabled);
    turn();
    EXPECT_EQ(action.shortcut(), ctrlShift7);
    // A keypad key has no key equivalent.
    MenuItemSupport::setShortcut(&action, Shortcut(Key::keypad5, ModifierFlags(ModifierFlags::option)));
    EXPECT_TRUE(action.shortcut().isEmpty());
}

TEST_F(Support, ActionLosesItsShortcutWhileARecorderRecords) {
    const Name name("viewShortcut");
    setShortcut(cmdShift6, name);
    QAction action("Do");
    auto* binding = globalKeyboardShortcut(&action, name);
    EXPECT_EQ(action.shortcut(), ctrlShift6);

    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(recorderActiveStatusDidChange, {{"isActive", true}});
    EXPECT_TRUE(action.shortcut().isEmpty());
    EXPECT_TRUE(binding->isRecorderActive());
    setShortcut(cmdShift7, name);
    EXPECT_TRUE(action.shortcut().isEmpty());
    center.post(recorderActiveStatusDidChange, {{"isActive", false}});
    EXPECT_EQ(action.shortcut(), ctrlShift7);

    center.post(recorderActiveStatusDidChange, {{"isActive", true}});
    center.post(recorderActiveStatusDidChange, {{"isActive", QString("yes")}});  // no bool: not active
    EXPECT_FALSE(binding->isRecorderActive());
    EXPECT_EQ(action.shortcut(), ctrlShift7);
}

TEST_F(Support, ShownWidgetReceivesPressesAndReleasesUntilHidden) {
    const Name name("viewEvents");
    setShortcut(cmdShift6, name);
    disable({name});
    QWidget widget;
    std::vector<EventType> all;
    int releases = 0;
    auto* listener = onGlobalKeyboardShortcut(&widget, name, [&](EventType e) { all.push_back(e); });
    onKeyboardShortcut(&widget, name, EventType::keyUp, [&] { ++releases; });
    EXPECT_FALSE(listener->isListening());

    widget.show();
    turn();
    EXPECT_TRUE(listener->isListening());
    center.send(HotKeyCenter::kindHotKeyPressed, 22, 768);
    center.send(HotKeyCenter::kindHotKeyReleased, 22, 768);
    EXPECT_EQ(all, (std::vector<EventType>{EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(releases, 1);

    widget.hide();
    turn();
    turn();
    EXPECT_FALSE(center.isLive(22, 768));  // nothing else needs it
    widget.show();
    turn();
    center.send(HotKeyCenter::kindHotKeyReleased, 22, 768);
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(all.size(), 3u);
}

TEST_F(Support, DroppedMonitorNoLongerSeesEvents) {
    QWidget widget;
    widget.setFocusPolicy(Qt::StrongFocus);
    widget.show();
    QApplication::setActiveWindow(&widget);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
    widget.setFocus();
    int seen = 0;
    auto monitor = std::make_unique<LocalEventMonitor>(EventMask::bit(EventMask::keyDown), [&](QEvent* e) {
        ++seen;
        return e;
    });
    QTest::keyClick(&widget, Qt::Key_A);
    EXPECT_EQ(seen, 0);  // not started
    monitor->start();
    QTest::keyClick(&widget, Qt::Key_A, Qt::ShiftModifier);  // the Shift press is a flag change
    EXPECT_EQ(seen, 1);
    monitor.reset();
    QTest::keyClick(&widget, Qt::Key_A);
    EXPECT_EQ(seen, 1);
}

TEST_F(Support, AlertWithoutWindowIsApplicationModalAndAnswersByButtonOrder) {
    Qt::WindowModality modality = Qt::NonModal;
    QStringList titles;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        modality = box->windowModality();
        for (QAbstractButton* b : box->buttons())
            titles << b->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Second")
                b->click();
    });
    Alert alert;
    alert.messageText = "Message";
    alert.buttons = {"First", "Second"};
    EXPECT_EQ(alert.runModal(nullptr), 1001);
    EXPECT_EQ(modality, Qt::ApplicationModal);
    EXPECT_EQ(titles.size(), 2);
}

TEST_F(Support, MenusOpeningClosingOrGoingAwayWithdrawAndRestoreHotKeys) {
    initialize();
    const Name name("menuTracked");
    setShortcut(cmdShift6, name);
    auto* menu = new QMenu;
    menu->addAction("Item");
    QMenu* sub = menu->addMenu("More");
    sub->addAction("Inner");

    menu->popup(QPoint(10, 10));
    EXPECT_TRUE(isMenuOpen());
    EXPECT_FALSE(center.isLive(22, 768));
    sub->popup(QPoint(60, 10));
    sub->hide();
    EXPECT_TRUE(isMenuOpen());  // the outer menu is still open
    menu->hide();
    EXPECT_FALSE(isMenuOpen());
    EXPECT_TRUE(center.isLive(22, 768));

    // A menu deleted while open sends no hide event.
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(isMenuOpen());
    delete menu;
    EXPECT_FALSE(isMenuOpen());
    EXPECT_TRUE(center.isLive(22, 768));
}

TEST(Constants, FunctionKeysAndSandbox) {
    EXPECT_TRUE(Constants::functionKeys().contains(Qt::Key_F13));
    EXPECT_TRUE(Constants::functionKeys().contains(Qt::Key_F35));
    EXPECT_FALSE(Constants::functionKeys().contains(Qt::Key_Escape));
    EXPECT_EQ(Constants::functionKeys().size(), 35);
    // Set, even to nothing, means sandboxed. Nothing else asks first: the answer is kept.
    qputenv("APP_SANDBOX_CONTAINER_ID", "");
    EXPECT_TRUE(Constants::isSandboxed());
    qunsetenv("APP_SANDBOX_CONTAINER_ID");
}

}  // namespace
