#include "packages/GlobalShortcuts/Localization.h"

#include "resources/shortcuts/ShortcutTexts.h"

namespace GlobalShortcuts {

QString localized(const QString& key) { return ShortcutTexts::text(key).value_or(key); }

QString localizedFormat(const QString& key, const QString& argument) {
    QString format = localized(key);
    int at = format.indexOf(QLatin1String("%@"));
    if (at < 0)
        return format;
    return format.replace(at, 2, argument);
}

}  // namespace GlobalShortcuts
