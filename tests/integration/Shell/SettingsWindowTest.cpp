#include "Features/Settings/AboutSettingsContent.h"
#include "Features/Settings/SettingsWindowController.h"
#include "Features/Settings/TermsSheetView.h"
#include "Openbox.h"
#include "support/SettingsFixture.h"
#include "support/WaitUntil.h"
#include "support/XClient.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

class SettingsWindow : public SettingsFixture {
protected:
    void SetUp() override {
        SettingsFixture::SetUp();
        SettingsWindowController::shared().setDependencies(dependencies());
        SettingsWindowController::shared().show();
        view = SettingsWindowController::shared().window();
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(waitUntil([&] { return view->isVisible() && x.viewable(xcb_window_t(view->winId())); }));
    }
    void TearDown() override {
        if (view)
            view->close();
        settle();
    }

    XClient x;
    QPointer<SettingsView> view;
};

TEST_F(SettingsWindow, EveryTabFitsTheWindowAtItsFirstSize) {
    for (SettingsTab tab : SettingsTab::allCases()) {
        view->setSelectedTab(tab);
        settle();
        auto* page = qobject_cast<QScrollArea*>(view->content());
        ASSERT_NE(page, nullptr) << tab.label().toStdString();
        ASSERT_TRUE(waitUntil([&] { return page->isVisible(); }));
        EXPECT_EQ(page->verticalScrollBar()->maximum(), 0) << tab.label().toStdString() << " " << page->widget()->sizeHint().height() << " in " << page->viewport()->height();
        EXPECT_EQ(page->horizontalScrollBar()->maximum(), 0) << tab.label().toStdString();
    }
}

TEST_F(SettingsWindow, TheTermsShowNoCaret_AndEscapeClosesThemAfterAClickOnTheWindowBehind) {
    Openbox windowManager;
    ASSERT_TRUE(windowManager.up());
    view->close();
    SettingsWindowController::shared().show();
    view = SettingsWindowController::shared().window();
    ASSERT_TRUE(waitUntil([&] { return windowManager.managed(xcb_window_t(view->winId())); }));
    view->setSelectedTab(SettingsTab::about);
    settle();
    auto* about = qobject_cast<AboutSettingsContent*>(view->content());
    ASSERT_NE(about, nullptr);
    about->termsButton()->click();
    QPointer<TermsSheetView> sheet = about->termsSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(waitUntil([&] { return windowManager.managed(xcb_window_t(sheet->winId())) && sheet->isActiveWindow(); }));

    // Read-only text: focused, it still draws no caret (a steady one, where it would be).
    QApplication::setCursorFlashTime(0);
    QPlainTextEdit* text = sheet->textView();
    const QRect caret = text->cursorRect().adjusted(-2, -2, 2, 2);
    const auto drawn = [&] { return text->viewport()->grab(caret).toImage(); };
    text->setFocus();
    ASSERT_TRUE(waitUntil([&] { return text->hasFocus(); }));
    const QImage focused = drawn();
    sheet->doneButton()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return !text->hasFocus(); }));
    EXPECT_EQ(focused, drawn());
    // Still selected whole from the keyboard, for copying.
    QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QApplication::sendEvent(text, &selectAll);
    EXPECT_EQ(text->textCursor().selectedText().size(), text->toPlainText().size());

    // A click on the settings window beside the sheet, which the window manager activates; Escape
    // then still reaches the sheet.
    struct Activations : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            count += e->type() == QEvent::WindowActivate;
            return false;
        }
    } behind;
    view->installEventFilter(&behind);
    const QRect window = view->frameGeometry(), covered = sheet->frameGeometry();
    QPoint beside(window.left() + 20, window.bottom() - 20);
    ASSERT_FALSE(covered.contains(beside));
    ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", QString::number(beside.x()), QString::number(beside.y()), "click", "1"}), 0);
    ASSERT_TRUE(waitUntil([&] { return behind.count > 0; }, 5000));
    EXPECT_TRUE(waitUntil([&] { return sheet->isActiveWindow(); }, 5000));
    ASSERT_EQ(QProcess::execute("xdotool", {"key", "Escape"}), 0);
    EXPECT_TRUE(waitUntil([&] { return !sheet || !sheet->isVisible(); }, 5000));
}

}  // namespace
