#include "Models/SelectionRect.h"

#include "platform/display/FakeScreenProvider.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace zentola;
using platform::FakeScreenProvider;

TEST(SelectionRectJsonTest, EncodesTheThreeKeysWithArrays) {
    const SelectionRect r{QPointF(120, 80), QSizeF(640, 360), 1};
    const QJsonDocument doc = QJsonDocument::fromJson(r.toJson());
    ASSERT_TRUE(doc.isObject());
    const QJsonObject o = doc.object();
    EXPECT_EQ(o.keys(), (QStringList{"origin", "screenDisplayID", "size"}));
    EXPECT_EQ(o.value("origin").toArray(), (QJsonArray{120, 80}));
    EXPECT_EQ(o.value("size").toArray(), (QJsonArray{640, 360}));
    EXPECT_TRUE(o.value("screenDisplayID").isDouble());
    EXPECT_EQ(o.value("screenDisplayID").toDouble(), 1.0);
}

TEST(SelectionRectJsonTest, RoundTripKeepsEveryFieldExactly) {
    for (const SelectionRect& r : {SelectionRect{QPointF(120.25, 80.5), QSizeF(640.125, 360.75), 1},
                                   SelectionRect{QPointF(-30.5, 1e-3), QSizeF(-200, -100), 0xFFFFFFFFu},
                                   SelectionRect{QPointF(0.1, 0.2), QSizeF(0.3, 1.0 / 3.0), 77}}) {
        auto back = SelectionRect::fromJson(r.toJson());
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(*back == r);
    }
    // Equality is exact, not approximate.
    SelectionRect a{QPointF(1, 1), QSizeF(1, 1), 1};
    SelectionRect b = a;
    b.origin.setX(1 + 1e-12);
    EXPECT_FALSE(a == b);
}

TEST(SelectionRectJsonTest, DecodingRequiresAllThreeKeysInTheirShapes) {
    EXPECT_TRUE(SelectionRect::fromJson(R"({"screenDisplayID":1,"size":[640,360],"origin":[120,80]})").has_value());
    for (const char* bad : {
             R"({"origin":[120,80],"size":[640,360]})",
             R"({"origin":[120,80],"screenDisplayID":1})",
             R"({"size":[640,360],"screenDisplayID":1})",
             R"({"origin":[120],"size":[640,360],"screenDisplayID":1})",
             R"({"origin":[120,80,3],"size":[640,360],"screenDisplayID":1})",
             R"({"origin":{"x":120,"y":80},"size":[640,360],"screenDisplayID":1})",
             R"({"origin":["120","80"],"size":[640,360],"screenDisplayID":1})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":"1"})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":-1})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":1.5})",
             R"({"origin":[120,80],"size":[640,360],"screenDisplayID":4294967296})",
             R"([120,80])",
             "not json",
             "",
         })
        EXPECT_FALSE(SelectionRect::fromJson(bad).has_value()) << bad;
}

TEST(SelectionRectScreenTest, FindsTheConnectedDisplayWithItsNumber) {
    auto fake = FakeScreenProvider::install();
    fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 5),
                                 FakeScreenProvider::display("B", QRect(1920, 0, 1920, 1080), 9),
                                 FakeScreenProvider::display("C", QRect(3840, 0, 1920, 1080), 9)});
    const SelectionRect onB{QPointF(10, 10), QSizeF(100, 100), 9};
    // The first display with the number, in list order.
    EXPECT_EQ(onB.screen(), fake->list[1]);
    EXPECT_EQ((SelectionRect{QPointF(), QSizeF(), 5}).screen(), fake->list[0]);
    EXPECT_EQ((SelectionRect{QPointF(), QSizeF(), 6}).screen(), nullptr);

    // After B and C are disconnected the rectangle no longer has a display.
    fake->setDisplays({FakeScreenProvider::display("A", QRect(0, 0, 1920, 1080), 5)});
    EXPECT_EQ(onB.screen(), nullptr);
}
