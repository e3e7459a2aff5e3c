#include "Models/CaptureMode.h"
#include "Models/CaptureType.h"
#include "Models/CapturedImage.h"
#include "Models/WindowInfo.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <unordered_set>

using namespace zentola;

TEST(CaptureModeTest, RawValuesNamesIconsAndOrder) {
    const auto cases = CaptureMode::allCases();
    ASSERT_EQ(cases.size(), 3u);
    EXPECT_EQ(cases[0], CaptureMode::screen);
    EXPECT_EQ(cases[1], CaptureMode::window);
    EXPECT_EQ(cases[2], CaptureMode::rect);
    EXPECT_EQ(CaptureMode(CaptureMode::screen).rawValue(), "screen");
    EXPECT_EQ(CaptureMode(CaptureMode::window).rawValue(), "window");
    EXPECT_EQ(CaptureMode(CaptureMode::rect).rawValue(), "rect");
    EXPECT_EQ(CaptureMode(CaptureMode::screen).displayName(), "Screen");
    EXPECT_EQ(CaptureMode(CaptureMode::window).displayName(), "Window");
    EXPECT_EQ(CaptureMode(CaptureMode::rect).displayName(), "Area");
    EXPECT_EQ(CaptureMode(CaptureMode::screen).iconName(), "rectangle.dashed");
    EXPECT_EQ(CaptureMode(CaptureMode::window).iconName(), "macwindow");
    EXPECT_EQ(CaptureMode(CaptureMode::rect).iconName(), "crop");
    std::unordered_set<CaptureMode> set(cases.begin(), cases.end());
    EXPECT_EQ(set.size(), 3u);
}

TEST(CaptureModeTest, FromRawValueAcceptsOnlyTheExactLowerCaseTexts) {
    for (CaptureMode m : CaptureMode::allCases())
        EXPECT_EQ(CaptureMode::fromRawValue(m.rawValue()), m);
    EXPECT_FALSE(CaptureMode::fromRawValue("Screen").has_value());
    EXPECT_FALSE(CaptureMode::fromRawValue("Area").has_value());
    EXPECT_FALSE(CaptureMode::fromRawValue(" rect").has_value());
    EXPECT_FALSE(CaptureMode::fromRawValue("").has_value());
}

TEST(CaptureTypeTest, RawValues) {
    EXPECT_EQ(CaptureType(CaptureType::photo).rawValue(), "photo");
    EXPECT_EQ(CaptureType(CaptureType::video).rawValue(), "video");
    EXPECT_EQ(CaptureType::fromRawValue("video"), CaptureType::video);
    EXPECT_FALSE(CaptureType::fromRawValue("Photo").has_value());
}

TEST(WindowInfoTest, IdentityIsTheWindowNumberAlone) {
    WindowInfo a{42, QString("Editor"), QString("Writer"), 100, QRectF(0, 0, 800, 600), 0, true};
    WindowInfo sameIdOtherFields{42, QString("Other title"), std::nullopt, 7, QRectF(10, 20, 30, 40), 3, false};
    WindowInfo otherIdSameFields = a;
    otherIdSameFields.id = 43;
    EXPECT_TRUE(a == sameIdOtherFields);
    EXPECT_FALSE(a == otherIdSameFields);
    EXPECT_TRUE(a != otherIdSameFields);
}

namespace {

// Left half red, right half blue: a crop would lose one colour, a scale keeps both halves.
platform::Image halves(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h, Qt::red);
    p.fillRect(w / 2, 0, w - w / 2, h, Qt::blue);
    p.end();
    return platform::Image(platform::Bitmap::fromQImage(img));
}

QColor pixel(const platform::Image& image, int x, int y) {
    return image.bitmap()->asQImage().pixelColor(x, y);
}

}  // namespace

TEST(CapturedImageTest, ThumbnailLongerSideIs300Points) {
    struct Case {
        int w, h;
        QSizeF expected;
    };
    for (const Case& c : {Case{3000, 1500, {300, 150}}, Case{1500, 3000, {150, 300}}, Case{1000, 1000, {300, 300}},
                          Case{200, 100, {300, 150}}}) {
        CapturedImage captured{halves(c.w, c.h), QDateTime::currentDateTime(), CaptureMode::screen, nullptr, {}};
        const platform::Image thumb = captured.thumbnailImage();
        ASSERT_FALSE(thumb.isNull());
        EXPECT_EQ(thumb.size(), c.expected) << c.w << "x" << c.h;
        EXPECT_EQ(thumb.bitmap()->width(), int(c.expected.width()));
        EXPECT_EQ(thumb.bitmap()->height(), int(c.expected.height()));
        // The source bitmap is left as it was.
        EXPECT_EQ(captured.image.bitmap()->width(), c.w);
    }
}

TEST(CapturedImageTest, ThumbnailScalesTheWholeBitmapRatherThanCropping) {
    CapturedImage captured{halves(3000, 1500), QDateTime::currentDateTime(), CaptureMode::rect, nullptr, {}};
    const platform::Image thumb = captured.thumbnailImage();
    ASSERT_EQ(thumb.bitmap()->width(), 300);
    EXPECT_EQ(pixel(thumb, 10, 75), QColor(Qt::red));
    EXPECT_EQ(pixel(thumb, 140, 75), QColor(Qt::red));
    EXPECT_EQ(pixel(thumb, 160, 75), QColor(Qt::blue));
    EXPECT_EQ(pixel(thumb, 290, 140), QColor(Qt::blue));
}

TEST(CapturedImageTest, ThumbnailAtTwoPixelsPerPointAndWithoutPicture) {
    CapturedImage captured{halves(1500, 3000), QDateTime::currentDateTime(), CaptureMode::rect, nullptr, {}};
    const platform::Image thumb = captured.thumbnailImage(2.0);
    EXPECT_EQ(thumb.size(), QSizeF(150, 300));
    EXPECT_EQ(thumb.bitmap()->width(), 300);
    EXPECT_EQ(thumb.bitmap()->height(), 600);

    // A one-pixel-high strip still yields a picture with at least one row.
    CapturedImage strip{halves(3000, 1), QDateTime::currentDateTime(), CaptureMode::rect, nullptr, {}};
    EXPECT_EQ(strip.thumbnailImage().bitmap()->height(), 1);

    CapturedImage empty{};
    EXPECT_TRUE(empty.thumbnailImage().isNull());
}
