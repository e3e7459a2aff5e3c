#include "SettingsFixture.h"

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
        const QImage image = p.toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 128)
                    return true;
        return false;
    }
    static QFileDialog* picker() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }
    static QStringList texts(const QWidget& page) {
        QStringList out;
        for (const QLabel* l : page.findChildren<QLabel*>())
            out << l->text();
        return out;
    }
};

TEST_F(Settings, SidebarTabsAndGroupTitlesShowTheirOwnSymbolsWithoutAnIconTheme) {
    SettingsView view(dependencies());
    EXPECT_EQ(view.windowTitle(), "Settings");
    EXPECT_EQ(view.minimumSize(), QSize(650, 450));
    QStringList labels;
    for (int row = 0; row < view.sidebar()->count(); ++row) {
        labels << view.sidebar()->item(row)->text();
        EXPECT_TRUE(drawn(view.sidebar()->item(row)->icon().pixmap(16)));
        view.sidebar()->setCurrentRow(row);
        EXPECT_EQ(int(view.selectedTab()), row);
        for (const QLabel* symbol : view.content()->findChildren<QLabel*>("groupSymbol"))
            EXPECT_TRUE(drawn(symbol->pixmap())) << labels.back().toStdString();
    }
    EXPECT_EQ(labels, (QStringList{"General", "Screenshots", "Video", "Shortcuts", "About"}));
    EXPECT_TRUE(drawn(qobject_cast<AboutSettingsContent*>(view.content())->termsButton()->icon().pixmap(16)));
    view.sidebar()->setCurrentRow(2);
    EXPECT_EQ(view.content()->findChildren<QLabel*>("groupSymbol").size(), 5);
    view.sidebar()->clearSelection();  // a click on empty sidebar space
    EXPECT_EQ(view.selectedTab(), SettingsTab::general);
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
    ASSERT_NE(window, nullptr);
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
    window->close();  // closing destroys it; the next show makes a new one
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller.window(), nullptr);
    controller.setDependencies(SettingsView::Dependencies::system());  // drop the ones over this fixture
}

TEST_F(Settings, GeneralAndScreenshotPagesStoreEachChangeAtOnce) {
    GeneralSettingsContent general(*persistence);
    for (QCheckBox* s : {general.copyToClipboardSwitch(), general.playSoundsSwitch(), general.showFlashSwitch()}) {
        EXPECT_TRUE(s->isChecked());
        s->click();
    }
    EXPECT_EQ(store->object("zentola.playSounds"), QVariant(false));
    EXPECT_FALSE(persistence->copyToClipboard() || persistence->showFlash());

    ScreenshotSettingsContent page(*persistence);
    EXPECT_TRUE(page.qualityRow()->isHidden());
    QStringList formats;
    for (int i = 0; i < page.formatPicker()->count(); ++i)
        formats << page.formatPicker()->itemText(i);
    EXPECT_EQ(formats, (QStringList{"PNG", "JPEG", "WebP", "HEIC", "TIFF"}));
    choose(page.formatPicker(), "JPEG");
    EXPECT_EQ(store->stringForKey("zentola.saveFormat"), "JPEG");
    EXPECT_FALSE(page.qualityRow()->isHidden());
    EXPECT_EQ(page.qualityLabel()->text(), "90%");
    for (auto [tenths, label] : {std::pair{1, "10%"}, {7, "70%"}, {10, "100%"}}) {
        page.qualitySlider()->setValue(tenths);
        EXPECT_EQ(page.qualityLabel()->text(), label);
        EXPECT_DOUBLE_EQ(persistence->jpegQuality(), tenths / 10.0);
    }
    choose(page.formatPicker(), "TIFF");
    EXPECT_TRUE(page.qualityRow()->isHidden());
    EXPECT_EQ(ScreenshotSettingsContent::qualityText(0.999), "99%");  // truncated, not rounded
    EXPECT_EQ(ScreenshotSettingsContent::qualityText(std::nan("")), "90%");
}

TEST_F(Settings, FolderPickersStartInTheUserFoldersAndStoreOnlyAChoice) {
    for (auto [path, name] : {std::pair{"/home/ann/Pictures/Zentola", "~/Pictures/Zentola"}, {"/home/ann", "~"},
                              {"/Volumes/Shots", "Shots"}, {"/home/ann2/Shots", "Shots"}})
        EXPECT_EQ(SaveLocationRow::displayName(QUrl::fromLocalFile(path), "/home/ann"), name);
    EXPECT_EQ(SaveLocationRow::displayName(std::nullopt, "/home/ann"), "Not set");
    // The desktop's user folders; the videos folder is not made, so its picker starts in its parent.
    ASSERT_TRUE(QDir(dir.path()).mkpath("Bilder") && QDir(dir.path()).mkpath("Filme"));
    QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs");
    QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write(QString("XDG_PICTURES_DIR=\"%1/Bilder\"\nXDG_VIDEOS_DIR=\"%1/Filme/Neu\"\n").arg(dir.path()).toUtf8());
    dirs.close();

    VideoSettingsContent video(*persistence, *permissions, [] { return 3; });
    const QString before = video.saveLocation()->folderLabel()->text();
    video.saveLocation()->changeButton()->click();
    ASSERT_NE(picker(), nullptr);
    EXPECT_EQ(picker()->windowTitle(), "Select or create the Zentola folder for saving videos");
    EXPECT_EQ(picker()->fileMode(), QFileDialog::Directory);
    EXPECT_FALSE(picker()->isModal());
    EXPECT_EQ(picker()->labelText(QFileDialog::Accept), "Select");
    EXPECT_EQ(QDir(picker()->directory()).absolutePath(), dir.filePath("Filme"));
    picker()->reject();
    settle();
    EXPECT_EQ(video.saveLocation()->folderLabel()->text(), before);
    EXPECT_FALSE(store->contains("zentola.videoFolderBookmark"));

    ScreenshotSettingsContent page(*persistence);
    page.saveLocation()->changeButton()->click();
    QFileDialog* d = picker();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Select or create the Zentola folder for saving screenshots");
    EXPECT_EQ(QDir(d->directory()).absolutePath(), dir.filePath("Bilder"));
    d->selectFile(dir.filePath("Bilder"));
    QMetaObject::invokeMethod(d, "accept");
    settle();
    EXPECT_EQ(page.saveLocation()->folderLabel()->text(), "Bilder");
    EXPECT_EQ(persistence->screenshotFolderURL().toLocalFile(), dir.filePath("Bilder"));
}

TEST_F(Settings, VideoPickersShowAndStoreTheirValues) {
    store->setInteger("zentola.videoFrameRate", 45);
    VideoSettingsContent page(*persistence, *permissions, [] { return 3; });
    EXPECT_EQ(page.frameRatePicker()->currentText(), "30 fps");
    EXPECT_EQ(page.countdownPicker()->currentText(), "3s");
    EXPECT_EQ(page.countdownPicker()->count(), 11);
    for (auto [picker, text] : {std::pair{page.frameRatePicker(), "60 fps"}, {page.countdownPicker(), "None"},
                                {page.containerPicker(), "MP4"}, {page.codecPicker(), "HEVC"}})
        choose(picker, text);
    page.retinaSwitch()->click();
    EXPECT_EQ(store->object("zentola.videoFrameRate"), QVariant(qint64(60)));
    EXPECT_EQ(store->object("zentola.recordingCountdown"), QVariant(qint64(0)));
    EXPECT_EQ(store->stringForKey("zentola.videoContainer"), "MP4");
    EXPECT_EQ(store->stringForKey("zentola.videoCodec"), "HEVC");
    EXPECT_FALSE(persistence->recordAtRetina());
}

TEST_F(Settings, MicrophoneSourcesNeedPermissionAndADenialFallsBackToNone) {
    VideoSettingsContent granted(*persistence, *permissions, [this] { return microphoneStatus; });
    choose(granted.audioPicker(), "Microphone");  // granted: stored without asking
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), "Microphone");
    microphoneStatus = 2;  // revoked after the page was drawn
    permissions->checkMicrophonePermission();
    choose(granted.audioPicker(), "Both");
    EXPECT_EQ(granted.audioPicker()->currentText(), "None");
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), "None");
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(requests, 0);

    VideoSettingsContent denied(*persistence, *permissions, [this] { return microphoneStatus; });
    const auto* items = qobject_cast<const QStandardItemModel*>(denied.audioPicker()->model());
    QStringList disabled;
    for (int i = 0; i < denied.audioPicker()->count(); ++i)
        if (!items->item(i)->isEnabled())
            disabled << items->item(i)->text();
    EXPECT_EQ(disabled, (QStringList{"Microphone", "Both"}));
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
    for (const char* t : {"Open capture overlay", "Quick start recording", "Any of the above", "Close overlay", "Escape"})
        EXPECT_TRUE(texts(shortcuts).contains(t)) << t;

    QFile latin1(dir.filePath("Latin1.txt"));
    ASSERT_TRUE(latin1.open(QIODevice::WriteOnly));
    latin1.write("caf\xe9 terms");
    latin1.close();
    for (const std::optional<QString>& bad : {std::optional(latin1.fileName()), std::optional(dir.filePath("none")),
                                              std::optional<QString>()})
        EXPECT_EQ(TermsSheetView::termsContent(bad), TermsSheetView::fallbackText());
    EXPECT_TRUE(TermsSheetView::fallbackText().startsWith("Terms of Use could not be loaded. Please visit "));
    EXPECT_EQ(AboutSettingsContent::appVersion("2.3", "45"), "2.3 (45)");
    EXPECT_EQ(AboutSettingsContent::appVersion(std::nullopt, std::nullopt), "1.0 (1)");
    AboutSettingsContent about;
    EXPECT_TRUE(about.versionLabel()->text().startsWith("Version "));
    about.show();
    about.termsButton()->click();
    ASSERT_TRUE(about.showingTerms());
    EXPECT_NE(about.termsSheet()->textView()->toPlainText(), TermsSheetView::fallbackText());  // the built-in file
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(about.termsSheet(), &escape);
    settle();
    EXPECT_FALSE(about.showingTerms());
}

}  // namespace
