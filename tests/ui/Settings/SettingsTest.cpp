#include "support/SettingsFixture.h"

#include "Features/Settings/AboutSettingsContent.h"
#include "Features/Settings/GeneralSettingsContent.h"
#include "Features/Settings/SaveLocationRow.h"
#include "Features/Settings/ScreenshotSettingsContent.h"
#include "Features/Settings/SettingsWindowController.h"
#include "Features/Settings/ShortcutsSettingsContent.h"
#include "Features/Settings/TermsSheetView.h"
#include "packages/GlobalShortcuts/Recorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QTimer>

using namespace zentola;

namespace {

class Settings : public SettingsFixture {
protected:
    static bool drawn(const QPixmap& p) {
        QImage blank(p.size(), QImage::Format_ARGB32_Premultiplied);
        blank.fill(Qt::transparent);
        return !p.isNull() && p.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) != blank;
    }
    static QFileDialog* picker() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }
    QStringList stored(std::initializer_list<const char*> keys) const {
        QStringList out;
        for (const char* key : keys)
            out << store->stringForKey(QString("zentola.") + key).value_or("-");
        return out;
    }
};

TEST_F(Settings, SidebarTabsAndGroupTitlesShowTheirOwnSymbolsWithoutAnIconTheme) {
    SettingsView view(dependencies());
    EXPECT_EQ(view.minimumSize(), QSize(650, 450));
    QStringList labels;
    for (int row = 0; row < view.sidebar()->count(); ++row) {
        labels << view.sidebar()->item(row)->text();
        EXPECT_TRUE(drawn(view.sidebar()->item(row)->icon().pixmap(16)));
        view.sidebar()->setCurrentRow(row);
        for (const QLabel* symbol : view.content()->findChildren<QLabel*>("groupSymbol"))
            EXPECT_TRUE(drawn(symbol->pixmap())) << labels.back().toStdString();
    }
    EXPECT_EQ(labels, (QStringList{"General", "Screenshots", "Video", "Shortcuts", "About"}));
    view.sidebar()->setCurrentRow(3);  // symbols a Linux user reads: a keyboard, not the Mac's command key
    QStringList shortcutSymbols;
    for (const QLabel* symbol : view.content()->findChildren<QLabel*>("groupSymbol"))
        shortcutSymbols << symbol->property("symbol").toString();
    EXPECT_EQ(shortcutSymbols, (QStringList{"keyboard", "camera", "record.circle", "rectangle.dashed"}));
    view.sidebar()->setCurrentRow(4);
    EXPECT_TRUE(drawn(qobject_cast<AboutSettingsContent*>(view.content())->termsButton()->icon().pixmap(16)));
    view.sidebar()->setCurrentRow(2);
    EXPECT_EQ(view.content()->findChildren<QLabel*>("groupSymbol").size(), 5);
    view.sidebar()->clearSelection();  // a click on empty sidebar space
    EXPECT_NE(qobject_cast<GeneralSettingsContent*>(view.content()), nullptr);
}

TEST_F(Settings, EveryVisitReadsTheStoreAndAboutComesByNotificationOrFromTheTray) {
    SettingsView view(dependencies());
    view.sidebar()->setCurrentRow(1);
    persistence->setSaveFormat(PersistenceManager::ImageFormat::webp);
    view.sidebar()->setCurrentRow(0);
    view.sidebar()->setCurrentRow(1);
    EXPECT_EQ(qobject_cast<ScreenshotSettingsContent*>(view.content())->formatPicker()->currentText(), "WebP");
    platform::NotificationCenter::defaultCenter().post(SettingsView::selectAboutTab);
    settle();
    EXPECT_EQ(view.selectedTab(), SettingsTab::about);

    auto& controller = SettingsWindowController::shared();
    controller.setDependencies(dependencies());
    controller.show();
    SettingsView* window = controller.window();
    window->setWindowState(Qt::WindowMinimized);
    controller.show();  // the same window, brought back rather than left out of sight
    EXPECT_EQ(controller.window(), window);
    EXPECT_FALSE(window->isMinimized());
    controller.showAbout();
    EXPECT_EQ(window->selectedTab(), SettingsTab::general);  // a moment later, not at once
    bool done = false;
    QTimer::singleShot(300, [&] { done = true; });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(window->selectedTab(), SettingsTab::about);
    window->close();
    controller.setDependencies(SettingsView::Dependencies::system());  // drop the ones over this fixture
}

TEST_F(Settings, GeneralAndScreenshotPagesStoreEachChangeAtOnce) {
    GeneralSettingsContent general(*persistence);
    for (QCheckBox* s : {general.copyToClipboardSwitch(), general.playSoundsSwitch(), general.showFlashSwitch()}) {
        EXPECT_TRUE(s->isChecked());
        s->click();
    }
    EXPECT_EQ(stored({"copyToClipboard", "playSounds", "showFlash"}), (QStringList{"0", "0", "0"}));

    ScreenshotSettingsContent page(*persistence);
    EXPECT_TRUE(page.qualityRow()->isHidden());
    choose(page.formatPicker(), "JPEG");
    EXPECT_FALSE(page.qualityRow()->isHidden());
    EXPECT_EQ(page.qualityLabel()->text(), "90%");
    page.qualitySlider()->setValue(7);
    EXPECT_EQ(page.qualityLabel()->text(), "70%");
    EXPECT_EQ(stored({"saveFormat"}), QStringList{"JPEG"});
    EXPECT_DOUBLE_EQ(persistence->jpegQuality(), 0.7);
    choose(page.formatPicker(), "TIFF");
    EXPECT_TRUE(page.qualityRow()->isHidden());
    EXPECT_EQ(ScreenshotSettingsContent::qualityText(0.999), "99%");  // truncated, not rounded
    EXPECT_EQ(ScreenshotSettingsContent::qualityText(std::nan("")), "90%");
}

TEST_F(Settings, FolderPickersStartInTheUserFoldersAndStoreOnlyAChoice) {
    for (auto [path, name] : {std::pair{"/home/ann/Pictures/Zentola", "~/Pictures/Zentola"}, {"/home/ann", "~"},
                              {"/home/ann2/Shots", "Shots"}})
        EXPECT_EQ(SaveLocationRow::displayName(QUrl::fromLocalFile(path), "/home/ann"), name);
    EXPECT_EQ(SaveLocationRow::displayName(std::nullopt, "/home/ann"), "Not set");
    // The desktop's user folders; the videos folder is not made, so its picker starts in its parent.
    ASSERT_TRUE(QDir(dir.path()).mkpath("Bilder") && QDir(dir.path()).mkpath("Filme"));
    QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME"));
    QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write(QString("XDG_PICTURES_DIR=\"%1/Bilder\"\nXDG_VIDEOS_DIR=\"%1/Filme/Neu\"\n").arg(dir.path()).toUtf8());
    dirs.close();

    VideoSettingsContent video(*persistence, *permissions, [] { return 3; });
    const QString before = video.saveLocation()->folderLabel()->text();
    video.saveLocation()->changeButton()->click();
    ASSERT_NE(picker(), nullptr);
    EXPECT_FALSE(picker()->isModal());
    EXPECT_EQ(QDir(picker()->directory()).absolutePath(), dir.filePath("Filme"));
    picker()->reject();
    settle();
    EXPECT_EQ(video.saveLocation()->folderLabel()->text(), before);
    EXPECT_FALSE(store->contains("zentola.videoFolderBookmark"));

    ScreenshotSettingsContent page(*persistence);
    page.saveLocation()->changeButton()->click();
    ASSERT_NE(picker(), nullptr);
    EXPECT_EQ(QDir(picker()->directory()).absolutePath(), dir.filePath("Bilder"));
    picker()->selectFile(dir.filePath("Bilder"));
    QMetaObject::invokeMethod(picker(), "accept");
    settle();
    EXPECT_EQ(page.saveLocation()->folderLabel()->text(), "Bilder");
    EXPECT_EQ(persistence->screenshotFolderURL().toLocalFile(), dir.filePath("Bilder"));
}

TEST_F(Settings, OneFolderPickerAtATime_PressedAgainOrFromAnotherTab) {
    const auto open = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<QFileDialog*>(w) && w->isVisible();
        return n;
    };
    ScreenshotSettingsContent shots(*persistence);
    shots.saveLocation()->changeButton()->click();
    shots.saveLocation()->changeButton()->click();
    settle();
    EXPECT_EQ(open(), 1);
    VideoSettingsContent video(*persistence, *permissions, [] { return 3; });
    video.saveLocation()->changeButton()->click();
    settle();
    EXPECT_EQ(open(), 1);
    // Once it is closed, the next press opens one again.
    picker()->reject();
    settle();
    video.saveLocation()->changeButton()->click();
    settle();
    EXPECT_EQ(open(), 1);
    picker()->reject();
    settle();
}

TEST_F(Settings, VideoPageStoresItsChoicesAndAMicrophoneDenialFallsBackToNone) {
    store->setInteger("zentola.videoFrameRate", 45);
    VideoSettingsContent page(*persistence, *permissions, [this] { return microphoneStatus; });
    EXPECT_EQ(page.frameRatePicker()->currentText(), "30 fps");
    EXPECT_EQ(page.countdownPicker()->count(), 11);
    for (auto [picker, text] : {std::pair{page.frameRatePicker(), "60 fps"}, {page.countdownPicker(), "None"},
                                {page.containerPicker(), "MP4"}, {page.codecPicker(), "HEVC"}, {page.audioPicker(), "Microphone"}})
        choose(picker, text);  // the microphone is granted: stored without asking
    page.retinaSwitch()->click();
    EXPECT_EQ(stored({"videoFrameRate", "recordingCountdown", "videoContainer", "videoCodec", "videoAudioOption", "recordAtRetina"}),
              (QStringList{"60", "0", "MP4", "HEVC", "Microphone", "0"}));

    microphoneStatus = 2;  // revoked after the page was drawn
    permissions->checkMicrophonePermission();
    choose(page.audioPicker(), "Both");
    EXPECT_EQ(page.audioPicker()->currentText(), "None");
    EXPECT_EQ(stored({"videoAudioOption"}), QStringList{"None"});
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(requests, 0);
    VideoSettingsContent denied(*persistence, *permissions, [this] { return microphoneStatus; });
    const auto* items = qobject_cast<const QStandardItemModel*>(denied.audioPicker()->model());
    for (int i = 0; i < denied.audioPicker()->count(); ++i)
        EXPECT_EQ(items->item(i)->isEnabled(), i < 2) << i;  // "Microphone" and "Both" need it
}

class UndecidedMicrophone : public SettingsFixture, public testing::WithParamInterface<bool> {};

TEST_P(UndecidedMicrophone, IsAskedWithThePickerLocked) {
    const bool grant = GetParam();
    VideoSettingsContent page(*persistence, *permissions, [this] { return microphoneStatus; });
    microphoneStatus = 0;
    permissions->checkMicrophonePermission();
    choose(page.audioPicker(), "Microphone");
    EXPECT_FALSE(page.audioPicker()->isEnabled());
    EXPECT_FALSE(store->contains("zentola.videoAudioOption"));
    pendingRequest.resolve(grant);
    settle();
    EXPECT_TRUE(page.audioPicker()->isEnabled());
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), grant ? "Microphone" : "None");
    EXPECT_EQ(page.audioPicker()->currentText(), grant ? "Microphone" : "None");
    EXPECT_EQ(settingsOpened, grant ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, UndecidedMicrophone, testing::Bool());

TEST_F(Settings, ShortcutRecordersAndTheAboutPageWithItsTerms) {
    ShortcutsSettingsContent shortcuts;
    EXPECT_EQ(shortcuts.openOverlayRecorder()->name(), GlobalShortcuts::Name::openOverlay());
    EXPECT_EQ(shortcuts.instantCaptureRecorder()->name(), GlobalShortcuts::Name::instantCapture());
    EXPECT_EQ(shortcuts.quickRecordRecorder()->name(), GlobalShortcuts::Name::quickRecord());

    QFile latin1(dir.filePath("Latin1.txt"));
    ASSERT_TRUE(latin1.open(QIODevice::WriteOnly));
    latin1.write("caf\xe9 terms");
    latin1.close();
    for (const std::optional<QString>& bad : {std::optional(latin1.fileName()), std::optional(dir.filePath("none")),
                                              std::optional<QString>()})
        EXPECT_EQ(TermsSheetView::termsContent(bad), TermsSheetView::fallbackText());
    EXPECT_EQ(AboutSettingsContent::appVersion(std::nullopt, std::nullopt), "1.0 (1)");
    AboutSettingsContent about;
    about.show();
    about.termsButton()->click();
    ASSERT_TRUE(about.showingTerms());
    EXPECT_NE(about.termsSheet()->textView()->toPlainText(), TermsSheetView::fallbackText());  // the built-in file
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(about.termsSheet(), &escape);
    settle();
    EXPECT_FALSE(about.showingTerms());
}

// The pixels of a drawn widget that stand out from its background, found within `area`.
QList<QColor> inked(QWidget* widget, QRect area = {}) {
    const QImage image = widget->grab().toImage();
    const QColor background = image.pixelColor(1, 1);
    QList<QColor> out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((area.isNull() || area.contains(x, y)) &&
                std::abs(qGray(image.pixel(x, y)) - qGray(background.rgb())) > 60)
                out << image.pixelColor(x, y);
    return out;
}

TEST_F(Settings, TermsOfUseIsALinkAndOpensAsAPlainDialog) {
    AboutSettingsContent about;
    about.resize(600, 500);
    about.show();
    QPushButton* link = about.termsButton();
    // The words (right of the symbol) in the link colour, as the symbol is.
    const QColor linkColour = link->palette().color(QPalette::Link);
    const QList<QColor> words = inked(link, QRect(link->iconSize().width() + 8, 0, link->width(), link->height()));
    ASSERT_FALSE(words.isEmpty());
    int linkColoured = 0;
    for (const QColor& c : words)
        linkColoured += std::abs(c.hue() - linkColour.hue()) < 30 && c.saturation() > 60;
    EXPECT_GT(linkColoured * 2, words.size());

    link->click();
    ASSERT_TRUE(about.showingTerms());
    QDialog* sheet = about.termsSheet();
    EXPECT_EQ(sheet->windowTitle(), "Terms of Use");
    // Named once, by the title bar.
    for (const QLabel* label : sheet->findChildren<QLabel*>())
        EXPECT_NE(label->text(), "Terms of Use");
    // The text keeps a margin of its own from the window's edges.
    QPlainTextEdit* text = about.termsSheet()->textView();
    text->setPlainText("Terms");
    settle();
    const QImage page = text->viewport()->grab().toImage();
    int left = page.width();
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qGray(page.pixel(x, y)) < 128)
                left = std::min(left, x);
    EXPECT_GE(text->viewport()->mapTo(sheet, QPoint(left, 0)).x(), 12);
    sheet->close();
}

}  // namespace
