#include "Features/Settings/VideoSettingsContent.h"

#include "packages/GlobalShortcuts/ApplicationShortcuts.h"

#include <QLabel>

#include "Features/Settings/SaveLocationRow.h"
#include "Features/Settings/SettingsWindowController.h"
#include "Services/PermissionManager.h"
#include "platform/core/Log.h"
#include "platform/desktop/Workspace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QStandardItemModel>
#include <QTimer>

#include <exception>
#include <memory>

namespace zentola {
namespace {

constexpr int deniedStatus = 2;

template <typename Enum, typename Label>
QComboBox* makePicker(Enum current, Label label) {
    auto* picker = new QComboBox;
    for (Enum value : Enum::allCases())
        picker->addItem(label(value), int(value));
    picker->setCurrentIndex(picker->findData(int(current)));
    picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return picker;
}

}  // namespace

VideoSettingsContent::VideoSettingsContent(PersistenceManager& persistence, PermissionManager& permissionManager,
                                           MicrophoneStatus microphoneStatus, QWidget* parent)
    : SettingsPage(parent),
      persistence_(persistence),
      permissionManager_(permissionManager),
      microphoneStatus_(std::move(microphoneStatus)) {
    using P = PersistenceManager;
    container_ = makePicker(persistence_.videoContainer(), [](P::VideoContainer c) { return c.rawValue(); });
    codec_ = makePicker(persistence_.videoCodec(), [](P::VideoCodec c) { return c.rawValue(); });
    frameRate_ = makePicker(persistence_.videoFrameRate(),
                            [](P::VideoFrameRate r) { return QString::number(r.rawValue()) + " fps"; });
    retina_ = makeSwitch(persistence_.recordAtRetina());
    audio_ = makePicker(persistence_.audioOption(), [](P::AudioOption a) { return a.rawValue(); });
    if (!permissionManager_.hasMicrophonePermission()) {
        auto* items = static_cast<QStandardItemModel*>(audio_->model());
        for (int i = 0; i < audio_->count(); ++i)
            if (P::AudioOption(P::AudioOption::Value(audio_->itemData(i).toInt())).requiresMicrophonePermission())
                items->item(i)->setEnabled(false);
    }
    countdown_ = new QComboBox;
    countdown_->addItem(QStringLiteral("None"), 0);
    for (int s = 1; s <= 10; ++s)
        countdown_->addItem(QString::number(s) + "s", s);
    // A stored value with no item shows no selection.
    countdown_->setCurrentIndex(countdown_->findData(persistence_.recordingCountdown()));
    countdown_->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    QGroupBox* format = addGroup(QStringLiteral("Format"), QStringLiteral("film"));
    addRow(format, QStringLiteral("Container"), {container_});
    addRow(format, QStringLiteral("Codec"), {codec_});
    addRow(format, QStringLiteral("Frame rate"), {frameRate_});
    QGroupBox* resolution = addGroup(QStringLiteral("Resolution"), QStringLiteral("rectangle.expand.vertical"));
    addRow(resolution, QStringLiteral("Retina resolution"), {retina_});
    addNote(resolution, QStringLiteral("Turn off for smaller file sizes (1/4 the pixels)."));
    addRow(addGroup(QStringLiteral("Audio"), QStringLiteral("waveform")), QStringLiteral("Source"), {audio_});
    QGroupBox* countdown = addGroup(QStringLiteral("Countdown"), QStringLiteral("timer"));
    addRow(countdown, QStringLiteral("Duration"), {countdown_});
    auto note = [] {
        return QStringLiteral("Only applies when starting from overlay. Quick record (%1) always starts immediately.")
            .arg(GlobalShortcuts::applicationDefaultText(GlobalShortcuts::Name::quickRecord()));
    };
    for (QLabel* label : addNote(countdown, note())->findChildren<QLabel*>())
        if (label->text() == note())
            GlobalShortcuts::followKeyboardLayout(label, note);
    saveLocation_ = new SaveLocationRow([this] { return persistence_.videoFolderURL(); },
                                        [this](std::function<void(bool)> done) {
                                            persistence_.requestVideoFolderAccess(std::move(done));
                                        });
    addRow(addGroup(QStringLiteral("Save Location"), QStringLiteral("folder")), QStringLiteral("Save to"),
           {saveLocation_});

    connect(container_, &QComboBox::currentIndexChanged, this, [this] {
        persistence_.setVideoContainer(P::VideoContainer::Value(container_->currentData().toInt()));
    });
    connect(codec_, &QComboBox::currentIndexChanged, this,
            [this] { persistence_.setVideoCodec(P::VideoCodec::Value(codec_->currentData().toInt())); });
    connect(frameRate_, &QComboBox::currentIndexChanged, this, [this] {
        persistence_.setVideoFrameRate(P::VideoFrameRate::Value(frameRate_->currentData().toInt()));
    });
    connect(retina_, &QCheckBox::toggled, this, [this](bool on) { persistence_.setRecordAtRetina(on); });
    connect(countdown_, &QComboBox::currentIndexChanged, this, [this] {
        if (countdown_->currentIndex() >= 0)
            persistence_.setRecordingCountdown(countdown_->currentData().toInt());
    });
    connect(audio_, &QComboBox::currentIndexChanged, this, [this] {
        if (audio_->currentIndex() >= 0)
            handleAudioOptionChange(P::AudioOption::Value(audio_->currentData().toInt()));
    });
}

void VideoSettingsContent::handleAudioOptionChange(PersistenceManager::AudioOption newOption) {
    if (!newOption.requiresMicrophonePermission() || permissionManager_.hasMicrophonePermission()) {
        persistence_.setAudioOption(newOption);
        return;
    }
    if (microphoneStatus_() == deniedStatus) {
        setAudioOptionNone();
        openMicrophoneSettingsWithFocusHandling();
        return;
    }
    setRequestingPermission(true);
    QPointer<VideoSettingsContent> self(this);
    PermissionManager* permissions = &permissionManager_;
    PersistenceManager* store = &persistence_;
    [](QPointer<VideoSettingsContent> self, PermissionManager* permissions, PersistenceManager* store,
       PersistenceManager::AudioOption option) -> QCoro::Task<void> {
        bool granted = false;
        try {
            granted = co_await permissions->requestMicrophonePermission();
        } catch (const std::exception& e) {
            platform::logLine(std::string("[Zentola] Microphone request failed: ") + e.what());
        }
        if (!self) {
            // The page closed meanwhile: the choice still counts when it was allowed.
            if (granted)
                store->setAudioOption(option);
            co_return;
        }
        self->setRequestingPermission(false);
        if (granted) {
            store->setAudioOption(option);
        } else {
            self->setAudioOptionNone();
            self->openMicrophoneSettingsWithFocusHandling();
        }
    }(self, permissions, store, newOption);
}

void VideoSettingsContent::setAudioOptionNone() {
    const int none = audio_->findData(int(PersistenceManager::AudioOption::none));
    if (audio_->currentIndex() == none)
        persistence_.setAudioOption(PersistenceManager::AudioOption::none);
    else
        audio_->setCurrentIndex(none);  // the change reaction stores it
    persistence_.setAudioOption(PersistenceManager::AudioOption::none);
}

void VideoSettingsContent::openMicrophoneSettingsWithFocusHandling() {
    permissionManager_.openMicrophoneSettings();
    // Outlives this page: the desktop's settings may be left after the page has gone.
    auto token = std::make_shared<platform::Workspace::ObserverToken>();
    *token = platform::Workspace::addApplicationObserver(
        platform::Workspace::ApplicationEvent::didDeactivate, [token](const platform::RunningApplication& app) {
            if (!platform::Workspace::isSystemSettings(app))
                return;
            QTimer::singleShot(100, qApp, [] {
                if (QWidget* w = SettingsWindowController::settingsWindow())
                    platform::Workspace::activate(w);
            });
            platform::Workspace::removeApplicationObserver(*token);
        });
}

void VideoSettingsContent::setRequestingPermission(bool requesting) {
    isRequestingPermission_ = requesting;
    audio_->setEnabled(!requesting);
}

}  // namespace zentola
