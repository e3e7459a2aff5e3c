#pragma once

class QWidget;

namespace GlobalShortcuts {

// A form row: the label, then the control, on one text baseline.
QWidget* formLabel(QWidget* control, QWidget* label, QWidget* parent = nullptr);

}  // namespace GlobalShortcuts
