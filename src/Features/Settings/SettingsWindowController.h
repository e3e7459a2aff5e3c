#pragma once

#include "Features/Settings/SettingsView.h"

#include <QPointer>

namespace zentola {

// Opens the one settings window, or brings it to the front, and jumps to the About tab.
class SettingsWindowController {
public:
    static SettingsWindowController& shared();

    // Brings the window titled "Settings" forward, making it first if there is none.
    void show();
    // show(), then About a moment later.
    void showAbout();
    // The first window titled "Settings" on screen (minimised counts), if any.
    static QWidget* settingsWindow();

    SettingsView* window() const { return window_; }
    // How a new window is made (tests give their own dependencies).
    void setDependencies(SettingsView::Dependencies deps) { deps_ = std::move(deps); }

private:
    SettingsWindowController() = default;
    std::optional<SettingsView::Dependencies> deps_;
    QPointer<SettingsView> window_;
};

}  // namespace zentola
