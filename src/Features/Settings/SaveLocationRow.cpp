#include "Features/Settings/SaveLocationRow.h"

#include "platform/desktop/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

namespace zentola {

SaveLocationRow::SaveLocationRow(std::function<QUrl()> folder, std::function<void(std::function<void(bool)>)> request,
                                 QWidget* parent)
    : QWidget(parent), folder_(std::move(folder)), request_(std::move(request)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    label_ = new QLabel;
    label_->setForegroundRole(QPalette::PlaceholderText);
    label_->setTextFormat(Qt::PlainText);
    button_ = new QPushButton(QStringLiteral("Change..."));
    layout->addWidget(label_);
    layout->addWidget(button_);
    connect(button_, &QPushButton::clicked, this, &SaveLocationRow::selectFolder);
    setFolder(folder_());
}

QString SaveLocationRow::displayName(const std::optional<QUrl>& folder, const QString& homePath) {
    if (!folder || folder->isEmpty())
        return QStringLiteral("Not set");
    const QString path = folder->toLocalFile();
    QString home = homePath;
    while (home.size() > 1 && home.endsWith('/'))
        home.chop(1);
    // Only a whole leading folder counts: /home/ann2 is not inside /home/ann.
    if (!home.isEmpty() && (path == home || path.startsWith(home + '/')))
        return "~" + path.mid(home.size());
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    return name.isEmpty() ? path : name;
}

void SaveLocationRow::setFolder(const QUrl& url) {
    const QString text = displayName(url.isEmpty() ? std::nullopt : std::optional<QUrl>(url), QDir::homePath());
    label_->setToolTip(url.toLocalFile());
    label_->setText(fontMetrics().elidedText(text, Qt::ElideMiddle, 260));
}

void SaveLocationRow::selectFolder() {
    // One folder picker at a time: pressed again, or on another tab, the open one comes forward.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QFileDialog*>(w) && w->isVisible()) {
            platform::Workspace::activate(w);
            return;
        }
    QPointer<SaveLocationRow> self(this);
    request_([self](bool chosen) {
        if (chosen && self)
            self->setFolder(self->folder_());
    });
}

}  // namespace zentola
