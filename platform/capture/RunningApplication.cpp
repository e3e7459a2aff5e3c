#include "platform/capture/RunningApplication.h"

namespace platform {

QString RunningApplication::ownBundleIdentifier() { return QStringLiteral("com.zentola.Zentola"); }

}  // namespace platform
