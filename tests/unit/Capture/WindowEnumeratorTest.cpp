#include "Features/Capture/WindowEnumerator.h"
#include "unit/Capture/FakeCaptureProvider.h"

#include <gtest/gtest.h>

using namespace zentola;

namespace {

platform::WindowListEntry entry(quint32 number, qint32 pid, QRectF bounds, int layer, std::optional<QString> name = "w") {
    platform::WindowListEntry e;
    e.number = number;
    e.ownerPID = pid;
    e.bounds = bounds;
    e.layer = layer;
    e.name = std::move(name);
    e.ownerName = QStringLiteral("owner%1").arg(pid);
    e.isOnscreen = true;
    return e;
}

std::vector<quint32> ids(const std::vector<WindowInfo>& list) {
    std::vector<quint32> v;
    for (const auto& w : list)
        v.push_back(w.id);
    return v;
}

}  // namespace

TEST(WindowEnumerator, LeavesOutOwnSmallBelowDesktopAndIncompleteEntries) {
    const qint32 own = 4242;
    std::vector<platform::WindowListEntry> entries{
        entry(1, 10, QRectF(0, 0, 50, 50), 0),      // exactly 50 x 50: kept
        entry(2, 10, QRectF(0, 0, 49, 200), 0),     // too narrow
        entry(3, 10, QRectF(0, 0, 200, 49.5), 0),   // too low
        entry(4, own, QRectF(0, 0, 800, 600), 0),   // ours
        entry(5, own, QRectF(0, 0, 800, 600), 25),  // ours, high layer
        entry(6, 11, QRectF(0, 0, 800, 600), -1),   // below the desktop
        entry(7, 12, QRectF(10, 20, 300, 200), 0, std::nullopt),
    };
    auto incomplete = entry(8, 13, QRectF(0, 0, 500, 500), 0);
    incomplete.layer.reset();
    entries.push_back(incomplete);
    auto noOwner = entry(9, 13, QRectF(0, 0, 500, 500), 0);
    noOwner.ownerPID.reset();
    entries.push_back(noOwner);
    auto unknownScreenState = entry(10, 14, QRectF(0, 0, 500, 500), 0);
    unknownScreenState.isOnscreen.reset();
    unknownScreenState.ownerName.reset();
    entries.push_back(unknownScreenState);

    const auto list = WindowEnumerator::windows(entries, own);
    EXPECT_EQ(ids(list), (std::vector<quint32>{1, 7, 10}));
    EXPECT_FALSE(list[1].title);
    EXPECT_EQ(list[1].frame, QRectF(10, 20, 300, 200));
    EXPECT_EQ(list[1].ownerName, QStringLiteral("owner12"));
    EXPECT_EQ(list[1].ownerPID, 12);
    EXPECT_TRUE(list[1].isOnScreen);
    EXPECT_FALSE(list[2].isOnScreen);
    EXPECT_FALSE(list[2].ownerName);
}

TEST(WindowEnumerator, HigherLayersComeFirstAndEqualLayersKeepFrontToBackOrder) {
    const auto list = WindowEnumerator::windows(
        {
            entry(1, 10, QRectF(0, 0, 100, 100), 0),
            entry(2, 11, QRectF(0, 0, 100, 100), 3),
            entry(3, 12, QRectF(0, 0, 100, 100), 0),
            entry(4, 13, QRectF(0, 0, 100, 100), 20),
            entry(5, 14, QRectF(0, 0, 100, 100), 3),
            entry(6, 15, QRectF(0, 0, 100, 100), 0),
        },
        1);
    EXPECT_EQ(ids(list), (std::vector<quint32>{4, 2, 5, 1, 3, 6}));
}

TEST(WindowEnumerator, AsksTheInstalledProviderEachTime) {
    auto provider = std::make_shared<FakeCaptureProvider>();
    platform::ScreenCaptureProvider::install(provider);
    WindowEnumerator enumerator(99);
    provider->entries = {entry(1, 10, QRectF(0, 0, 100, 100), 0)};
    EXPECT_EQ(ids(enumerator.getWindows()), std::vector<quint32>{1});
    provider->entries = {entry(2, 99, QRectF(0, 0, 100, 100), 0), entry(3, 10, QRectF(0, 0, 100, 100), 0)};
    EXPECT_EQ(ids(enumerator.getWindows()), std::vector<quint32>{3});
    platform::ScreenCaptureProvider::install(nullptr);
}
