#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Answers the next message box with the button of the given title, and keeps what it showed.
class AlertAnswerer {
public:
    explicit AlertAnswerer(QString button) : button_(std::move(button)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible())
                    continue;
                text = box->text();
                modality = box->windowModality();
                titles.clear();
                for (QAbstractButton* b : box->buttons())
                    titles << b->text();
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == button_) {
                        timer_.stop();
                        b->click();
                        return;
                    }
            }
        });
        timer_.start();
    }
    QString text;
    QStringList titles;
    Qt::WindowModality modality = Qt::NonModal;

private:
    QString button_;
    QTimer timer_;
};
