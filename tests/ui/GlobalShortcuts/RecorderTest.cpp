#include "PackageFixture.h"

#include "packages/GlobalShortcuts/Recorder.h"
#include "packages/GlobalShortcuts/RecorderCocoa.h"
#include "platform/input/KeyboardLayout.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest/QTest>

using namespace GlobalShortcuts;

namespace {

// Activation after a modal alert arrives through the window system, a few turns later.
bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

const Shortcut cmdShift6(Key::six, ModifierFlags(ModifierFlags::command | ModifierFlags::shift));

// Answers the next alert with the button of the given title and keeps its texts.
class AlertAnswerer {
public:
    explicit AlertAnswerer(QString button) : button_(std::move(button)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible())
                    continue;
                text = box->text();
                informative = box->informativeText();
                modality = box->windowModality();
                for (QAbstractButton* b : box->buttons())
                    titles << b->text();
                for (QAbstractButton* b : box->buttons()) {
                    if (b->text() == button_) {
                        timer_.stop();
                        b->click();
                        return;
                    }
                }
            }
        });
        timer_.start();
    }
    QString text, informative;
    QStringList titles;
    Qt::WindowModality modality = Qt::NonModal;

private:
    QString button_;
    QTimer timer_;
};

class RecorderUi : public PackageFixture {
protected:
    void SetUp() override {
        PackageFixture::SetUp();
        platform::KeyboardLayout::setCurrentForTesting(platform::KeyboardLayout::fromNames("us"));
        RecorderCocoa::setBeepForTesting([this] { ++beeps; });
        activity = platform::NotificationCenter::defaultCenter().addObserver(
            recorderActiveStatusDidChange, [this](const QVariantMap& info) { active.push_back(info.value("isActive").toBool()); });
        auto* layout = new QVBoxLayout(&window);
        menuBar = new QMenuBar(&window);
        layout->setMenuBar(menuBar);
        other = new QLineEdit(&window);
        recorder = new Recorder(name, [this](const std::optional<Shortcut>& s) { changes.push_back(s); });
        layout->addWidget(recorder);
        after = new QLineEdit(&window);
        layout->addWidget(other);
        layout->addWidget(after);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field = recorder->control();
    }
    void TearDown() override {
        platform::NotificationCenter::defaultCenter().removeObserver(activity);
        RecorderCocoa::setBeepForTesting(nullptr);
        platform::KeyboardLayout::setCurrentForTesting(std::nullopt);
        PackageFixture::TearDown();
    }
    void startRecording() {
        QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
        ASSERT_TRUE(waitFor([&] { return field->isRecording(); }));
    }

    Name name{"recorded"};
    QWidget window;
    QMenuBar* menuBar = nullptr;
    QLineEdit* other = nullptr;
    QLineEdit* after = nullptr;
    Recorder* recorder = nullptr;
    RecorderCocoa* field = nullptr;
    int beeps = 0;
    std::vector<std::optional<Shortcut>> changes;
    std::vector<bool> active;
    platform::NotificationCenter::Token activity = 0;
};

TEST_F(RecorderUi, RecordsACombinationAndEndsRecording) {
    EXPECT_EQ(field->placeholderText(), "Record Shortcut");
    EXPECT_EQ(field->sizeHint().width(), 130);
    EXPECT_FALSE(field->hasFocus());  // showing the window does not start recording
    startRecording();
    EXPECT_EQ(field->placeholderText(), "Press Shortcut");
    EXPECT_TRUE(isPaused());
    EXPECT_EQ(active, std::vector<bool>{true});

    QTest::keyClick(field, Qt::Key_AsciiCircum, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(getShortcut(name), cmdShift6);
    EXPECT_EQ(field->text(), QString::fromUtf8("⇧⌘6"));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], cmdShift6);
    EXPECT_FALSE(field->isRecording());
    EXPECT_FALSE(isPaused());
    EXPECT_EQ(active, (std::vector<bool>{true, false}));
    EXPECT_TRUE(field->showsCancelButton());
    EXPECT_EQ(field->placeholderText(), "Record Shortcut");
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderUi, KeysWithoutARequiredModifierBeepAndRecordingGoesOn) {
    startRecording();
    QTest::keyClick(field, Qt::Key_A);
    QTest::keyClick(field, Qt::Key_A, Qt::ShiftModifier);
    QTest::keyClick(field, Qt::Key_Backtab, Qt::ShiftModifier);  // Shift+Tab
    QTest::keyClick(field, Qt::Key_Escape, Qt::ShiftModifier);
    QTest::keyClick(field, Qt::Key_Print, Qt::ControlModifier);  // no key code: no shortcut
    EXPECT_EQ(beeps, 5);
    EXPECT_TRUE(field->isRecording());
    EXPECT_TRUE(field->hasFocus());
    EXPECT_FALSE(userDefaultsContains(name));
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(RecorderUi, FunctionKeysNeedNoModifier) {
    startRecording();
    QTest::keyClick(field, Qt::Key_F5);
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f5, ModifierFlags()));
    EXPECT_EQ(field->text(), "F5");
    EXPECT_FALSE(field->isRecording());

    startRecording();
    QTest::keyClick(field, Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f2, ModifierFlags(ModifierFlags::shift)));
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderUi, BackspaceClearsAndRecordingGoesOn) {
    startRecording();
    QTest::keyClick(field, Qt::Key_Backspace);  // nothing stored: nothing to clear
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(field->isRecording());

    setShortcut(cmdShift6, name);
    EXPECT_EQ(field->text(), QString::fromUtf8("⇧⌘6"));  // follows the stored value
    posted.clear();
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_FALSE(userDefaultsContains(name));
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(field->showsCancelButton());
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0]);
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_TRUE(field->isRecording());
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderUi, ClickingTheClearButtonClears) {
    setShortcut(cmdShift6, name);
    QToolButton* clear = nullptr;
    for (QToolButton* button : field->findChildren<QToolButton*>())
        if (button->isVisible())
            clear = button;
    ASSERT_TRUE(clear);
    QTest::mouseClick(clear, Qt::LeftButton, {}, clear->rect().center());
    EXPECT_FALSE(userDefaultsContains(name));
    EXPECT_TRUE(field->text().isEmpty());
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0]);
    EXPECT_TRUE(field->isRecording());  // ready for the new one
}

TEST_F(RecorderUi, ClearingANameWithADefaultStoresTheDisabledMarker) {
    const Name defaulted("recordedWithDefault", cmdShift6);
    field->setShortcutName(defaulted);
    EXPECT_EQ(field->text(), QString::fromUtf8("⇧⌘6"));
    startRecording();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(store->object("GlobalShortcuts_recordedWithDefault"), QVariant(false));
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(RecorderUi, EndsOnFocusLossEscapeTabAndClicksOutside) {
    startRecording();
    other->setFocus();
    EXPECT_FALSE(field->isRecording());
    EXPECT_FALSE(isPaused());

    startRecording();
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(field->isRecording());
    EXPECT_FALSE(userDefaultsContains(name));

    startRecording();
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_FALSE(field->isRecording());
    EXPECT_TRUE(other->hasFocus());

    startRecording();
    // Within three pixels of the field counts as inside.
    QTest::mouseClick(&window, Qt::LeftButton, {}, field->mapTo(&window, QPoint(field->width() + 2, 5)));
    EXPECT_TRUE(field->isRecording());
    QTest::mouseClick(&window, Qt::RightButton, {}, field->mapTo(&window, QPoint(field->width() + 40, 5)));
    EXPECT_FALSE(field->isRecording());
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(beeps, 0);
}

TEST_F(RecorderUi, ResigningTheWindowEndsRecording) {
    startRecording();
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_FALSE(field->isRecording());
    EXPECT_FALSE(isPaused());

    // Back in the window, the field does not start recording by itself.
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::qWait(20);
    EXPECT_FALSE(field->isRecording());
    EXPECT_FALSE(field->hasFocus());
}

TEST_F(RecorderUi, MenuItemConflictShowsAnAlertAndStoresNothing) {
    QMenu* file = menuBar->addMenu("&File");
    QAction* save = file->addAction("&Save Capture");
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    int saves = 0;
    QObject::connect(save, &QAction::triggered, [&] { ++saves; });
    startRecording();
    AlertAnswerer answer("OK");
    QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(answer.text.contains("“Save Capture”")) << answer.text.toStdString();
    EXPECT_EQ(answer.modality, Qt::WindowModal);
    EXPECT_FALSE(userDefaultsContains(name));
    EXPECT_EQ(saves, 0);
    EXPECT_TRUE(waitFor([&] { return field->isRecording(); }));  // recording starts again
}

TEST_F(RecorderUi, SystemConflictCanBeForced) {
    center.symbolic = QVariantList{
        QVariantMap{{"kHISymbolicHotKeyEnabled", true}, {"kHISymbolicHotKeyCode", qint64(Key::k.rawValue)},
                    {"kHISymbolicHotKeyModifiers", 0x100}},
        QVariantMap{{"kHISymbolicHotKeyEnabled", true}, {"kHISymbolicHotKeyCode", qint64(Key::f12.rawValue)},
                    {"kHISymbolicHotKeyModifiers", 0}},
    };
    startRecording();
    {
        AlertAnswerer answer("OK");
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier);
        EXPECT_EQ(answer.titles, (QStringList{"OK", "Use Anyway"}));
        EXPECT_FALSE(answer.informative.isEmpty());
    }
    EXPECT_FALSE(userDefaultsContains(name));
    ASSERT_TRUE(waitFor([&] { return field->isRecording(); }));
    {
        AlertAnswerer answer("Use Anyway");
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier);
    }
    EXPECT_EQ(getShortcut(name), Shortcut(Key::k, ModifierFlags(ModifierFlags::command)));
    EXPECT_FALSE(field->isRecording());
    ASSERT_EQ(changes.size(), 1u);

    startRecording();
    QTest::keyClick(field, Qt::Key_F12);  // never stopped by the system list
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f12, ModifierFlags()));
}

TEST_F(RecorderUi, TwoRecordersOfOneNameShowTheSameShortcut) {
    RecorderCocoa second(name);
    startRecording();
    QTest::keyClick(field, Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(second.text(), QString::fromUtf8("⌘F5"));
    second.setShortcutName(Name::fromRawValue("unrelated"));
    EXPECT_TRUE(second.text().isEmpty());
}

TEST_F(RecorderUi, ShortcutsStayPausedOnlyWhileRecording) {
    int fired = 0;
    setShortcut(cmdShift6, name);
    onKeyUp(name, [&] { ++fired; });
    startRecording();
    center.send(platform::HotKeyCenter::kindHotKeyReleased, 22, 768);
    EXPECT_EQ(fired, 0);
    delete recorder;  // gone while recording
    EXPECT_FALSE(isPaused());
    center.send(platform::HotKeyCenter::kindHotKeyReleased, 22, 768);
    EXPECT_EQ(fired, 1);
}

TEST_F(RecorderUi, LabelledRecorderPutsTheTitleFirst) {
    Recorder labelled("Open capture overlay", name);
    EXPECT_TRUE(labelled.hasLabel());
    auto* label = qobject_cast<QLabel*>(labelled.label());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Open capture overlay");
    labelled.resize(400, 40);
    labelled.show();
    EXPECT_LT(label->geometry().right(), labelled.control()->mapTo(&labelled, QPoint(0, 0)).x());
    EXPECT_FALSE(recorder->hasLabel());
}

}  // namespace
