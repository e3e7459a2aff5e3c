#include "Features/Settings/TermsSheetView.h"

#include "resources/Bundle.h"

#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextDocument>
#include <QTimer>
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
    // The window manager's title bar names it; the page holds the text and, as a desktop dialog
    // does, its button at the bottom.
    setWindowTitle(QStringLiteral("Terms of Use"));
    setFixedSize(600, 500);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    text_ = new QPlainTextEdit;
    text_->setReadOnly(true);
    // Selected with the mouse, copied and selected whole with the keys; no caret, as nothing can be
    // typed, so the arrow keys scroll.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setFrameShape(QFrame::NoFrame);
    text_->document()->setDocumentMargin(16);
    text_->setPlainText(termsContent(Bundle::resourcePath(QStringLiteral("Terms"), QStringLiteral("txt"))));
    column->addWidget(text_, 1);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 12, 12, 12);
    done_ = new QPushButton(QStringLiteral("Done"));
    done_->setAutoDefault(false);
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addStretch(1);
    buttons->addWidget(done_);
    column->addLayout(buttons);
    // QDialog closes on Escape by itself, as "Done" does.
    if (parent)
        parent->window()->installEventFilter(this);
}

bool TermsSheetView::eventFilter(QObject* watched, QEvent* event) {
    // A window manager may give the focus to the window behind the sheet when it is clicked (openbox
    // does), where the keys go nowhere while the sheet is up: the focus comes back to the sheet.
    if (event->type() == QEvent::WindowActivate && isVisible() && watched == parentWidget()->window())
        QTimer::singleShot(0, this, [this] {
            raise();
            activateWindow();
        });
    return QDialog::eventFilter(watched, event);
}

}  // namespace zentola
