#include "platform/desktop/WindowPlacement.h"
#include "resources/Bundle.h"

#include <QFile>
#include <QSettings>
#include <QStringDecoder>
#include <QSvgRenderer>

#include <gtest/gtest.h>

using namespace zentola;

TEST(BundleTest, ImagesAreBuiltInAndDrawable) {
    for (const char* name : {"menubar-icon", "menubar-lips", "AppIcon"}) {
        const auto path = Bundle::imagePath(name);
        ASSERT_TRUE(path.has_value()) << name;
        QSvgRenderer renderer(*path);
        EXPECT_TRUE(renderer.isValid()) << name;
    }
    // The pulsing layer is drawn exactly over the status icon.
    EXPECT_EQ(QSvgRenderer(*Bundle::imagePath("menubar-icon")).defaultSize(),
              QSvgRenderer(*Bundle::imagePath("menubar-lips")).defaultSize());
    EXPECT_FALSE(Bundle::imagePath("missing-icon").has_value());
    EXPECT_FALSE(Bundle::imagePath("../bundle/images/AppIcon").has_value());
}

TEST(BundleTest, ResourcesAndMissingOnes) {
    EXPECT_TRUE(Bundle::resourcePath("shutter", "aiff").has_value());
    EXPECT_FALSE(Bundle::resourcePath("shutter", "wav").has_value());
    EXPECT_FALSE(Bundle::resourcePath("nothing", "txt").has_value());

    const auto terms = Bundle::resourcePath("Terms", "txt");
    ASSERT_TRUE(terms.has_value());
    QFile file(*terms);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    EXPECT_FALSE(utf8.hasError());
    EXPECT_GT(text.trimmed().size(), 100);
}

TEST(BundleTest, InformationEntriesComeFromTheBuild) {
    EXPECT_EQ(Bundle::identifier(), "com.zentola.Zentola");
    EXPECT_EQ(Bundle::infoValue("CFBundleShortVersionString"), QString(EXPECTED_VERSION));
    EXPECT_EQ(Bundle::infoValue("CFBundleVersion"), QString(EXPECTED_BUILD_NUMBER));
    EXPECT_EQ(Bundle::infoValue("CFBundleIdentifier"), QString("com.zentola.Zentola"));
    EXPECT_FALSE(Bundle::infoValue("CFBundleName").has_value());

    // The desktop entry is named after the identifier and starts the program.
    const auto entry = Bundle::resourcePath(Bundle::identifier(), "desktop");
    ASSERT_TRUE(entry.has_value());
    QSettings desktop(*entry, QSettings::IniFormat);
    desktop.beginGroup("Desktop Entry");
    EXPECT_EQ(desktop.value("Type").toString(), "Application");
    EXPECT_EQ(desktop.value("Exec").toString(), "ZentolaApp");
    EXPECT_EQ(desktop.value("Icon").toString(), Bundle::identifier());
}

TEST(WindowPlacementTest, ScalesAboutTheScreensTopLeft) {
    using platform::WindowPlacement;
    // A screen at device (1920, 0) scaled by 2: its top-left stays, everything else halves.
    EXPECT_EQ(WindowPlacement::logicalFromNative(QRectF(1920, 0, 3840, 2160), QPoint(1920, 0), 2.0),
              QRectF(1920, 0, 1920, 1080));
    EXPECT_EQ(WindowPlacement::logicalFromNative(QRectF(2920, 200, 400, 100), QPoint(1920, 0), 2.0),
              QRectF(2420, 100, 200, 50));
    EXPECT_EQ(WindowPlacement::logicalFromNative(QRectF(5, 6, 7, 8), QPoint(0, 0), 0.0), QRectF(5, 6, 7, 8));
}
