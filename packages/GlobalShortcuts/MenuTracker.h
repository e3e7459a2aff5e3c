#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

namespace GlobalShortcuts {

// Tells whether any menu or other popup of the application is open (a combo box's list), from their
// show and hide events. A popup grabs the keyboard while it is open, so global hot keys cannot reach
// us meanwhile.
class MenuTracker : public QObject {
    Q_OBJECT
public:
    // Installs the one tracker for the application's life; false without an application.
    static bool install(std::function<void(bool open)> onChange);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MenuTracker(std::function<void(bool)> onChange);
    void forget(QObject* menu);
    void update();

    std::function<void(bool)> onChange_;
    // Held as plain objects: a popup tells of its end when it is no longer a widget.
    std::vector<QPointer<QObject>> open_;
};

}  // namespace GlobalShortcuts
