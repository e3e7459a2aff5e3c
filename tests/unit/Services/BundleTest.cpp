#include "resources/Bundle.h"

#include <QSettings>
#include <QSvgRenderer>

#include <gtest/gtest.h>

using namespace zentola;

TEST(BundleTest, BuiltInImagesDesktopEntryAndIdentifier) {
    for (const char* name : {"menubar-icon", "menubar-lips", "AppIcon"})
        EXPECT_TRUE(QSvgRenderer(Bundle::imagePath(name).value_or("")).isValid()) << name;
    // The pulsing layer is drawn exactly over the status icon.
    EXPECT_EQ(QSvgRenderer(*Bundle::imagePath("menubar-icon")).defaultSize(),
              QSvgRenderer(*Bundle::imagePath("menubar-lips")).defaultSize());
    EXPECT_FALSE(Bundle::imagePath("missing-icon") || Bundle::imagePath("../bundle/images/AppIcon") ||
                 Bundle::resourcePath("shutter", "wav") || Bundle::resourcePath("nothing", "txt") ||
                 Bundle::infoValue("CFBundleName"));
    EXPECT_EQ(Bundle::infoValue("CFBundleIdentifier"), QString("com.zentola.Zentola"));
    // The desktop entry is named after the identifier and starts the program.
    QSettings entry(Bundle::resourcePath(Bundle::identifier(), "desktop").value_or(""), QSettings::IniFormat);
    EXPECT_EQ(entry.value("Desktop Entry/Exec").toString(), "ZentolaApp");
    EXPECT_EQ(entry.value("Desktop Entry/Icon").toString(), Bundle::identifier());
}
