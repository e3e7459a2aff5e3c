#pragma once

#include "Features/Settings/SettingsTab.h"
#include "Features/Settings/VideoSettingsContent.h"
#include "platform/core/NotificationCenter.h"

#include <QWidget>

#include <functional>
#include <optional>

class QListWidget;
class QVBoxLayout;

namespace zentola {

class PermissionManager;
class PersistenceManager;

// The settings window's content: a sidebar of the five tabs and the selected tab's page, made anew
// (with the stored values of that moment) at each selection.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    struct Dependencies {
        std::function<PersistenceManager&()> persistence;
        std::function<PermissionManager&()> permissionManager;
        VideoSettingsContent::MicrophoneStatus microphoneStatus;

        static Dependencies system();
    };

    // Posted on the default notification center to switch an open settings window to About.
    static inline const QString selectAboutTab = QStringLiteral("selectAboutTab");

    explicit SettingsView(Dependencies dependencies = Dependencies::system(), QWidget* parent = nullptr);
    ~SettingsView() override;

    SettingsTab selectedTab() const { return selectedTab_; }
    void setSelectedTab(std::optional<SettingsTab> tab);
    QListWidget* sidebar() const { return sidebar_; }
    // The page of the selected tab.
    QWidget* content() const { return content_; }
    // Room for the tallest and the widest page, so no tab opens with a part out of sight.
    QSize sizeHint() const override;

private:
    void showContent();
    QWidget* makeContent(SettingsTab tab) const;

    Dependencies deps_;
    SettingsTab selectedTab_ = SettingsTab::general;
    QListWidget* sidebar_;
    QVBoxLayout* detail_;
    QWidget* content_ = nullptr;
    platform::NotificationCenter::Token aboutObserver_ = 0;
    mutable QSize sizeHint_;
};

}  // namespace zentola
