#pragma once

#include "packages/GlobalShortcuts/Name.h"
#include "platform/core/NotificationCenter.h"

#include <QObject>

class QAction;

namespace GlobalShortcuts {

// Gives an action the stored shortcut of a name as its ordinary key sequence and follows every
// change; while any recorder records, the action has none, so the keys reach the recorder. Lives
// as a child of the action.
class GlobalKeyboardShortcut : public QObject {
    Q_OBJECT
public:
    GlobalKeyboardShortcut(QAction* action, const Name& name);
    ~GlobalKeyboardShortcut() override;

    bool isRecorderActive() const { return isRecorderActive_; }

private:
    void refresh();

    QAction* action_;
    Name name_;
    bool isRecorderActive_ = false;
    platform::NotificationCenter::Token changeObserver_ = 0;
    platform::NotificationCenter::Token recorderObserver_ = 0;
};

GlobalKeyboardShortcut* globalKeyboardShortcut(QAction* action, const Name& name);

}  // namespace GlobalShortcuts
