#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QPlainTextEdit;
class QPushButton;

namespace zentola {

// The terms of use, read afresh from the application's files each time the sheet is made.
class TermsSheetView : public QDialog {
    Q_OBJECT
public:
    explicit TermsSheetView(QWidget* parent = nullptr);

    // The text of the file at path, or the fallback sentence when it is missing, unreadable or not
    // UTF-8.
    static QString termsContent(const std::optional<QString>& path);
    static QString fallbackText();

    QPlainTextEdit* textView() const { return text_; }
    QPushButton* doneButton() const { return done_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* text_;
    QPushButton* done_;
};

}  // namespace zentola
