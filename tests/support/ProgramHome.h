#pragma once

// The real program in a private home: the settings it starts with under config/, a runtime folder
// of its own, its output in a log file; the environment it is started with points it there.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <string>

namespace testing_support {

class ProgramHome {
public:
    explicit ProgramHome(const QString& path) : root_(path) {
        root_.mkpath("config/zentola");
        root_.mkpath("run");
        QFile::setPermissions(root_.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool seed(const QJsonObject& settings) const {
        QFile f(root_.filePath("config/zentola/defaults.json"));
        return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(settings).toJson()) > 0;
    }
    // What a program started here runs with, on the X server DISPLAY names.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.insert("HOME", root_.path());
        env.insert("XDG_CONFIG_HOME", root_.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", root_.filePath("run"));
        return env;
    }
    // Starts the program at `path` here.
    void start(QProcess& program, const QString& path) const {
        program.setProcessEnvironment(environment());
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.setStandardOutputFile(root_.filePath("log"));
        program.start(path);
    }
    QJsonObject settings() const {
        QFile f(root_.filePath("config/zentola/defaults.json"));
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    std::string log() const {
        QFile f(root_.filePath("log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }

private:
    QDir root_;
};

}  // namespace testing_support
