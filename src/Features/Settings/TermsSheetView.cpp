#include "Features/Settings/TermsSheetView.h"

#include "resources/Bundle.h"

#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

namespace zentola {

QString TermsSheetView::fallbackText() {
    return QStringLiteral("Terms of Use could not be loaded. Please visit https://zentola.app/terms");
}

QString TermsSheetView::termsContent(const std::optional<QString>& path) {
    if (!path)
        return fallbackText();
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        return fallbackText();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fallbackText();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return fallbackText();
    return text;
}

TermsSheetView::TermsSheetView(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Terms of Use"));
    setFixedSize(600, 500);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 12);
    auto* title = new QLabel(QStringLiteral("Terms of Use"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    done_ = new QPushButton(QStringLiteral("Done"));
    done_->setAutoDefault(false);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(done_);
    column->addLayout(header);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    column->addWidget(line);

    text_ = new QPlainTextEdit;
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setFrameShape(QFrame::NoFrame);
    text_->setPlainText(termsContent(Bundle::resourcePath(QStringLiteral("Terms"), QStringLiteral("txt"))));
    column->addWidget(text_, 1);
    // QDialog closes on Escape by itself, as "Done" does.
}

}  // namespace zentola
