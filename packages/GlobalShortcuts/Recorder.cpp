#include "packages/GlobalShortcuts/Recorder.h"

#include "packages/GlobalShortcuts/FormLabel.h"

#include <QHBoxLayout>
#include <QLabel>

namespace GlobalShortcuts {

Recorder::Recorder(const Name& name, OnChange onChange, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))) {
    build(nullptr);
}

Recorder::Recorder(const QString& title, const Name& name, OnChange onChange, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(title);
    build(label);
}

Recorder::Recorder(const Name& name, OnChange onChange, QWidget* label, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))) {
    build(label);
}

void Recorder::build(QWidget* label) {
    label_ = label;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label ? formLabel(control_, label) : control_);
    setFocusProxy(control_);
}

}  // namespace GlobalShortcuts
