#include "packages/GlobalShortcuts/Recorder.h"

#include "packages/GlobalShortcuts/FormLabel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace GlobalShortcuts {

Recorder::Recorder(const Name& name, OnChange onChange, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))) {
    build(nullptr);
}

namespace {

QLabel* plainLabel(const QString& text) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

}  // namespace

Recorder::Recorder(LocalizedStringKey title, const Name& name, OnChange onChange, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))), titleKey_(title) {
    build(plainLabel(QCoreApplication::translate(title.context, title.key)));
}

Recorder::Recorder(const QString& title, const Name& name, OnChange onChange, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))) {
    build(plainLabel(title));
}

Recorder::Recorder(const Name& name, OnChange onChange, QWidget* label, QWidget* parent)
    : QWidget(parent), control_(new RecorderCocoa(name, std::move(onChange))) {
    build(label);
}

void Recorder::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange && titleKey_)
        static_cast<QLabel*>(label_)->setText(QCoreApplication::translate(titleKey_->context, titleKey_->key));
    QWidget::changeEvent(event);
}

void Recorder::build(QWidget* label) {
    label_ = label;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label ? formLabel(control_, label) : control_);
    setFocusProxy(control_);
}

}  // namespace GlobalShortcuts
