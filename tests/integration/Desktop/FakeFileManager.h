#pragma once

#include <QObject>
#include <QStringList>

// Stands in for the desktop's file manager on a private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
    QStringList startupIds;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        shown << uris;
        startupIds << startupId;
    }
};
