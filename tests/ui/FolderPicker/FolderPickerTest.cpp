#include "Services/PersistenceManager.h"

#include "platform/defaults/DefaultsStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentola;

namespace {

// Points the user's pictures and videos folders (user-dirs.dirs in the private configuration home)
// into a temporary home.
class UserDirs : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        QDir().mkpath(home.path() + "/Bilder");
        // The videos folder is left unmade: its picker starts in the nearest folder that exists.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        ASSERT_FALSE(config.isEmpty());
        QDir().mkpath(config);
        QFile f(config + "/user-dirs.dirs");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString("XDG_PICTURES_DIR=\"%1/Bilder\"\nXDG_VIDEOS_DIR=\"%1/Filme/Neu\"\n").arg(home.path()).toUtf8());
    }
    QTemporaryDir home;
};
UserDirs* const userDirs = static_cast<UserDirs*>(::testing::AddGlobalTestEnvironment(new UserDirs));

class FolderPickerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::DefaultsStore store{dir.path() + "/defaults.json"};
    PersistenceManager settings{store};
    std::vector<bool> results;

    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w))
                d->close();
        QApplication::processEvents();
    }

    QFileDialog* openPicker() {
        QFileDialog* found = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                found = d;
        return found;
    }

    static QPushButton* button(QFileDialog* d, const QString& text) {
        for (QPushButton* b : d->findChildren<QPushButton*>())
            if (b->text().remove('&') == text)
                return b;
        return nullptr;
    }

    std::function<void(bool)> record() {
        return [this](bool ok) { results.push_back(ok); };
    }
};

}  // namespace

TEST_F(FolderPickerTest, ScreenshotPickerIsANonModalDirectoryDialogInPictures) {
    settings.requestScreenshotFolderAccess(record());
    // It returns at once, before any answer.
    EXPECT_TRUE(results.empty());
    QFileDialog* d = openPicker();
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->isModal());
    EXPECT_EQ(d->windowModality(), Qt::NonModal);
    EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(d->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_FALSE(d->testOption(QFileDialog::ReadOnly));
    EXPECT_EQ(d->labelText(QFileDialog::Accept), "Select");
    EXPECT_EQ(d->windowTitle(), "Select or create the Zentola folder for saving screenshots");
    EXPECT_EQ(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation), userDirs->home.path() + "/Bilder");
    EXPECT_EQ(QDir(d->directory()).absolutePath(), userDirs->home.path() + "/Bilder");
}

TEST_F(FolderPickerTest, ChoosingAFolderStoresItsPathAndReportsTrue) {
    const QString chosen = dir.path() + "/Captures";
    ASSERT_TRUE(QDir().mkpath(chosen));
    settings.requestVideoFolderAccess(record());
    QFileDialog* d = openPicker();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Select or create the Zentola folder for saving videos");
    EXPECT_EQ(QDir(d->directory()).absolutePath(), userDirs->home.path());
    d->setDirectory(dir.path());
    d->selectFile(chosen);
    QPushButton* select = button(d, "Select");
    ASSERT_NE(select, nullptr);
    select->click();
    QApplication::processEvents();
    EXPECT_EQ(results, std::vector<bool>{true});
    EXPECT_EQ(store.stringForKey("zentola.videoFolderBookmark"), chosen);
    EXPECT_EQ(settings.videoFolderURL(), QUrl::fromLocalFile(chosen));
    EXPECT_FALSE(store.object("zentola.screenshotFolderBookmark").has_value());
}

TEST_F(FolderPickerTest, CancellingStoresNothingAndReportsFalse) {
    const QString before = dir.path();
    settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(before));
    settings.requestScreenshotFolderAccess(record());
    QFileDialog* d = openPicker();
    ASSERT_NE(d, nullptr);
    d->selectFile(QDir::homePath());
    QPushButton* cancel = button(d, "Cancel");
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    QApplication::processEvents();
    EXPECT_EQ(results, std::vector<bool>{false});
    EXPECT_EQ(store.stringForKey("zentola.screenshotFolderBookmark"), before);
}
