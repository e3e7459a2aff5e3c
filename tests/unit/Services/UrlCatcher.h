#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Receives the URLs the desktop would open, in place of the real handlers.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void handle(const QUrl& url) { urls << url; }
};
