#pragma once

#include "FakeHotKeyCenter.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/NotificationCenter.h"
#include "platform/defaults/DefaultsStore.h"
#include "platform/input/KeyboardLayout.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// A fresh package over a private store, a fake hot-key service and a U.S. keyboard; keeps the names
// of the change notifications.
class PackageFixture : public testing::Test {
protected:
    void SetUp() override {
        GlobalShortcuts::setDefaultsStore(&store);
        platform::HotKeyCenter::setShared(&center);
        platform::KeyboardLayout::setCurrentForTesting(platform::KeyboardLayout::fromNames("us"));
        GlobalShortcuts::resetForTesting();
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            GlobalShortcuts::shortcutByNameDidChange, [this](const QVariantMap& info) {
                posted.push_back(info.value("name").value<GlobalShortcuts::Name>().rawValue());
            });
    }
    void TearDown() override {
        platform::NotificationCenter::defaultCenter().removeObserver(observer);
        GlobalShortcuts::resetForTesting();
        platform::KeyboardLayout::setCurrentForTesting(std::nullopt);
        platform::HotKeyCenter::setShared(nullptr);
        GlobalShortcuts::setDefaultsStore(nullptr);
    }
    static void turn() { QCoreApplication::processEvents(); }

    QTemporaryDir dir;
    platform::DefaultsStore store{dir.filePath("defaults.json")};
    FakeHotKeyCenter center;
    platform::NotificationCenter::Token observer = 0;
    std::vector<QString> posted;
};
