#pragma once

// The real screenshot workflow saving into a folder of its own, with its effects kept quiet: nothing
// copied, no sound, no flash; each thumbnail it would show is kept in `shown`. Header only: the tests
// that use it link the capture feature.
#include "Features/Capture/CaptureManager.h"
#include "Services/PersistenceManager.h"
#include "platform/defaults/DefaultsStore.h"

#include <QTemporaryDir>
#include <QUrl>

#include <vector>

namespace testing_support {

struct QuietCapture {
    QuietCapture() : store(dir.path() + "/defaults.json"), settings(store), manager(environment()) {
        settings.saveScreenshotFolderAccess(QUrl::fromLocalFile(dir.path()));
    }

    QTemporaryDir dir;
    platform::DefaultsStore store;
    zentola::PersistenceManager settings;
    std::vector<zentola::CapturedImage> shown;
    zentola::CaptureManager manager;

private:
    zentola::CaptureManager::Environment environment() {
        zentola::CaptureManager::Environment e = zentola::CaptureManager::Environment::system();
        e.persistence = [this]() -> zentola::PersistenceManager& { return settings; };
        e.copyImageWithFile = [](const platform::BitmapRef&, const std::optional<QString>&) {};
        e.playShutterSound = [] {};
        e.showFlash = [](platform::ScreenRef) -> QCoro::Task<void> { co_return; };
        e.showThumbnail = [this](const zentola::CapturedImage& image) { shown.push_back(image); };
        return e;
    }
};

}  // namespace testing_support
