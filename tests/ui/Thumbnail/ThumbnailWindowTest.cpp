#include "Features/Thumbnail/ThumbnailView.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "platform/display/FakeScreenProvider.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

namespace {

CapturedImage capture(int w, int h, platform::ScreenRef screen = nullptr, std::optional<QUrl> file = std::nullopt) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor(20, 120, 220));
    return {platform::Image(platform::Bitmap::fromQImage(image)), {}, CaptureMode::screen, std::move(screen), std::move(file)};
}

void hover(QWidget* view, bool inside) {
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view, inside ? static_cast<QEvent*>(&enter) : &leave);
}

struct ThumbnailWindowTest : testing::Test {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    ThumbnailWindowController controller;
    QList<QUrl> opened;
    QStringList revealed;
    int dismissed = 0, opens = 0;

    void SetUp() override {
        fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                           FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
        controller.setOpener([this](const QUrl& url) { return opened << url, true; });
        controller.setRevealer([this](const QString& path) { return revealed << path, true; });
    }

    std::unique_ptr<ThumbnailView> view(CapturedImage image) {
        auto v = std::make_unique<ThumbnailView>(std::move(image), ThumbnailView::Actions{[this] { ++dismissed; },
                                                 [this] { ++opens; }, [this] { revealed << "card"; }, {}, {}});
        // Away from the pointer, so the toolkit sends no enter events of its own.
        v->setGeometry(400, 300, 216, 216);
        v->show();
        return v;
    }
    static void mouse(QWidget* w, QEvent::Type type, QPoint pos) {
        QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
    // Press at from, move along the x axis by steps of 10 to dx, release.
    static void swipe(QWidget* w, QPoint from, int dx) {
        mouse(w, QEvent::MouseButtonPress, from);
        const int step = dx >= 0 ? 10 : -10;
        for (int x = step; dx >= 0 ? x <= dx : x >= dx; x += step)
            mouse(w, QEvent::MouseMove, from + QPoint(x, 0));
        mouse(w, QEvent::MouseButtonRelease, from + QPoint(dx, 0));
    }
};

}  // namespace

TEST_F(ThumbnailWindowTest, TheCardSlidesInAtTheBottomRightOfItsDisplaySizedByTheAspectRatio) {
    // Exactly 1.5 is not wide.
    for (const auto& [w, h, size] : {std::tuple(1920, 1080, QSizeF(316, 184.75)), {3000, 2000, QSizeF(316, 216)}, {500, 1000, QSizeF(116, 216)}})
        EXPECT_EQ(ThumbnailWindowController::cardSize(w, h), size);
    // The card sits 20 in from its display's right and bottom (on another display: the integration
    // test's). A window capture has no display: the main one.
    controller.show(capture(1920, 1080));
    EXPECT_TRUE(waitUntil([&] { return controller.window()->pos() == QPoint(1920 - 20 - 316, 1080 - 20 - 185); }));

    // Without a compositor the card is opaque with its corners cut away; with one, translucent.
    for (bool compositing : {false, true}) {
        ThumbnailWindowController other;
        other.setCompositing([compositing] { return compositing; });
        other.show(capture(1000, 1000, fake->list[0]));
        // At rest: on its way the card shows only where it is.
        ASSERT_TRUE(waitUntil([&] { return other.window()->pos() == QPoint(1920 - 20 - 216, 1080 - 20 - 216) && other.view()->pos().isNull(); }));
        const QRegion mask = other.window()->mask();
        EXPECT_TRUE(other.window()->testAttribute(Qt::WA_TranslucentBackground) == compositing && mask.contains(QPoint(108, 1)) == !compositing);
        EXPECT_FALSE(mask.contains(QPoint(0, 0)) || mask.contains(QPoint(215, 215)));
    }
    fake->setDisplays({});
    controller.show(capture(10, 10));
    EXPECT_EQ(controller.currentImage()->image.bitmap()->width(), 10);
}

TEST_F(ThumbnailWindowTest, TheCardLeavesAfterItsDurationUnlessHovered_ANewCaptureReplacesItEvenWhileLeaving) {
    controller.displayDuration = 0.3;
    controller.show(capture(100, 100, fake->list[0]));
    hover(controller.view(), true);
    EXPECT_TRUE(controller.view()->isHovering() && !controller.dismissTimer()->isActive());
    spinFor(700);
    EXPECT_TRUE(controller.window()->isVisible());
    hover(controller.view(), false);
    EXPECT_TRUE(controller.dismissTimer()->interval() == 300 && waitUntil([&] { return !controller.window()->isVisible(); }));

    ThumbnailView* first = controller.view();
    controller.show(capture(100, 100, fake->list[0]));
    controller.hide();
    controller.show(capture(300, 100, fake->list[0]));
    spinFor(400);
    EXPECT_TRUE(controller.view() != first && controller.window()->isVisible());
}

TEST_F(ThumbnailWindowTest, OpeningWritesATemporaryPngOfAnUnsavedCapture_ASavedOneOpensItsFileAndLeaves) {
    controller.show(capture(64, 48, fake->list[0]));
    controller.openInPreview();
    controller.openInPreview();
    // Written off the main thread, each open to a file of its own.
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 2; }));
    const QFileInfo info(opened[0].toLocalFile());
    EXPECT_TRUE(opened[0] != opened[1] && info.absolutePath() == QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression("^Zentola-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png$").match(info.fileName()).hasMatch());
    EXPECT_TRUE(QColor(QImage(info.filePath(), "PNG").pixel(3, 3)) == QColor(20, 120, 220) && controller.dismissTimer()->isActive());
    QFile::remove(opened[0].toLocalFile()), QFile::remove(opened[1].toLocalFile());

    const QUrl file = QUrl::fromLocalFile("/tmp/shots/Zentola 2026-12-06.png");
    controller.show(capture(64, 48, fake->list[0], file));
    controller.openInPreview();
    controller.revealInFileManager();
    EXPECT_TRUE(opened.last() == file && revealed == QStringList{"/tmp/shots/Zentola 2026-12-06.png"} &&
                waitUntil([&] { return !controller.window()->isVisible(); }));
}

TEST_F(ThumbnailWindowTest, ClicksOpen_SwipesRightDismissWhereverTheyStart_OtherDragsCarryTheCaptureOut) {
    auto card = view(capture(300, 200));
    hover(card.get(), true);
    card->closeButton()->click();
    hover(card.get(), false);
    EXPECT_TRUE(dismissed == 1 && waitUntil([&] { return !card->closeButton()->isVisible(); }));
    mouse(card.get(), QEvent::MouseButtonPress, QPoint(50, 50));
    // 9.9 points away: still a click.
    mouse(card.get(), QEvent::MouseMove, QPoint(57, 57));
    mouse(card.get(), QEvent::MouseButtonRelease, QPoint(57, 57));
    EXPECT_EQ(opens, 1);
    swipe(card.get(), QPoint(20, 100), 90);
    swipe(card.get(), QPoint(20, 100), -60);
    EXPECT_EQ(dismissed, 1);
    // Every move beyond 100 points asks again (110 ... 150), also from the card's right edge,
    // where the pointer leaves the card long before.
    swipe(card.get(), QPoint(20, 100), 150);
    EXPECT_EQ(dismissed, 6);
    swipe(card.get(), QPoint(200, 100), 150);
    EXPECT_TRUE(dismissed == 11 && opens == 1 && waitUntil([&] { return card->dragOffset().isNull(); }));

    QTemporaryDir dir;
    const QString path = dir.filePath("shot.png");
    QImage(12, 8, QImage::Format_RGB32).save(path, "PNG");
    std::unique_ptr<QMimeData> file(view(capture(12, 8, {}, QUrl::fromLocalFile(path)))->makeDragData());
    EXPECT_TRUE(file->urls() == QList<QUrl>{QUrl::fromLocalFile(path)} && !file->hasImage() &&
                QImage::fromData(file->data("image/png")).size() == QSize(12, 8));
    // A saved file since removed: nothing to drag.
    EXPECT_TRUE(std::unique_ptr<QMimeData>(view(capture(12, 8, {}, QUrl::fromLocalFile(dir.filePath("x.png"))))->makeDragData())->formats().isEmpty());
    std::unique_ptr<QMimeData> image(card->makeDragData());
    EXPECT_TRUE(!image->hasUrls() && qvariant_cast<QImage>(image->imageData()).size() == QSize(300, 200));
}

// The pointer on the card or its menu open holds it: the controller hears of the card held once and
// let go once, when neither holds any more; a card that goes with its menu open says nothing more.
TEST_F(ThumbnailWindowTest, TheCardIsHeldWhileItsMenuIsOpenEvenWithThePointerOffIt) {
    int held = 0, letGo = 0;
    auto card = std::make_unique<ThumbnailView>(capture(300, 200), ThumbnailView::Actions{{}, {}, {}, [&] { ++held; }, [&] { ++letGo; }});
    card->setGeometry(400, 300, 316, 216);
    card->show();
    auto openMenu = [&] {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(50, 50), card->mapToGlobal(QPoint(50, 50)));
        QCoreApplication::sendEvent(card.get(), &event);
        return waitUntil([] { return QApplication::activePopupWidget() != nullptr; });
    };
    auto closeMenu = [] {
        QApplication::activePopupWidget()->close();
        return waitUntil([] { return QApplication::activePopupWidget() == nullptr; });
    };

    hover(card.get(), true);
    ASSERT_TRUE(openMenu());
    hover(card.get(), false);  // the menu takes the pointer
    EXPECT_EQ(letGo, 0);
    ASSERT_TRUE(closeMenu());
    EXPECT_EQ(held, 1);
    EXPECT_EQ(letGo, 1);

    hover(card.get(), true);
    ASSERT_TRUE(openMenu());
    ASSERT_TRUE(closeMenu());  // back on the card
    EXPECT_EQ(letGo, 1);
    hover(card.get(), false);
    EXPECT_EQ(held, 2);
    EXPECT_EQ(letGo, 2);

    ASSERT_TRUE(openMenu());
    card.reset();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(held, 3);
    EXPECT_EQ(letGo, 2);
}

// The name typed into Save As's field, confirmed with Return in the field or with the Save button:
// one ".png" name either way, holding PNG, and nothing under the typed name.
TEST_F(ThumbnailWindowTest, SaveAsTypedAndConfirmedEitherWayWritesOnePngName) {
    QTemporaryDir dir;
    auto card = view(capture(50, 40));
    const struct {
        const char* typed;
        bool saveButton;
        const char* written;
    } cases[] = {
        {"shot.jpg", false, "shot.png"},  {"clip.webp", true, "clip.png"}, {"raw.TIFF", false, "raw.png"},
        {"notes.v2", true, "notes.v2.png"}, {"plain", false, "plain.png"},  {"kept.png", true, "kept.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + (c.saveButton ? " and Save" : " and Return"));
        QFileDialog* dialog = card->saveAs();
        dialog->setDirectory(dir.path());
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(field);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, c.typed);
        if (c.saveButton) {
            QPushButton* save = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save);
            ASSERT_TRUE(save);
            QTest::mouseClick(save, Qt::LeftButton);
        } else {
            ASSERT_TRUE(field->hasFocus());
            QTest::keyClick(field, Qt::Key_Return);
        }
        EXPECT_TRUE(waitUntil([&] { return QImage(dir.filePath(c.written), "PNG").size() == QSize(50, 40); }));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(" ").toStdString(), c.written);
        QFile::remove(dir.filePath(c.written));
    }
}

TEST_F(ThumbnailWindowTest, TheMenuActs_CopyHasNoFileOfAnUnsavedCapture_SaveAsAlwaysWritesAPngName) {
    QTemporaryDir dir;
    auto card = view(capture(50, 40, {}, QUrl::fromLocalFile(dir.filePath("shot.jpg"))));
    std::unique_ptr<QMenu> menu(card->makeContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions()) {
        texts << (a->isSeparator() ? QString("--") : a->text());
        if (a->text() == "Open" || a->text() == "Show in File Manager" || a->text() == "Dismiss")
            a->trigger();
    }
    EXPECT_EQ(texts, (QStringList{"Open", "Open With...", "--", "Save As...", "Copy", "--", "Show in File Manager", "--", "Dismiss"}));
    EXPECT_TRUE(opens == 1 && dismissed == 1 && revealed == QStringList{"card"});
    std::unique_ptr<QMenu>(view(capture(30, 20))->makeContextMenu())->actions().at(4)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->formats(), (QStringList{"image/tiff", "image/png"}));

    // Proposed as "Screenshot.png"; a name chosen with another image extension becomes a ".png"
    // name, and the file holds PNG whatever the capture was saved as.
    QFileDialog* dialog = card->saveAs();
    EXPECT_EQ(QFileInfo(dialog->selectedFiles().first()).fileName(), "Screenshot.png");
    dialog->selectFile(dir.filePath("copy.jpg"));
    QMetaObject::invokeMethod(dialog, "accept");
    EXPECT_TRUE(waitUntil([&] { return QImage(dir.filePath("copy.png"), "PNG").size() == QSize(50, 40); }) &&
                !QFileInfo::exists(dir.filePath("copy.jpg")));
    QFileDialog* cancelled = card->saveAs();
    cancelled->selectFile(dir.filePath("Other.png"));
    cancelled->reject();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("Other.png")) ||
                 ThumbnailView::writePNG(card->image().image.bitmap(), dir.filePath("no/such/folder/x.png")));
}
