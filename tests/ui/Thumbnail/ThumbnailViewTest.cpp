#include "Features/Thumbnail/ThumbnailView.h"
#include "support/WaitUntil.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace zentola;

namespace {

CapturedImage capture(int w, int h, std::optional<QUrl> file = std::nullopt) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor(200, 40, 90));
    CapturedImage c;
    c.image = platform::Image(platform::Bitmap::fromQImage(image));
    c.fileURL = std::move(file);
    return c;
}

struct ThumbnailViewTest : testing::Test {
    int dismissed = 0, opens = 0, reveals = 0, hoverStarts = 0, hoverEnds = 0;

    std::unique_ptr<ThumbnailView> make(CapturedImage image) {
        auto view = std::make_unique<ThumbnailView>(
            std::move(image), ThumbnailView::Actions{[this] { ++dismissed; }, [this] { ++opens; },
                                                     [this] { ++reveals; }, [this] { ++hoverStarts; },
                                                     [this] { ++hoverEnds; }});
        // Away from the pointer, so the toolkit sends no enter events of its own.
        view->setGeometry(400, 300, 216, 216);
        view->show();
        return view;
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

QStringList menuTexts(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QString("--") : a->text());
    return out;
}

QAction* action(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

}  // namespace

TEST_F(ThumbnailViewTest, ContextMenuListsItsActionsInOrder) {
    auto view = make(capture(300, 200));
    std::unique_ptr<QMenu> menu(view->makeContextMenu());
    EXPECT_EQ(menuTexts(menu.get()), (QStringList{"Open", "Open With...", "--", "Save As...", "Copy", "--",
                                                  "Show in Finder", "--", "Dismiss"}));
    action(menu.get(), "Open")->trigger();
    action(menu.get(), "Open With...")->trigger();
    action(menu.get(), "Show in Finder")->trigger();
    action(menu.get(), "Dismiss")->trigger();
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(reveals, 2);
    EXPECT_EQ(dismissed, 1);
}

TEST_F(ThumbnailViewTest, CopyOfAnUnsavedCaptureHasNoFileEntry) {
    auto view = make(capture(30, 20));
    std::unique_ptr<QMenu> menu(view->makeContextMenu());
    action(menu.get(), "Copy")->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), (QStringList{"image/tiff", "image/png"}));
    EXPECT_EQ(QImage::fromData(data->data("image/png"), "PNG").size(), QSize(30, 20));
}

TEST_F(ThumbnailViewTest, HoverShowsTheCloseButtonAndReportsEachChange) {
    auto view = make(capture(300, 200));
    EXPECT_FALSE(view->closeButton()->isVisible());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(view.get(), &enter);
    EXPECT_TRUE(view->isHovering());
    EXPECT_TRUE(view->closeButton()->isVisible());
    EXPECT_EQ(hoverStarts, 1);
    view->closeButton()->click();
    EXPECT_EQ(dismissed, 1);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view.get(), &leave);
    EXPECT_FALSE(view->isHovering());
    EXPECT_EQ(hoverEnds, 1);
    EXPECT_TRUE(waitUntil([&] { return !view->closeButton()->isVisible(); }));
}

TEST_F(ThumbnailViewTest, ClickOpensAndSwipesRightDismiss) {
    auto view = make(capture(300, 200));
    mouse(view.get(), QEvent::MouseButtonPress, QPoint(50, 50));
    // 9.9 points away on the diagonal: still under the swipe's 10-point distance, so a click.
    mouse(view.get(), QEvent::MouseMove, QPoint(57, 57));
    mouse(view.get(), QEvent::MouseButtonRelease, QPoint(57, 57));
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(view->dragOffset().isNull());

    swipe(view.get(), QPoint(20, 100), 90);
    EXPECT_EQ(dismissed, 0);
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(waitUntil([&] { return view->dragOffset().isNull(); }));

    swipe(view.get(), QPoint(20, 100), -60);
    EXPECT_EQ(dismissed, 0);

    swipe(view.get(), QPoint(20, 100), 150);
    // Every move beyond 100 points asks again (110 ... 150).
    EXPECT_EQ(dismissed, 5);
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(waitUntil([&] { return view->dragOffset().isNull(); }));
}

TEST_F(ThumbnailViewTest, DragOutCarriesTheFileOrTheImage) {
    QTemporaryDir dir;
    const QString path = dir.filePath("shot.png");
    QImage(12, 8, QImage::Format_RGB32).save(path, "PNG");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();

    auto saved = make(capture(12, 8, QUrl::fromLocalFile(path)));
    std::unique_ptr<QMimeData> fileData(saved->makeDragData());
    EXPECT_EQ(fileData->urls(), QList<QUrl>{QUrl::fromLocalFile(path)});
    EXPECT_EQ(fileData->data("image/png"), bytes);
    EXPECT_FALSE(fileData->hasImage());

    auto gone = make(capture(12, 8, QUrl::fromLocalFile(dir.filePath("deleted.png"))));
    std::unique_ptr<QMimeData> nothing(gone->makeDragData());
    EXPECT_TRUE(nothing->formats().isEmpty());

    auto unsaved = make(capture(40, 30));
    std::unique_ptr<QMimeData> imageData(unsaved->makeDragData());
    EXPECT_FALSE(imageData->hasUrls());
    ASSERT_TRUE(imageData->hasImage());
    EXPECT_EQ(qvariant_cast<QImage>(imageData->imageData()).size(), QSize(40, 30));
}

TEST_F(ThumbnailViewTest, SaveAsProposesScreenshotPngAndWritesPng) {
    QTemporaryDir dir;
    // A capture saved as JPEG is still written as PNG.
    auto view = make(capture(50, 40, QUrl::fromLocalFile(dir.filePath("shot.jpg"))));
    QFileDialog* dialog = view->saveAs();
    ASSERT_NE(dialog, nullptr);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    ASSERT_FALSE(dialog->selectedFiles().isEmpty());
    EXPECT_EQ(QFileInfo(dialog->selectedFiles().first()).fileName(), "Screenshot.png");

    const QString target = dir.filePath("Screenshot.png");
    dialog->selectFile(target);
    QMetaObject::invokeMethod(dialog, "accept");
    // Written on a worker thread, whole or not at all.
    EXPECT_TRUE(waitUntil([&] { return QImage(target, "PNG").size() == QSize(50, 40); }));

    // Cancel writes nothing.
    const QString other = dir.filePath("Other.png");
    QFileDialog* second = view->saveAs();
    second->selectFile(other);
    second->reject();
    EXPECT_FALSE(QFileInfo::exists(other));

    EXPECT_FALSE(ThumbnailView::writePNG(view->image().image.bitmap(), dir.filePath("no/such/folder/x.png")));
    EXPECT_FALSE(ThumbnailView::writePNG(nullptr, dir.filePath("x.png")));
}
