#pragma once

#include "Features/Settings/SettingsPage.h"

class QCheckBox;

namespace zentola {

class PersistenceManager;

// The post-capture switches: pasteboard copy, sound and flash. Each change is stored at once.
class GeneralSettingsContent : public SettingsPage {
    Q_OBJECT
public:
    explicit GeneralSettingsContent(PersistenceManager& persistence, QWidget* parent = nullptr);

    QCheckBox* copyToClipboardSwitch() const { return copyToClipboard_; }
    QCheckBox* playSoundsSwitch() const { return playSounds_; }
    QCheckBox* showFlashSwitch() const { return showFlash_; }

private:
    QCheckBox* copyToClipboard_;
    QCheckBox* playSounds_;
    QCheckBox* showFlash_;
};

}  // namespace zentola
