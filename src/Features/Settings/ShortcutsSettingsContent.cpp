#include "Features/Settings/ShortcutsSettingsContent.h"

#include "packages/GlobalShortcuts/ApplicationShortcuts.h"
#include "packages/GlobalShortcuts/Name.h"
#include "packages/GlobalShortcuts/Recorder.h"

#include <QLabel>

namespace zentola {
namespace {

QLabel* keyCap(const QString& text) {
    auto* cap = new QLabel(text);
    cap->setForegroundRole(QPalette::PlaceholderText);
    cap->setStyleSheet(QStringLiteral("QLabel { padding: 4px 8px; border-radius: 6px;"
                                      " background-color: rgba(128, 128, 128, 51); }"));
    return cap;
}

QLabel* caption(const QString& text) {
    auto* label = new QLabel(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    return label;
}

}  // namespace

ShortcutsSettingsContent::ShortcutsSettingsContent(QWidget* parent) : SettingsPage(parent) {
    using GlobalShortcuts::Name;
    openOverlay_ = new GlobalShortcuts::Recorder(Name::openOverlay());
    instantCapture_ = new GlobalShortcuts::Recorder(Name::instantCapture());
    quickRecord_ = new GlobalShortcuts::Recorder(Name::quickRecord());

    using GlobalShortcuts::applicationShortcutTitle;
    addRow(addGroup(QStringLiteral("General"), QStringLiteral("keyboard")),
           applicationShortcutTitle(Name::openOverlay()), {openOverlay_});
    addRow(addGroup(QStringLiteral("Screenshots"), QStringLiteral("camera")),
           applicationShortcutTitle(Name::instantCapture()), {instantCapture_});
    QGroupBox* recording = addGroup(QStringLiteral("Recording"), QStringLiteral("record.circle"));
    addRow(recording, applicationShortcutTitle(Name::quickRecord()), {quickRecord_});
    addRow(recording, QStringLiteral("Stop recording"), {caption(QStringLiteral("Any of the above"))});
    QGroupBox* overlay = addGroup(QStringLiteral("While in Overlay"), QStringLiteral("rectangle.dashed"));
    addRow(overlay, QStringLiteral("Close overlay"), {keyCap(QStringLiteral("Escape"))});
    // The overlay's move key is Alt on this desktop.
    addRow(overlay, QStringLiteral("Move existing area (in rect mode)"), {keyCap(QStringLiteral("Alt + Drag"))});
}

}  // namespace zentola
