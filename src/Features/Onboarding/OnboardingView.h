#pragma once

#include <QWidget>
#include <qcoro/qcorotask.h>

#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace zentola {

// The onboarding window's content: a welcome page, then the three permissions with their states
// polled once a second. Finishing needs screen capture and keyboard access; the microphone is
// optional.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    enum class OnboardingStep { welcome, permissions };

    // What the page reads and opens; system() is the real desktop.
    struct Environment {
        std::function<bool()> preflightScreenCapture;
        std::function<bool()> isAccessibilityTrusted;
        std::function<bool()> hasMicrophonePermission;
        std::function<QCoro::Task<bool>()> requestMicrophonePermission;
        std::function<bool()> openAccessibilitySettings;
        // Starts the child that relaunches the application; false when it could not start.
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
        std::function<QString()> applicationFilePath;
        std::function<qint64()> processId;
        std::function<void()> quit;

        static Environment system();
    };

    explicit OnboardingView(std::function<void()> onComplete, Environment environment = Environment::system(),
                            QWidget* parent = nullptr);

    OnboardingStep currentStep() const { return currentStep_; }
    bool hasScreenRecordingPermission() const { return hasScreenRecording_; }
    bool hasAccessibilityPermission() const { return hasAccessibility_; }
    bool hasMicrophonePermission() const { return hasMicrophone_; }
    bool permissionsChanged() const { return permissionsChanged_; }
    QTimer* permissionTimer() const { return permissionTimer_; }

    void refreshPermissions();
    void quitAndReopen();
    // The shell command that starts the program at path again once process pid has ended.
    static QString reopenCommand(const QString& path, qint64 pid);

    QPushButton* getStartedButton() const { return getStarted_; }
    // The "Open Settings" button of row 0 (screen), 1 (keyboard) or 2 (microphone).
    QPushButton* openSettingsButton(int row) const { return rows_[row].button; }
    QLabel* missingNote(int row) const { return rows_[row].note; }
    QLabel* grantedMark(int row) const { return rows_[row].check; }
    QPushButton* startButton() const { return start_; }
    QPushButton* quitAndReopenButton() const { return quitAndReopen_; }
    QLabel* restartNotice() const { return restartNotice_; }
    QLabel* grantBothNotice() const { return grantBoth_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Row {
        QPushButton* button = nullptr;  // none where there is nothing to open
        QLabel* check = nullptr;
        QLabel* note = nullptr;  // in place of the button: why it is missing
    };

    QWidget* welcomeStep();
    QWidget* permissionsStep();
    QWidget* permissionRow(const QString& title, const QString& description, bool isRequired, int index,
                           std::function<void()> action);
    void readPermissions(bool initial);
    void startPermissionPolling();
    void stopPermissionPolling();
    void openAccessibilitySettings();
    void requestMicrophonePermission();
    void goToPermissions();
    void updateView();

    std::function<void()> onComplete_;
    Environment env_;
    OnboardingStep currentStep_ = OnboardingStep::welcome;
    bool hasScreenRecording_ = false;
    bool hasAccessibility_ = false;
    bool hasMicrophone_ = false;
    QTimer* permissionTimer_ = nullptr;
    bool permissionsChanged_ = false;

    QStackedWidget* pages_;
    QLabel* dots_[2] = {};
    QPushButton* getStarted_ = nullptr;
    Row rows_[3];
    QPushButton* start_ = nullptr;
    QPushButton* quitAndReopen_ = nullptr;
    QLabel* restartNotice_ = nullptr;
    QLabel* grantBoth_ = nullptr;
};

}  // namespace zentola
