#pragma once

#include <QGroupBox>
#include <QScrollArea>
#include <QString>

class QBoxLayout;
class QCheckBox;
class QVBoxLayout;

namespace zentola {

// The common frame of a settings tab: a scrolling column of titled groups, each a stack of rows
// (title, space, control at the trailing edge) with a line between consecutive rows.
class SettingsPage : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsPage(QWidget* parent = nullptr);

    // A new group at the end of the page, titled with the symbol and the title.
    QGroupBox* addGroup(const QString& title, const QString& symbol);
    // A row of the group: the title, flexible space, then the controls. Returns the row.
    static QWidget* addRow(QGroupBox* group, const QString& title, std::initializer_list<QWidget*> controls);
    // A grey note with an information icon.
    static QWidget* addNote(QGroupBox* group, const QString& text);
    // A switch with no title of its own.
    static QCheckBox* makeSwitch(bool on);
    // The line placed before a row, so a row can be shown and hidden with its line.
    static QWidget* addDivider(QGroupBox* group);

private:
    QVBoxLayout* column_;
};

}  // namespace zentola
