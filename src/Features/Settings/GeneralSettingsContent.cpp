#include "Features/Settings/GeneralSettingsContent.h"

#include "Services/PersistenceManager.h"

#include <QCheckBox>

namespace zentola {

GeneralSettingsContent::GeneralSettingsContent(PersistenceManager& persistence, QWidget* parent)
    : SettingsPage(parent) {
    PersistenceManager* store = &persistence;
    copyToClipboard_ = makeSwitch(store->copyToClipboard());
    playSounds_ = makeSwitch(store->playSounds());
    showFlash_ = makeSwitch(store->showFlash());

    QGroupBox* clipboard = addGroup(QStringLiteral("Clipboard"), QStringLiteral("doc.on.clipboard"));
    addRow(clipboard, QStringLiteral("Copy to clipboard"), {copyToClipboard_});
    QGroupBox* feedback = addGroup(QStringLiteral("Feedback"), QStringLiteral("speaker.wave.2"));
    addRow(feedback, QStringLiteral("Play sound"), {playSounds_});
    addRow(feedback, QStringLiteral("Show flash"), {showFlash_});

    connect(copyToClipboard_, &QCheckBox::toggled, this, [store](bool on) { store->setCopyToClipboard(on); });
    connect(playSounds_, &QCheckBox::toggled, this, [store](bool on) { store->setPlaySounds(on); });
    connect(showFlash_, &QCheckBox::toggled, this, [store](bool on) { store->setShowFlash(on); });
}

}  // namespace zentola
