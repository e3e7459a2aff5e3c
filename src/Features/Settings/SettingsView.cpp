#include "Features/Settings/SettingsView.h"

#include "Features/Settings/AboutSettingsContent.h"
#include "Features/Settings/GeneralSettingsContent.h"
#include "Features/Settings/ScreenshotSettingsContent.h"
#include "Features/Settings/ShortcutsSettingsContent.h"
#include "Services/PermissionManager.h"
#include "Services/PersistenceManager.h"
#include "platform/core/MainThread.h"
#include "platform/desktop/Permissions.h"
#include "resources/Symbol.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <memory>

namespace zentola {

SettingsView::Dependencies SettingsView::Dependencies::system() {
    Dependencies deps;
    deps.persistence = []() -> PersistenceManager& { return PersistenceManager::shared(); };
    deps.permissionManager = []() -> PermissionManager& { return PermissionManager::shared(); };
    deps.microphoneStatus = [] { return int(platform::Permissions::microphoneStatus()); };
    return deps;
}

SettingsView::SettingsView(Dependencies dependencies, QWidget* parent) : QWidget(parent), deps_(std::move(dependencies)) {
    setWindowTitle(QStringLiteral("Settings"));
    setMinimumSize(650, 450);
    auto* split = new QHBoxLayout(this);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);

    // A fixed column: the sidebar can neither be collapsed nor toggled away.
    sidebar_ = new QListWidget;
    sidebar_->setMinimumWidth(180);
    sidebar_->setMaximumWidth(220);
    sidebar_->setIconSize(QSize(18, 18));
    for (SettingsTab tab : SettingsTab::allCases()) {
        auto* row = new QListWidgetItem(Symbol::icon(tab.icon(), sidebar_->palette().color(QPalette::Text),
                                                     sidebar_->palette().color(QPalette::HighlightedText)),
                                        tab.label(), sidebar_);
        row->setData(Qt::UserRole, tab.rawValue());
    }
    split->addWidget(sidebar_);
    auto* detail = new QWidget;
    detail_ = new QVBoxLayout(detail);
    detail_->setContentsMargins(0, 0, 0, 0);
    split->addWidget(detail, 1);

    sidebar_->setCurrentRow(int(selectedTab_));
    showContent();
    connect(sidebar_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto selected = sidebar_->selectedItems();
        setSelectedTab(selected.isEmpty() ? std::nullopt
                                          : SettingsTab::fromRawValue(selected.front()->data(Qt::UserRole).toString()));
    });

    QPointer<SettingsView> self(this);
    aboutObserver_ = platform::NotificationCenter::defaultCenter().addObserver(selectAboutTab, [self](const QVariantMap&) {
        // Observers run on the posting thread; the view lives on the main one.
        platform::postToMain([self] {
            if (self)
                self->setSelectedTab(SettingsTab::about);
        });
    });
}

SettingsView::~SettingsView() {
    platform::NotificationCenter::defaultCenter().removeObserver(aboutObserver_);
}

void SettingsView::setSelectedTab(std::optional<SettingsTab> tab) {
    // No selection (a click on empty sidebar space) goes back to General.
    const SettingsTab next = tab.value_or(SettingsTab::general);
    const bool changed = next != selectedTab_ || !content_;
    selectedTab_ = next;
    if (sidebar_->currentRow() != int(next) || sidebar_->selectedItems().isEmpty()) {
        const QSignalBlocker block(sidebar_);
        sidebar_->setCurrentRow(int(next));
    }
    if (changed)
        showContent();
}

void SettingsView::showContent() {
    if (content_) {
        content_->hide();
        content_->deleteLater();
    }
    content_ = makeContent(selectedTab_);
    detail_->addWidget(content_);
}

QWidget* SettingsView::makeContent(SettingsTab tab) const {
    switch (tab) {
    case SettingsTab::general: return new GeneralSettingsContent(deps_.persistence());
    case SettingsTab::screenshots: return new ScreenshotSettingsContent(deps_.persistence());
    case SettingsTab::video:
        return new VideoSettingsContent(deps_.persistence(), deps_.permissionManager(), deps_.microphoneStatus);
    case SettingsTab::shortcuts: return new ShortcutsSettingsContent;
    case SettingsTab::about: return new AboutSettingsContent;
    }
    return nullptr;
}

QSize SettingsView::sizeHint() const {
    if (sizeHint_.isValid())
        return sizeHint_;
    // Each page measured once, as it would be shown: a scrolling page by its whole column.
    QSize pages;
    for (SettingsTab tab : SettingsTab::allCases()) {
        const std::unique_ptr<QWidget> page(makeContent(tab));
        const auto* area = qobject_cast<const QScrollArea*>(page.get());
        const int frame = area ? 2 * area->frameWidth() : 0;
        pages = pages.expandedTo(area && area->widget() ? area->widget()->sizeHint() + QSize(frame, frame) : page->sizeHint());
    }
    sizeHint_ = QSize(sidebar_->sizeHint().width() + pages.width(), pages.height()).expandedTo(minimumSize());
    return sizeHint_;
}

}  // namespace zentola
