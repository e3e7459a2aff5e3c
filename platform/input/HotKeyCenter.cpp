#include "platform/input/HotKeyCenter.h"

#include "platform/input/X11HotKeyCenter.h"

namespace platform {

namespace {
HotKeyCenter* replacement = nullptr;
}

HotKeyCenter& HotKeyCenter::shared() {
    if (replacement)
        return *replacement;
    static X11HotKeyCenter center;
    return center;
}

void HotKeyCenter::setShared(HotKeyCenter* center) { replacement = center; }

}  // namespace platform
