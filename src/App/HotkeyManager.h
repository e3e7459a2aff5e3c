#pragma once

#include <QObject>

#include <functional>

namespace zentola {

// Binds the three capture shortcuts to the delegate's triggers through key-up handlers. The
// handlers hold the manager weakly: once it is gone they only log. A shortcut the desktop refuses
// (another program holds its keys) is told to the user with a desktop notice. Main thread only.
class HotkeyManager : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void()>;

    explicit HotkeyManager(QObject* parent = nullptr);

    void registerShortcuts(Callback onCapture, Callback onInstantCapture, Callback onQuickRecord);
    // Stops delivery of the three shortcuts; the stored combinations stay.
    void unregister();

    bool hasCallbacks() const { return captureCallback_ || instantCaptureCallback_ || quickRecordCallback_; }

private:
    Callback captureCallback_;
    Callback instantCaptureCallback_;
    Callback quickRecordCallback_;
};

}  // namespace zentola
