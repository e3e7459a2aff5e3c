#include "platform/capture/X11Desktop.h"
#include "platform/capture/X11ScreenCaptureProvider.h"
#include "platform/core/Error.h"

#include <gtest/gtest.h>

#include <limits>

using platform::X11ScreenCaptureProvider;

namespace {

platform::ShareableDisplay at(QRect native, double scale) {
    platform::ShareableDisplay d;
    d.nativeGeometry = native;
    d.scaleFactor = scale;
    return d;
}

}  // namespace

TEST(CaptureGeometry, SourceRectanglesInPointsBecomeTheDisplaysPixels) {
    // No rectangle: the whole display, wherever it sits.
    EXPECT_EQ(X11ScreenCaptureProvider::nativeArea(at(QRect(-1920, 300, 1920, 1080), 1.0), QRectF()),
              QRect(-1920, 300, 1920, 1080));
    // Left of and below the origin, scale 1.
    EXPECT_EQ(X11ScreenCaptureProvider::nativeArea(at(QRect(-1920, 300, 1920, 1080), 1.0), QRectF(10, 20, 300, 200)),
              QRect(-1910, 320, 300, 200));
    // Right of it at scale 2: points double, the display's own origin stays in pixels.
    EXPECT_EQ(X11ScreenCaptureProvider::nativeArea(at(QRect(3840, 0, 3840, 2160), 2.0), QRectF(10.25, 20, 300.5, 200)),
              QRect(3861, 40, 601, 400));
    // Above, with a rectangle drawn up and to the left.
    EXPECT_EQ(X11ScreenCaptureProvider::nativeArea(at(QRect(0, -1080, 1920, 1080), 1.0), QRectF(310, 220, -300, -200)),
              QRect(10, -1060, 300, 200));
    // Never less than a pixel.
    EXPECT_EQ(X11ScreenCaptureProvider::nativeArea(at(QRect(0, 0, 1920, 1080), 1.0), QRectF(5, 5, 0.2, 0.2)).size(),
              QSize(1, 1));
}

TEST(CaptureGeometry, ImpossibleSourceRectanglesAreErrors) {
    const auto d = at(QRect(0, 0, 1920, 1080), 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_THROW(X11ScreenCaptureProvider::nativeArea(d, QRectF(0, 0, inf, 10)), platform::PlatformError);
    EXPECT_THROW(X11ScreenCaptureProvider::nativeArea(d, QRectF(std::nan(""), 0, 10, 10)), platform::PlatformError);
    EXPECT_THROW(X11ScreenCaptureProvider::nativeArea(d, QRectF(0, 0, 1e12, 10)), platform::PlatformError);
}

TEST(CaptureGeometry, WindowBoundsAreInPointsFromTheFirstDisplaysCorner) {
    // The first display need not sit at the X server's origin.
    platform::X11Desktop::Layout layout{QPoint(1920, 200), 1.0};
    EXPECT_EQ(layout.toPoints(QRect(2020, 300, 400, 300)), QRectF(100, 100, 400, 300));
    EXPECT_EQ(layout.toPoints(QRect(0, 0, 800, 600)), QRectF(-1920, -200, 800, 600));
    platform::X11Desktop::Layout doubled{QPoint(0, 0), 2.0};
    EXPECT_EQ(doubled.toPoints(QRect(200, 100, 1600, 1200)), QRectF(100, 50, 800, 600));
}
