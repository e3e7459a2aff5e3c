#include "resources/Bundle.h"

#include <QFile>
#include <QSettings>
#include <QStringDecoder>
#include <QSvgRenderer>

#include <gtest/gtest.h>

using namespace zentola;

TEST(BundleTest, BuiltInImagesResourcesAndInformationEntries) {
    for (const char* name : {"menubar-icon", "menubar-lips", "AppIcon"})
        EXPECT_TRUE(QSvgRenderer(Bundle::imagePath(name).value_or("")).isValid()) << name;
    // The pulsing layer is drawn exactly over the status icon.
    EXPECT_EQ(QSvgRenderer(*Bundle::imagePath("menubar-icon")).defaultSize(),
              QSvgRenderer(*Bundle::imagePath("menubar-lips")).defaultSize());
    EXPECT_FALSE(Bundle::imagePath("missing-icon") || Bundle::imagePath("../bundle/images/AppIcon") ||
                 Bundle::resourcePath("shutter", "wav") || Bundle::resourcePath("nothing", "txt"));

    QFile terms(Bundle::resourcePath("Terms", "txt").value_or(""));
    ASSERT_TRUE(terms.open(QIODevice::ReadOnly));
    QStringDecoder utf8(QStringDecoder::Utf8);
    EXPECT_GT(QString(utf8(terms.readAll())).trimmed().size(), 100);
    EXPECT_FALSE(utf8.hasError());

    EXPECT_EQ(Bundle::infoValue("CFBundleShortVersionString"), QString(EXPECTED_VERSION));
    EXPECT_EQ(Bundle::infoValue("CFBundleVersion"), QString(EXPECTED_BUILD_NUMBER));
    EXPECT_EQ(Bundle::infoValue("CFBundleIdentifier"), QString("com.zentola.Zentola"));
    EXPECT_FALSE(Bundle::infoValue("CFBundleName").has_value());
    // The desktop entry is named after the identifier and starts the program.
    QSettings entry(Bundle::resourcePath(Bundle::identifier(), "desktop").value_or(""), QSettings::IniFormat);
    EXPECT_EQ(entry.value("Desktop Entry/Exec").toString(), "ZentolaApp");
    EXPECT_EQ(entry.value("Desktop Entry/Icon").toString(), Bundle::identifier());
}
