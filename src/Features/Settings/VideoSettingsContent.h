#pragma once

#include "Features/Settings/SettingsPage.h"
#include "Services/PersistenceManager.h"

#include <functional>

class QCheckBox;
class QComboBox;

namespace zentola {

class PermissionManager;
class SaveLocationRow;

// How recordings are written and started. Choosing a microphone source without microphone access
// asks for it, or falls back to no audio and opens the desktop's microphone settings.
class VideoSettingsContent : public SettingsPage {
    Q_OBJECT
public:
    // The desktop's microphone status: 0 not determined, 1 restricted, 2 denied, 3 authorised.
    using MicrophoneStatus = std::function<int()>;

    VideoSettingsContent(PersistenceManager& persistence, PermissionManager& permissionManager,
                         MicrophoneStatus microphoneStatus, QWidget* parent = nullptr);

    QComboBox* containerPicker() const { return container_; }
    QComboBox* codecPicker() const { return codec_; }
    QComboBox* frameRatePicker() const { return frameRate_; }
    QCheckBox* retinaSwitch() const { return retina_; }
    QComboBox* audioPicker() const { return audio_; }
    QComboBox* countdownPicker() const { return countdown_; }
    SaveLocationRow* saveLocation() const { return saveLocation_; }
    bool isRequestingPermission() const { return isRequestingPermission_; }

private:
    void handleAudioOptionChange(PersistenceManager::AudioOption newOption);
    void setAudioOptionNone();
    void openMicrophoneSettingsWithFocusHandling();
    void setRequestingPermission(bool requesting);

    PersistenceManager& persistence_;
    PermissionManager& permissionManager_;
    MicrophoneStatus microphoneStatus_;
    QComboBox* container_;
    QComboBox* codec_;
    QComboBox* frameRate_;
    QCheckBox* retina_;
    QComboBox* audio_;
    QComboBox* countdown_;
    SaveLocationRow* saveLocation_;
    bool isRequestingPermission_ = false;
};

}  // namespace zentola
