#include "Features/Settings/SettingsPage.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace zentola {
namespace {

QVBoxLayout* rowsOf(QGroupBox* group) {
    return static_cast<QVBoxLayout*>(group->layout());
}

}  // namespace

SettingsPage::SettingsPage(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget;
    column_ = new QVBoxLayout(content);
    column_->setSpacing(16);
    column_->setContentsMargins(12, 12, 12, 12);
    column_->addStretch(1);
    setWidget(content);
}

QGroupBox* SettingsPage::addGroup(const QString& title) {
    auto* group = new QGroupBox(title);
    group->setObjectName(title);
    QFont font = group->font();
    font.setBold(true);
    group->setFont(font);
    auto* rows = new QVBoxLayout(group);
    rows->setSpacing(0);
    column_->insertWidget(column_->count() - 1, group);
    return group;
}

QWidget* SettingsPage::addDivider(QGroupBox* group) {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    rowsOf(group)->addWidget(line);
    return line;
}

QWidget* SettingsPage::addRow(QGroupBox* group, const QString& title, std::initializer_list<QWidget*> controls) {
    if (rowsOf(group)->count() > 0)
        addDivider(group);
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* label = new QLabel(title);
    // Rows take the normal weight; only the group titles are bold.
    QFont font = label->font();
    font.setBold(false);
    label->setFont(font);
    layout->addWidget(label);
    layout->addStretch(1);
    for (QWidget* control : controls) {
        control->setFont(font);
        layout->addWidget(control);
    }
    rowsOf(group)->addWidget(row);
    return row;
}

QWidget* SettingsPage::addNote(QGroupBox* group, const QString& text) {
    if (rowsOf(group)->count() > 0)
        addDivider(group);
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* icon = new QLabel;
    icon->setPixmap(row->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(14, 14));
    auto* note = new QLabel(text);
    note->setWordWrap(true);
    QFont font = note->font();
    font.setBold(false);
    font.setPointSizeF(font.pointSizeF() * 0.85);
    note->setFont(font);
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(icon);
    layout->addWidget(note, 1);
    rowsOf(group)->addWidget(row);
    return row;
}

QCheckBox* SettingsPage::makeSwitch(bool on) {
    auto* box = new QCheckBox;
    box->setChecked(on);
    return box;
}

}  // namespace zentola
