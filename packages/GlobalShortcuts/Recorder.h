#pragma once

#include "packages/GlobalShortcuts/RecorderCocoa.h"

#include <QWidget>

class QLabel;

namespace GlobalShortcuts {

// The recorder field of one name, alone or after a label. Renaming switches the same field to
// another name; the change callback stays the one given first.
class Recorder : public QWidget {
    Q_OBJECT
public:
    using OnChange = RecorderCocoa::OnChange;

    explicit Recorder(const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    // With a title shown verbatim before the field.
    Recorder(const QString& title, const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    // With a label of the caller's making before the field.
    Recorder(const Name& name, OnChange onChange, QWidget* label, QWidget* parent);

    void setName(const Name& name) { control_->setShortcutName(name); }
    const Name& name() const { return control_->shortcutName(); }
    RecorderCocoa* control() const { return control_; }
    QWidget* label() const { return label_; }
    bool hasLabel() const { return label_ != nullptr; }

private:
    void build(QWidget* label);

    RecorderCocoa* control_;
    QWidget* label_ = nullptr;
};

}  // namespace GlobalShortcuts
