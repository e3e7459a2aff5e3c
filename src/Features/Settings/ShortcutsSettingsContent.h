#pragma once

#include "Features/Settings/SettingsPage.h"

namespace GlobalShortcuts {
class Recorder;
}

namespace zentola {

// One recorder per capture shortcut, plus the overlay's fixed keys.
class ShortcutsSettingsContent : public SettingsPage {
    Q_OBJECT
public:
    explicit ShortcutsSettingsContent(QWidget* parent = nullptr);

    GlobalShortcuts::Recorder* openOverlayRecorder() const { return openOverlay_; }
    GlobalShortcuts::Recorder* instantCaptureRecorder() const { return instantCapture_; }
    GlobalShortcuts::Recorder* quickRecordRecorder() const { return quickRecord_; }

private:
    GlobalShortcuts::Recorder* openOverlay_;
    GlobalShortcuts::Recorder* instantCapture_;
    GlobalShortcuts::Recorder* quickRecord_;
};

}  // namespace zentola
