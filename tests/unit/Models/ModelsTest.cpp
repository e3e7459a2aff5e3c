#include "Models/CaptureMode.h"
#include "Models/CaptureType.h"
#include "Models/CapturedImage.h"
#include "Models/SelectionRect.h"
#include "Models/WindowInfo.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <gtest/gtest.h>

using namespace zentola;

// The stored modes themselves are read back by the settings tests.
TEST(CaptureModeTest, StoredFormsReadBackAndNothingElseDoes) {
    EXPECT_EQ(CaptureType::fromRawValue(CaptureType(CaptureType::video).rawValue()), CaptureType::video);
    EXPECT_FALSE(CaptureMode::fromRawValue("Screen") || CaptureType::fromRawValue("Photo"));
}

TEST(WindowInfoTest, IdentityIsTheWindowNumberAlone) {
    const WindowInfo a{42, QString("Editor"), QString("Writer"), 100, QRectF(0, 0, 800, 600), 0, true};
    EXPECT_TRUE(a == (WindowInfo{42, QString("Other"), std::nullopt, 7, QRectF(10, 20, 30, 40), 3, false}));
    EXPECT_FALSE(a == (WindowInfo{43, QString("Editor"), QString("Writer"), 100, QRectF(0, 0, 800, 600), 0, true}));
}

TEST(CapturedImageTest, ThumbnailScalesTheWholeBitmapToA300PointLongerSide) {
    struct Case { int w, h; double pixelsPerPoint; QSizeF points; QSize pixels; };
    for (const Case& c : {Case{3000, 1500, 1, {300, 150}, {300, 150}}, Case{1000, 1000, 1, {300, 300}, {300, 300}},
                          Case{1500, 3000, 2, {150, 300}, {300, 600}}, Case{3000, 1, 1, {300, 0.1}, {300, 1}}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        // The left quarter red, the rest blue: only a scale of the whole keeps the edge at a quarter.
        QImage source(c.w, c.h, QImage::Format_RGB32);
        source.fill(Qt::blue);
        QPainter(&source).fillRect(0, 0, c.w / 4, c.h, Qt::red);
        const CapturedImage captured{platform::Image(platform::Bitmap::fromQImage(source)), {}, CaptureMode::rect,
                                     nullptr, {}};
        const platform::Image thumb = captured.thumbnailImage(c.pixelsPerPoint);
        ASSERT_FALSE(thumb.isNull());
        EXPECT_EQ(thumb.size(), c.points);
        const QImage pixels = thumb.bitmap()->asQImage();
        EXPECT_EQ(pixels.size(), c.pixels);
        EXPECT_EQ(pixels.pixelColor(c.pixels.width() / 5, c.pixels.height() - 1), QColor(Qt::red));
        EXPECT_EQ(pixels.pixelColor(c.pixels.width() * 3 / 10, 0), QColor(Qt::blue));
    }
    EXPECT_TRUE(CapturedImage{}.thumbnailImage().isNull());
}

// Decoding needs all three keys in their shapes, with a display number that fits in 32 unsigned bits.
TEST(SelectionRectTest, EncodesAndDecodesExactlyAndRefusesAnythingElse) {
    EXPECT_EQ(QJsonDocument::fromJson(SelectionRect{QPointF(120, 80), QSizeF(640, 360), 1}.toJson()).object(),
              (QJsonObject{{"origin", QJsonArray{120, 80}}, {"size", QJsonArray{640, 360}}, {"screenDisplayID", 1}}));
    for (const SelectionRect& r : {SelectionRect{QPointF(120.25, 80.5), QSizeF(640.125, 360.75), 1},
                                   SelectionRect{QPointF(-30.5, 1e-3), QSizeF(-200, -100), 0xFFFFFFFFu},
                                   SelectionRect{QPointF(0.1, 0.2), QSizeF(0.3, 1.0 / 3.0), 77}})
        EXPECT_TRUE(SelectionRect::fromJson(r.toJson()) == r);
    // Equality is exact, unlike the toolkit's fuzzy point comparison.
    SelectionRect a{QPointF(1, 1), QSizeF(1, 1), 1}, b = a;
    b.origin.setX(1 + 1e-12);
    EXPECT_FALSE(a == b);

    for (const char* bad : {
             R"({"origin":[120,80],"size":[640,360]})",
             R"({"size":[640,360],"screenDisplayID":1})",
             R"({"origin":[120,80,3],"size":[640,360],"screenDisplayID":1})",
             R"({"origin":{"x":120,"y":80},"size":[640,360],"screenDisplayID":1})",
             R"({"origin":["120","80"],"size":[640,360],"screenDisplayID":1})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":"1"})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":-1})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":1.5})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":4294967296})",
             R"([120,80])",
             "not json",
         })
        EXPECT_FALSE(SelectionRect::fromJson(bad).has_value()) << bad;
}
