#pragma once

#include "FakeHotKeyCenter.h"

#include "packages/GlobalShortcuts/GlobalShortcuts.h"
#include "platform/core/NotificationCenter.h"
#include "platform/defaults/DefaultsStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// A fresh package over a private store and a fake hot-key service; counts change notifications.
class PackageFixture : public testing::Test {
protected:
    void SetUp() override {
        store = std::make_unique<platform::DefaultsStore>(dir.filePath("defaults.json"));
        GlobalShortcuts::setDefaultsStore(store.get());
        platform::HotKeyCenter::setShared(&center);
        GlobalShortcuts::resetForTesting();
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            GlobalShortcuts::shortcutByNameDidChange, [this](const QVariantMap& info) {
                posted.push_back(info.value("name").value<GlobalShortcuts::Name>().rawValue());
            });
    }
    void TearDown() override {
        platform::NotificationCenter::defaultCenter().removeObserver(observer);
        GlobalShortcuts::resetForTesting();
        platform::HotKeyCenter::setShared(nullptr);
        GlobalShortcuts::setDefaultsStore(nullptr);
    }

    QTemporaryDir dir;
    std::unique_ptr<platform::DefaultsStore> store;
    FakeHotKeyCenter center;
    platform::NotificationCenter::Token observer = 0;
    std::vector<QString> posted;
};
