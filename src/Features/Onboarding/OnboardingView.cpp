#include "Features/Onboarding/OnboardingView.h"

#include "packages/GlobalShortcuts/ApplicationShortcuts.h"

#include "Services/PermissionManager.h"
#include "platform/core/Log.h"
#include "platform/desktop/Permissions.h"
#include "platform/desktop/Workspace.h"
#include "resources/Symbol.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace zentola {
namespace {

QLabel* text(const QString& s, double scale = 1.0, bool bold = false, bool secondary = false) {
    auto* label = new QLabel(s);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    if (secondary)
        label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QPushButton* prominent(const QString& title) {
    auto* button = new QPushButton(title);
    button->setDefault(true);
    button->setMinimumHeight(32);
    button->setMinimumWidth(180);
    return button;
}

}  // namespace

OnboardingView::Environment OnboardingView::Environment::system() {
    Environment env;
    env.preflightScreenCapture = [] { return platform::Permissions::preflightScreenCapture(); };
    env.isAccessibilityTrusted = [] { return platform::Permissions::isAccessibilityTrusted(); };
    env.hasMicrophonePermission = [] { return PermissionManager::shared().hasMicrophonePermission(); };
    env.requestMicrophonePermission = [] { return PermissionManager::shared().requestMicrophonePermission(); };
    env.openAccessibilitySettings = [] {
        return platform::Workspace::openSettings(platform::Workspace::SettingsPage::accessibility);
    };
    env.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    env.applicationFilePath = [] { return QCoreApplication::applicationFilePath(); };
    env.processId = [] { return QCoreApplication::applicationPid(); };
    env.quit = [] { QCoreApplication::quit(); };
    return env;
}

OnboardingView::OnboardingView(std::function<void()> onComplete, Environment environment, QWidget* parent)
    : QWidget(parent), onComplete_(std::move(onComplete)), env_(std::move(environment)) {
    setFixedSize(500, 440);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(0);
    column->setContentsMargins(0, 20, 0, 0);

    auto* dotRow = new QHBoxLayout;
    dotRow->setSpacing(8);
    dotRow->addStretch(1);
    for (QLabel*& dot : dots_) {
        dot = new QLabel;
        dot->setFixedSize(8, 8);
        dotRow->addWidget(dot);
    }
    dotRow->addStretch(1);
    column->addLayout(dotRow);

    pages_ = new QStackedWidget;
    pages_->addWidget(welcomeStep());
    pages_->addWidget(permissionsStep());
    column->addWidget(pages_, 1);

    readPermissions(true);
}

QWidget* OnboardingView::welcomeStep() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setSpacing(24);
    column->setContentsMargins(40, 40, 40, 40);
    column->addStretch(1);
    auto* icon = new QLabel;
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(Symbol::pixmap(QStringLiteral("camera.viewfinder"), 64, page->palette().color(QPalette::Highlight),
                                   devicePixelRatioF()));
    column->addWidget(icon);
    column->addWidget(text(QStringLiteral("Welcome to Zentola"), 2.0, true));
    QLabel* tagline = text(QString(), 1.0, false, true);
    GlobalShortcuts::followKeyboardLayout(tagline, [] {
        return QStringLiteral("Fast, minimal screen capture.\nJust press %1 to capture.")
            .arg(GlobalShortcuts::applicationDefaultText(GlobalShortcuts::Name::openOverlay()));
    });
    column->addWidget(tagline);
    getStarted_ = prominent(QStringLiteral("Get Started"));
    connect(getStarted_, &QPushButton::clicked, this, &OnboardingView::goToPermissions);
    column->addWidget(getStarted_, 0, Qt::AlignHCenter);
    column->addSpacing(40);
    return page;
}

QWidget* OnboardingView::permissionsStep() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setSpacing(16);
    column->setContentsMargins(0, 24, 0, 0);
    column->addWidget(text(QStringLiteral("Permissions Required"), 1.5, true));
    column->addWidget(text(QStringLiteral("Zentola needs these permissions to work."), 1.0, false, true));

    auto* list = new QFrame;
    list->setObjectName(QStringLiteral("permissionList"));
    list->setStyleSheet(QStringLiteral("#permissionList { border-radius: 12px; background-color: rgba(128,128,128,40); }"));
    auto* rows = new QVBoxLayout(list);
    rows->setSpacing(0);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->addWidget(permissionRow(QStringLiteral("Screen Recording"), QStringLiteral("Required to capture your screen."),
                                  true, 0, nullptr));
    for (int i : {1, 2}) {
        auto* divider = new QFrame;
        divider->setObjectName(QStringLiteral("rowDivider"));
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Sunken);  // the theme's etched line; a plain one is black
        auto* padded = new QHBoxLayout;
        padded->setContentsMargins(16, 0, 16, 0);
        padded->addWidget(divider);
        rows->addLayout(padded);
        if (i == 1)
        {
            auto required = [] {
                return QStringLiteral("Required for global shortcut %1.")
                    .arg(GlobalShortcuts::applicationDefaultText(GlobalShortcuts::Name::openOverlay()));
            };
            QWidget* row = permissionRow(QStringLiteral("Accessibility"), required(), true, 1,
                                         [this] { openAccessibilitySettings(); });
            for (QLabel* label : row->findChildren<QLabel*>())
                if (label->text() == required())
                    GlobalShortcuts::followKeyboardLayout(label, required);
            rows->addWidget(row);
        }
        else
            rows->addWidget(permissionRow(QStringLiteral("Microphone"), QStringLiteral("Optional for voice recording."),
                                          false, 2, [this] { requestMicrophonePermission(); }));
    }
    auto* listRow = new QHBoxLayout;
    listRow->setContentsMargins(24, 0, 24, 0);
    listRow->addWidget(list);
    column->addLayout(listRow);
    column->addStretch(1);

    auto* footer = new QVBoxLayout;
    footer->setSpacing(12);
    start_ = prominent(QStringLiteral("Start Using Zentola"));
    connect(start_, &QPushButton::clicked, this, [this] {
        stopPermissionPolling();
        if (onComplete_)
            onComplete_();
    });
    restartNotice_ = text(QStringLiteral("Permission granted! Restart required for changes to take effect."), 0.85,
                          false, true);
    quitAndReopen_ = prominent(QStringLiteral("Quit and Reopen"));
    connect(quitAndReopen_, &QPushButton::clicked, this, &OnboardingView::quitAndReopen);
    grantBoth_ = text(QStringLiteral("Grant both permissions to continue."), 0.85, false, true);
    footer->addWidget(start_, 0, Qt::AlignHCenter);
    footer->addWidget(restartNotice_);
    footer->addWidget(quitAndReopen_, 0, Qt::AlignHCenter);
    footer->addWidget(grantBoth_);
    column->addLayout(footer);
    column->addSpacing(24);
    return page;
}

QWidget* OnboardingView::permissionRow(const QString& title, const QString& description, bool isRequired, int index,
                                       std::function<void()> action) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setSpacing(12);
    layout->setContentsMargins(16, 16, 16, 16);
    static const char* const symbols[] = {"rectangle.dashed.badge.record", "keyboard", "mic"};
    static const QColor colors[] = {QColor(0xff, 0x95, 0x00), QColor(0x00, 0x7a, 0xff), QColor(0x34, 0xc7, 0x59)};
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("rowSymbol"));
    icon->setFixedWidth(36);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(Symbol::pixmap(QString::fromLatin1(symbols[index]), 24, colors[index], devicePixelRatioF()));
    layout->addWidget(icon);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* heading = new QHBoxLayout;
    heading->setSpacing(4);
    auto* name = new QLabel(title);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    heading->addWidget(name);
    if (isRequired) {
        auto* badge = new QLabel(QStringLiteral("Required"));
        badge->setStyleSheet(QStringLiteral(
            "QLabel { color: white; background-color: #f5a623; border-radius: 7px; padding: 2px 4px; font-size: 9px; }"));
        heading->addWidget(badge);
    }
    heading->addStretch(1);
    texts->addLayout(heading);
    auto* detail = new QLabel(description);
    detail->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);

    rows_[index].check = new QLabel;
    rows_[index].check->setPixmap(
        Symbol::pixmap(QStringLiteral("checkmark.circle.fill"), 20, colors[2], devicePixelRatioF()));
    layout->addWidget(rows_[index].check);
    if (!action) {
        // The X server grants screen access to every client of the display: there is no setting to
        // open, and no access only when the display cannot be reached.
        rows_[index].note = new QLabel(QStringLiteral("No access to the display"));
        rows_[index].note->setForegroundRole(QPalette::PlaceholderText);
        layout->addWidget(rows_[index].note);
        return row;
    }
    rows_[index].button = new QPushButton(QStringLiteral("Open Settings"));
    connect(rows_[index].button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    layout->addWidget(rows_[index].button);
    return row;
}

void OnboardingView::goToPermissions() {
    currentStep_ = OnboardingStep::permissions;
    startPermissionPolling();
    updateView();
}

void OnboardingView::refreshPermissions() {
    readPermissions(false);
}

void OnboardingView::readPermissions(bool initial) {
    const bool screen = env_.preflightScreenCapture();
    const bool keyboard = env_.isAccessibilityTrusted();
    const bool microphone = env_.hasMicrophonePermission();
    if (!initial && ((screen && !hasScreenRecording_) || (keyboard && !hasAccessibility_) ||
                     (microphone && !hasMicrophone_)))
        permissionsChanged_ = true;
    hasScreenRecording_ = screen;
    hasAccessibility_ = keyboard;
    hasMicrophone_ = microphone;
    updateView();
}

void OnboardingView::updateView() {
    pages_->setCurrentIndex(currentStep_ == OnboardingStep::welcome ? 0 : 1);
    const int stepIndex = int(currentStep_);
    for (int i = 0; i < 2; ++i)
        dots_[i]->setStyleSheet(i <= stepIndex ? QStringLiteral("background-color: palette(highlight); border-radius: 4px;")
                                               : QStringLiteral("background-color: rgba(128,128,128,77); border-radius: 4px;"));
    const bool granted[] = {hasScreenRecording_, hasAccessibility_, hasMicrophone_};
    for (int i = 0; i < 3; ++i) {
        rows_[i].check->setVisible(granted[i]);
        if (rows_[i].button)
            rows_[i].button->setVisible(!granted[i]);
        if (rows_[i].note)
            rows_[i].note->setVisible(!granted[i]);
    }
    // Only the two required permissions decide the footer.
    const bool ready = hasScreenRecording_ && hasAccessibility_;
    start_->setVisible(ready);
    restartNotice_->setVisible(!ready && permissionsChanged_);
    quitAndReopen_->setVisible(!ready && permissionsChanged_);
    grantBoth_->setVisible(!ready && !permissionsChanged_);
}

void OnboardingView::startPermissionPolling() {
    stopPermissionPolling();
    permissionTimer_ = new QTimer(this);
    permissionTimer_->setInterval(1000);
    connect(permissionTimer_, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(this, &OnboardingView::refreshPermissions, Qt::QueuedConnection);
    });
    permissionTimer_->start();
}

void OnboardingView::stopPermissionPolling() {
    if (!permissionTimer_)
        return;
    permissionTimer_->stop();
    permissionTimer_->deleteLater();
    permissionTimer_ = nullptr;
}

void OnboardingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window minimised while the user grants a permission elsewhere comes back polling, with
    // what changed meanwhile.
    if (currentStep_ == OnboardingStep::permissions && !permissionTimer_) {
        refreshPermissions();
        startPermissionPolling();
    }
}

void OnboardingView::hideEvent(QHideEvent* event) {
    stopPermissionPolling();
    QWidget::hideEvent(event);
}

void OnboardingView::openAccessibilitySettings() {
    env_.openAccessibilitySettings();
    startPermissionPolling();
}

void OnboardingView::requestMicrophonePermission() {
    QPointer<OnboardingView> self(this);
    [](QPointer<OnboardingView> self) -> QCoro::Task<void> {
        try {
            co_await self->env_.requestMicrophonePermission();
        } catch (const std::exception& e) {
            platform::logLine(std::string("[Zentola] Microphone request failed: ") + e.what());
        }
        if (self)
            self->refreshPermissions();
    }(self);
}

QString OnboardingView::reopenCommand(const QString& path, qint64 pid) {
    // Single quotes keep every character of the path literal; a quote inside is closed, escaped
    // and reopened.
    QString quoted = path;
    quoted.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
    // The new copy starts once this one has ended (for at most 10 s): while it runs, a new copy
    // would find it and leave at once.
    return QStringLiteral("sleep 0.5; i=0; while kill -0 %1 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; "
                          "i=$((i+1)); done; exec '%2'")
        .arg(pid)
        .arg(quoted);
}

void OnboardingView::quitAndReopen() {
    const QString command = reopenCommand(env_.applicationFilePath(), env_.processId());
    if (!env_.startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command})) {
        // Quitting now would leave the user with no application at all.
        platform::logLine("[Zentola] Could not start the relaunch: /bin/sh -c " + command.toStdString());
        return;
    }
    env_.quit();
}

}  // namespace zentola
