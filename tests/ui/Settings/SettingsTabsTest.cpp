#include "SettingsFixture.h"

#include "Features/Settings/AboutSettingsContent.h"
#include "Features/Settings/GeneralSettingsContent.h"
#include "Features/Settings/SaveLocationRow.h"
#include "Features/Settings/ScreenshotSettingsContent.h"
#include "Features/Settings/ShortcutsSettingsContent.h"
#include "Features/Settings/TermsSheetView.h"
#include "Features/Settings/VideoSettingsContent.h"
#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "packages/GlobalShortcuts/Recorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStandardItemModel>

#include <cmath>

using namespace zentola;

namespace {

class SettingsTabs : public SettingsFixture {};

TEST_F(SettingsTabs, GeneralSwitchesStartOnAndStoreEachClickAtOnce) {
    GeneralSettingsContent page(*persistence);
    for (QCheckBox* s : {page.copyToClipboardSwitch(), page.playSoundsSwitch(), page.showFlashSwitch()})
        EXPECT_TRUE(s->isChecked());
    EXPECT_TRUE(store->dictionaryRepresentation().isEmpty());  // nothing written for the starting values

    page.playSoundsSwitch()->click();
    EXPECT_EQ(store->object("zentola.playSounds"), QVariant(false));
    EXPECT_FALSE(store->contains("zentola.copyToClipboard"));
    page.copyToClipboardSwitch()->click();
    page.showFlashSwitch()->click();
    page.showFlashSwitch()->click();
    EXPECT_FALSE(persistence->copyToClipboard());
    EXPECT_TRUE(persistence->showFlash());

    GeneralSettingsContent reopened(*persistence);
    EXPECT_FALSE(reopened.playSoundsSwitch()->isChecked());
    EXPECT_FALSE(reopened.copyToClipboardSwitch()->isChecked());
}

TEST_F(SettingsTabs, QualityRowFollowsTheFormatAndStoresTenths) {
    ScreenshotSettingsContent page(*persistence);
    EXPECT_EQ(page.formatPicker()->currentText(), "PNG");
    QStringList labels;
    for (int i = 0; i < page.formatPicker()->count(); ++i)
        labels << page.formatPicker()->itemText(i);
    EXPECT_EQ(labels, (QStringList{"PNG", "JPEG", "WebP", "HEIC", "TIFF"}));
    EXPECT_TRUE(page.qualityRow()->isHidden());

    choose(page.formatPicker(), "JPEG");
    EXPECT_EQ(store->stringForKey("zentola.saveFormat"), "JPEG");
    EXPECT_FALSE(page.qualityRow()->isHidden());
    EXPECT_EQ(page.qualityLabel()->text(), "90%");

    for (auto [tenths, label] : {std::pair{1, "10%"}, {3, "30%"}, {7, "70%"}, {10, "100%"}}) {
        page.qualitySlider()->setValue(tenths);
        EXPECT_EQ(page.qualityLabel()->text(), label);
        EXPECT_DOUBLE_EQ(persistence->jpegQuality(), tenths / 10.0);
    }
    choose(page.formatPicker(), "TIFF");
    EXPECT_TRUE(page.qualityRow()->isHidden());
    EXPECT_DOUBLE_EQ(persistence->jpegQuality(), 1.0);
    choose(page.formatPicker(), "HEIC");
    EXPECT_FALSE(page.qualityRow()->isHidden());

    ScreenshotSettingsContent reopened(*persistence);
    EXPECT_EQ(reopened.formatPicker()->currentText(), "HEIC");
    EXPECT_EQ(ScreenshotSettingsContent::qualityText(0.999), "99%");  // truncated, not rounded
    EXPECT_EQ(ScreenshotSettingsContent::qualityText(std::nan("")), "90%");
    EXPECT_EQ(reopened.qualitySlider()->value(), 10);
}

TEST_F(SettingsTabs, FolderNamesAreShortenedOnlyInsideTheHomeFolder) {
    const auto name = [](const QString& path) {
        return SaveLocationRow::displayName(QUrl::fromLocalFile(path), "/home/ann");
    };
    EXPECT_EQ(name("/home/ann/Pictures/Zentola"), "~/Pictures/Zentola");
    EXPECT_EQ(name("/home/ann"), "~");
    EXPECT_EQ(name("/Volumes/Shots"), "Shots");
    EXPECT_EQ(name("/home/ann2/Shots"), "Shots");  // a neighbour of home is not inside it
    EXPECT_EQ(SaveLocationRow::displayName(std::nullopt, "/home/ann"), "Not set");
}

TEST_F(SettingsTabs, ChangeButtonUpdatesTheFolderOnlyWhenOneIsChosen) {
    ScreenshotSettingsContent page(*persistence);
    const QString before = page.saveLocation()->folderLabel()->text();
    const auto picker = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                return d;
        return static_cast<QFileDialog*>(nullptr);
    };
    page.saveLocation()->changeButton()->click();
    ASSERT_NE(picker(), nullptr);
    picker()->reject();
    settle();
    EXPECT_EQ(page.saveLocation()->folderLabel()->text(), before);

    const QString chosen = dir.filePath("Shots Here");
    ASSERT_TRUE(QDir().mkpath(chosen));
    page.saveLocation()->changeButton()->click();
    QFileDialog* d = picker();
    ASSERT_NE(d, nullptr);
    d->setDirectory(dir.path());
    d->selectFile(chosen);
    QPushButton* select = nullptr;
    for (QPushButton* b : d->findChildren<QPushButton*>())
        if (b->text().remove('&') == "Select")
            select = b;
    ASSERT_NE(select, nullptr);
    select->click();
    settle();
    EXPECT_EQ(page.saveLocation()->folderLabel()->text(), "Shots Here");
    EXPECT_EQ(persistence->screenshotFolderURL().toLocalFile(), chosen);
}

TEST_F(SettingsTabs, VideoPickersShowAndStoreTheirValues) {
    store->setInteger("zentola.videoFrameRate", 45);
    store->setInteger("zentola.recordingCountdown", 3);
    VideoSettingsContent page(*persistence, *permissions, [] { return 3; });
    EXPECT_EQ(page.frameRatePicker()->currentText(), "30 fps");
    EXPECT_EQ(page.countdownPicker()->currentText(), "3s");
    EXPECT_EQ(page.countdownPicker()->count(), 11);
    EXPECT_EQ(page.countdownPicker()->itemText(10), "10s");

    choose(page.frameRatePicker(), "60 fps");
    EXPECT_EQ(store->object("zentola.videoFrameRate"), QVariant(qint64(60)));
    choose(page.countdownPicker(), "None");
    EXPECT_EQ(store->object("zentola.recordingCountdown"), QVariant(qint64(0)));
    choose(page.containerPicker(), "MP4");
    EXPECT_EQ(store->stringForKey("zentola.videoContainer"), "MP4");
    choose(page.codecPicker(), "HEVC");
    EXPECT_EQ(store->stringForKey("zentola.videoCodec"), "HEVC");
    const bool retina = page.retinaSwitch()->isChecked();
    page.retinaSwitch()->click();
    EXPECT_EQ(persistence->recordAtRetina(), !retina);
}

TEST_F(SettingsTabs, MicrophoneSourcesNeedPermission) {
    microphoneStatus = 2;
    permissions->checkMicrophonePermission();
    VideoSettingsContent page(*persistence, *permissions, [this] { return microphoneStatus; });
    const auto* items = qobject_cast<const QStandardItemModel*>(page.audioPicker()->model());
    ASSERT_NE(items, nullptr);
    QStringList disabled;
    for (int i = 0; i < page.audioPicker()->count(); ++i)
        if (!items->item(i)->isEnabled())
            disabled << items->item(i)->text();
    EXPECT_EQ(disabled, (QStringList{"Microphone", "Both"}));

    choose(page.audioPicker(), "System Audio");
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), "System Audio");
}

TEST_F(SettingsTabs, GrantedMicrophoneIsStoredWithoutAsking) {
    VideoSettingsContent page(*persistence, *permissions, [this] {
        ++statusQueries;
        return microphoneStatus;
    });
    choose(page.audioPicker(), "Microphone");
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), "Microphone");
    EXPECT_EQ(statusQueries, 0);
    EXPECT_EQ(requests, 0);
}

TEST_F(SettingsTabs, DeniedMicrophoneFallsBackToNoneAndOpensSettings) {
    VideoSettingsContent page(*persistence, *permissions, [this] { return microphoneStatus; });
    microphoneStatus = 2;  // revoked after the page was drawn
    permissions->checkMicrophonePermission();
    choose(page.audioPicker(), "Both");
    EXPECT_EQ(page.audioPicker()->currentText(), "None");
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), "None");
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(requests, 0);
}

class UndecidedMicrophone : public SettingsFixture, public testing::WithParamInterface<bool> {};

TEST_P(UndecidedMicrophone, IsAskedWithThePickerLocked) {
    const bool grant = GetParam();
    VideoSettingsContent page(*persistence, *permissions, [this] { return microphoneStatus; });
    microphoneStatus = 0;
    permissions->checkMicrophonePermission();
    choose(page.audioPicker(), "Microphone");
    EXPECT_TRUE(page.isRequestingPermission());
    EXPECT_FALSE(page.audioPicker()->isEnabled());
    EXPECT_FALSE(store->contains("zentola.videoAudioOption"));
    EXPECT_EQ(requests, 1);

    pendingRequest.resolve(grant);
    settle();
    EXPECT_FALSE(page.isRequestingPermission());
    EXPECT_TRUE(page.audioPicker()->isEnabled());
    EXPECT_EQ(store->stringForKey("zentola.videoAudioOption"), grant ? "Microphone" : "None");
    EXPECT_EQ(page.audioPicker()->currentText(), grant ? "Microphone" : "None");
    EXPECT_EQ(settingsOpened, grant ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, UndecidedMicrophone, testing::Bool());

TEST_F(SettingsTabs, ShortcutRecordersEditTheThreeCaptureShortcuts) {
    ShortcutsSettingsContent page;
    using GlobalShortcuts::Name;
    EXPECT_EQ(page.openOverlayRecorder()->name(), Name::openOverlay());
    EXPECT_EQ(page.instantCaptureRecorder()->name(), Name::instantCapture());
    EXPECT_EQ(page.quickRecordRecorder()->name(), Name::quickRecord());
    QStringList texts;
    for (QLabel* l : page.findChildren<QLabel*>())
        texts << l->text();
    for (const char* t : {"Open capture overlay", "Instant capture", "Quick start recording", "Stop recording",
                          "Any of the above", "Close overlay", "Escape", "Move existing area (in rect mode)"})
        EXPECT_TRUE(texts.contains(t)) << t;
}

TEST_F(SettingsTabs, TermsComeFromTheFileOrTheFallbackSentence) {
    const QString good = dir.filePath("Terms.txt");
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Terms \xc3\xa9t\xc3\xa9\n");
    f.close();
    EXPECT_EQ(TermsSheetView::termsContent(good), QString::fromUtf8("Terms \xc3\xa9t\xc3\xa9\n"));
    const QString bad = dir.filePath("Latin1.txt");
    QFile b(bad);
    ASSERT_TRUE(b.open(QIODevice::WriteOnly));
    b.write("caf\xe9 terms");
    b.close();
    EXPECT_EQ(TermsSheetView::termsContent(bad), TermsSheetView::fallbackText());
    EXPECT_EQ(TermsSheetView::termsContent(dir.filePath("missing.txt")), TermsSheetView::fallbackText());
    EXPECT_EQ(TermsSheetView::termsContent(std::nullopt), TermsSheetView::fallbackText());
    EXPECT_TRUE(TermsSheetView::fallbackText().startsWith("Terms of Use could not be loaded. Please visit "));
}

TEST_F(SettingsTabs, AboutShowsTheVersionAndOpensTheTermsSheet) {
    EXPECT_EQ(AboutSettingsContent::appVersion("2.3", "45"), "2.3 (45)");
    EXPECT_EQ(AboutSettingsContent::appVersion(std::nullopt, std::nullopt), "1.0 (1)");
    AboutSettingsContent page;
    EXPECT_TRUE(page.versionLabel()->text().startsWith("Version "));
    page.show();
    page.termsButton()->click();
    ASSERT_TRUE(page.showingTerms());
    EXPECT_FALSE(page.termsSheet()->textView()->toPlainText().isEmpty());
    EXPECT_NE(page.termsSheet()->textView()->toPlainText(), TermsSheetView::fallbackText());  // the built-in file
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(page.termsSheet(), &escape);
    settle();
    EXPECT_FALSE(page.showingTerms());
}

}  // namespace
