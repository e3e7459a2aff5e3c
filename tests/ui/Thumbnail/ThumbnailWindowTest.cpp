#include "Features/Thumbnail/ThumbnailView.h"
#include "Features/Thumbnail/ThumbnailWindowController.h"
#include "support/WaitUntil.h"

#include "platform/display/FakeScreenProvider.h"

#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

namespace {

CapturedImage capture(int w, int h, platform::ScreenRef screen = nullptr, std::optional<QUrl> file = std::nullopt) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor(20, 120, 220));
    CapturedImage c;
    c.image = platform::Image(platform::Bitmap::fromQImage(image));
    c.captureDate = QDateTime::currentDateTime();
    c.sourceScreen = std::move(screen);
    c.fileURL = std::move(file);
    return c;
}

void hover(QWidget* view, bool inside) {
    if (inside) {
        QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
        QCoreApplication::sendEvent(view, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(view, &leave);
    }
}

struct ThumbnailWindowTest : testing::Test {
    FakeScreenProvider::Installation fake = FakeScreenProvider::install();
    ThumbnailWindowController controller;
    QList<QUrl> opened;
    QStringList revealed;

    void SetUp() override {
        fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 1),
                           FakeScreenProvider::display("B", QRect(1920, 0, 1280, 1024), 2)});
        controller.setOpener([this](const QUrl& url) {
            opened << url;
            return true;
        });
        controller.setRevealer([this](const QString& path) {
            revealed << path;
            return true;
        });
    }

    // Shown and slid in.
    void showAndSettle(const CapturedImage& image, const QPoint& expectedTopLeft) {
        controller.show(image);
        ASSERT_TRUE(waitUntil([&] { return controller.window()->pos() == expectedTopLeft; }));
    }
};

}  // namespace

TEST(ThumbnailGeometryTest, CardSizeFollowsTheAspectRatio) {
    EXPECT_EQ(ThumbnailWindowController::cardSize(1920, 1080), QSizeF(316, 184.75));
    EXPECT_EQ(ThumbnailWindowController::cardSize(1000, 1000), QSizeF(216, 216));
    // Exactly 1.5 is not wide.
    EXPECT_EQ(ThumbnailWindowController::cardSize(3000, 2000), QSizeF(316, 216));
    EXPECT_EQ(ThumbnailWindowController::cardSize(500, 1000), QSizeF(116, 216));
    EXPECT_EQ(ThumbnailWindowController::cardFrame(QSizeF(316, 216), QRectF(1920, 56, 1280, 968)),
              QRectF(2864, 76, 316, 216));
}

TEST_F(ThumbnailWindowTest, SlidesInAtTheBottomRightOfItsDisplay) {
    // Display B: 1280 x 1024 at device x 1920; the card 216 x 216 sits 20 in from its right and bottom.
    showAndSettle(capture(800, 800, fake->list[1]), QPoint(1920 + 1280 - 20 - 216, 1024 - 20 - 216));
    QWidget* window = controller.window();
    EXPECT_EQ(window->size(), QSize(216, 216));
    EXPECT_TRUE(window->isVisible());

    // A window capture has no display: the main one (A) takes it.
    const QPoint onA(1920 - 20 - 316, 1080 - 20 - 185);
    controller.show(capture(1920, 1080));
    ASSERT_TRUE(waitUntil([&] { return controller.window()->pos() == onA; }));
    EXPECT_EQ(window->size(), QSize(316, 185));
}

TEST_F(ThumbnailWindowTest, CardIsOpaqueWithRoundedCornersWithoutACompositor) {
    ThumbnailWindowController plain;
    plain.setCompositing([] { return false; });
    plain.show(capture(1000, 1000, fake->list[0]));
    QWidget* window = plain.window();
    EXPECT_FALSE(window->testAttribute(Qt::WA_TranslucentBackground));
    const QRegion mask = window->mask();
    EXPECT_TRUE(mask.contains(QPoint(108, 108)));
    EXPECT_TRUE(mask.contains(QPoint(108, 1)));
    for (const QPoint corner : {QPoint(0, 0), QPoint(215, 0), QPoint(0, 215), QPoint(215, 215)})
        EXPECT_FALSE(mask.contains(corner)) << corner.x() << "," << corner.y();
    // A wider card gets a mask of its own size.
    plain.show(capture(1920, 1080, fake->list[0]));
    EXPECT_TRUE(window->mask().contains(QPoint(300, 92)));

    ThumbnailWindowController composited;
    composited.setCompositing([] { return true; });
    composited.show(capture(1000, 1000, fake->list[0]));
    EXPECT_TRUE(composited.window()->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(composited.window()->mask().isEmpty());
}

TEST_F(ThumbnailWindowTest, DismissesItselfAfterItsDurationUnlessHovered) {
    controller.show(capture(100, 100, fake->list[0]));
    ASSERT_TRUE(controller.dismissTimer()->isActive());
    EXPECT_EQ(controller.dismissTimer()->interval(), 5000);

    controller.displayDuration = 0.3;
    controller.show(capture(100, 100, fake->list[0]));
    hover(controller.view(), true);
    EXPECT_TRUE(controller.view()->isHovering());
    EXPECT_FALSE(controller.dismissTimer()->isActive());
    spinFor(700);
    EXPECT_TRUE(controller.window()->isVisible());

    // Leaving starts the full duration again.
    hover(controller.view(), false);
    EXPECT_TRUE(controller.dismissTimer()->isActive());
    EXPECT_EQ(controller.dismissTimer()->interval(), 300);
    EXPECT_TRUE(waitUntil([&] { return !controller.window()->isVisible(); }));
    // The card is kept for the next capture.
    EXPECT_TRUE(controller.currentImage().has_value());
}

TEST_F(ThumbnailWindowTest, ANewCaptureReplacesTheCardEvenDuringTheSlideOut) {
    controller.show(capture(100, 100, fake->list[0]));
    ThumbnailView* first = controller.view();
    controller.hide();
    controller.show(capture(300, 100, fake->list[0]));
    EXPECT_NE(controller.view(), first);
    EXPECT_EQ(controller.view()->image().image.bitmap()->width(), 300);
    EXPECT_TRUE(controller.dismissTimer()->isActive());
    spinFor(400);
    EXPECT_TRUE(controller.window()->isVisible());
}

TEST_F(ThumbnailWindowTest, OpeningAnUnsavedCaptureWritesATemporaryPng) {
    controller.show(capture(64, 48, fake->list[0]));
    controller.openInPreview();
    // Written off the main thread, so the file opens only once the event loop runs again.
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));
    const QString path = opened[0].toLocalFile();
    const QFileInfo info(path);
    EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression("^Zentola-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.png$")
                    .match(info.fileName())
                    .hasMatch())
        << info.fileName().toStdString();
    const QImage written(path, "PNG");
    EXPECT_EQ(written.size(), QSize(64, 48));
    EXPECT_EQ(QColor(written.pixel(3, 3)), QColor(20, 120, 220));
    // The card stays and leaves with its timer.
    EXPECT_TRUE(controller.dismissTimer()->isActive());
    QFile::remove(path);

    // Every open gets its own file.
    controller.openInPreview();
    ASSERT_TRUE(waitUntil([&] { return opened.size() == 2; }));
    EXPECT_NE(opened[1], opened[0]);
    QFile::remove(opened[1].toLocalFile());
}

TEST_F(ThumbnailWindowTest, OpeningASavedCaptureOpensItsFileAndSlidesOut) {
    const QUrl file = QUrl::fromLocalFile("/tmp/shots/Zentola 2026-12-06.png");
    controller.show(capture(64, 48, fake->list[0], file));
    controller.openInPreview();
    EXPECT_EQ(opened, QList<QUrl>{file});
    EXPECT_FALSE(controller.dismissTimer()->isActive());
    EXPECT_TRUE(waitUntil([&] { return !controller.window()->isVisible(); }));

    controller.revealInFileManager();
    EXPECT_EQ(revealed, QStringList{"/tmp/shots/Zentola 2026-12-06.png"});
}

TEST_F(ThumbnailWindowTest, NoDisplayMeansNoCard) {
    fake->setDisplays({});
    controller.show(capture(10, 10));
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_TRUE(controller.currentImage().has_value());
}
