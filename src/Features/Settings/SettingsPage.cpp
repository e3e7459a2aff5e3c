#include "Features/Settings/SettingsPage.h"

#include "resources/Symbol.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
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

QGroupBox* SettingsPage::addGroup(const QString& title, const QString& symbol) {
    // The title with its symbol above the box, as a group box's own title has no room for one.
    auto* label = new QWidget;
    auto* line = new QHBoxLayout(label);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("groupSymbol"));
    icon->setProperty("symbol", symbol);
    icon->setPixmap(Symbol::pixmap(symbol, 16, label->palette().color(QPalette::WindowText), devicePixelRatioF()));
    auto* text = new QLabel(title);
    QFont font = text->font();
    font.setBold(true);
    text->setFont(font);
    line->addWidget(icon);
    line->addWidget(text);
    line->addStretch(1);

    auto* group = new QGroupBox;
    group->setObjectName(title);
    auto* rows = new QVBoxLayout(group);
    rows->setSpacing(0);
    auto* block = new QVBoxLayout;
    block->setSpacing(4);
    block->addWidget(label);
    block->addWidget(group);
    column_->insertLayout(column_->count() - 1, block);
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
    layout->addWidget(label);
    layout->addStretch(1);
    for (QWidget* control : controls)
        layout->addWidget(control);
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
    icon->setPixmap(Symbol::pixmap(QStringLiteral("info.circle"), 14, row->palette().color(QPalette::PlaceholderText),
                                   row->devicePixelRatioF()));
    auto* note = new QLabel(text);
    note->setWordWrap(true);
    QFont font = note->font();
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
