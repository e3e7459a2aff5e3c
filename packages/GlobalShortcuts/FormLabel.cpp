#include "packages/GlobalShortcuts/FormLabel.h"

#include <QHBoxLayout>
#include <QWidget>

namespace GlobalShortcuts {

QWidget* formLabel(QWidget* control, QWidget* label, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label, 0, Qt::AlignBaseline);
    layout->addWidget(control, 0, Qt::AlignBaseline);
    layout->addStretch(1);
    return row;
}

}  // namespace GlobalShortcuts
