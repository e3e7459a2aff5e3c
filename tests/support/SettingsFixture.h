#pragma once

#include "Features/Settings/SettingsView.h"
#include "Services/PermissionManager.h"
#include "Services/PersistenceManager.h"
#include "platform/core/MainThread.h"
#include "platform/defaults/DefaultsStore.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

// A private settings store and a permission manager whose microphone answers what the test sets.
class SettingsFixture : public testing::Test {
protected:
    void SetUp() override {
        store = std::make_unique<platform::DefaultsStore>(dir.filePath("defaults.json"));
        persistence = std::make_unique<zentola::PersistenceManager>(*store);
        zentola::PermissionManager::Environment env;
        env.preflightScreenCapture = [] { return true; };
        env.bundleIdentifier = [] { return std::nullopt; };
        env.homeDirectory = [this] { return dir.path(); };
        env.fileExists = [](const QString&) { return false; };
        env.runProcess = [](const QString&, const QStringList&) { return platform::ProcessRunner::Result{}; };
        env.microphoneStatus = [this] { return microphoneStatus; };
        env.requestMicrophoneAccess = [this]() -> QCoro::Task<bool> {
            ++requests;
            co_return co_await pendingRequest;
        };
        env.openMicrophoneSettings = [this] { ++settingsOpened; };
        permissions = std::make_unique<zentola::PermissionManager>(env);
    }

    zentola::SettingsView::Dependencies dependencies() {
        return {[this]() -> zentola::PersistenceManager& { return *persistence; },
                [this]() -> zentola::PermissionManager& { return *permissions; }, [this] { return microphoneStatus; }};
    }

    // Chooses the picker item with the given text, as a click on it would.
    static void choose(QComboBox* picker, const QString& text) {
        const int index = picker->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        picker->setCurrentIndex(index);
    }
    static void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    std::unique_ptr<platform::DefaultsStore> store;
    std::unique_ptr<zentola::PersistenceManager> persistence;
    std::unique_ptr<zentola::PermissionManager> permissions;
    int microphoneStatus = 3;
    int requests = 0;
    int settingsOpened = 0;
    platform::Completion<bool> pendingRequest;
};
