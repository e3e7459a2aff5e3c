#include "packages/GlobalShortcuts/Constants.h"

#include <QtGlobal>

namespace GlobalShortcuts {

bool Constants::isSandboxed() {
    static const bool sandboxed = qEnvironmentVariableIsSet("APP_SANDBOX_CONTAINER_ID");
    return sandboxed;
}

const QSet<int>& Constants::functionKeys() {
    static const QSet<int> keys = [] {
        QSet<int> s;
        for (int k = Qt::Key_F1; k <= Qt::Key_F35; ++k)
            s.insert(k);
        return s;
    }();
    return keys;
}

}  // namespace GlobalShortcuts
