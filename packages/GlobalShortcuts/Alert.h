#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace GlobalShortcuts {

// A warning with a message, an optional informative text and buttons in order. It runs as a sheet
// on a window (window-modal), or application-modal without one, and returns once it is closed:
// 1000 for the first button, 1001 for the second, and so on.
class Alert {
public:
    static constexpr int firstButtonReturn = 1000;

    QString messageText;
    QString informativeText;
    QStringList buttons;  // none: a single OK button

    int runModal(QWidget* window) const;
};

}  // namespace GlobalShortcuts
