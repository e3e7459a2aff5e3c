#pragma once

#include "packages/GlobalShortcuts/RecorderCocoa.h"

#include <QWidget>

#include <optional>

class QLabel;

namespace GlobalShortcuts {

// A title to look up in the application's own translations: a context and a source text, as
// QT_TRANSLATE_NOOP marks them.
struct LocalizedStringKey {
    const char* context;
    const char* key;
};

// The recorder field of one name, alone or after a label. Renaming switches the same field to
// another name; the change callback stays the one given first.
class Recorder : public QWidget {
    Q_OBJECT
public:
    using OnChange = RecorderCocoa::OnChange;

    explicit Recorder(const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    // With a title looked up in the application's translations, before the field; it follows a
    // change of language.
    Recorder(LocalizedStringKey title, const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    // With a title shown verbatim before the field.
    Recorder(const QString& title, const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
    // With a label of the caller's making before the field.
    Recorder(const Name& name, OnChange onChange, QWidget* label, QWidget* parent);

    void setName(const Name& name) { control_->setShortcutName(name); }
    const Name& name() const { return control_->shortcutName(); }
    RecorderCocoa* control() const { return control_; }
    QWidget* label() const { return label_; }
    bool hasLabel() const { return label_ != nullptr; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void build(QWidget* label);

    RecorderCocoa* control_;
    QWidget* label_ = nullptr;
    std::optional<LocalizedStringKey> titleKey_;
};

}  // namespace GlobalShortcuts
