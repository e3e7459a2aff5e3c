#include "packages/GlobalShortcuts/Alert.h"

#include "packages/GlobalShortcuts/Localization.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace GlobalShortcuts {

int Alert::runModal(QWidget* window) const {
    QMessageBox box(window ? window->window() : nullptr);
    box.setIcon(QMessageBox::Warning);
    if (!qApp->windowIcon().isNull())
        box.setWindowIcon(qApp->windowIcon());
    box.setText(messageText);
    box.setInformativeText(informativeText);
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    std::vector<QPushButton*> added;
    const QStringList titles = buttons.isEmpty() ? QStringList{localized("ok")} : buttons;
    for (int i = 0; i < titles.size(); ++i)
        added.push_back(box.addButton(titles[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    box.setDefaultButton(added.front());
    box.setEscapeButton(added.front());
    box.exec();
    for (size_t i = 0; i < added.size(); ++i)
        if (box.clickedButton() == added[i])
            return firstButtonReturn + static_cast<int>(i);
    return firstButtonReturn;
}

}  // namespace GlobalShortcuts
