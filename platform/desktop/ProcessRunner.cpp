#include "platform/desktop/ProcessRunner.h"

#include <QProcess>

namespace platform {

ProcessRunner::Result ProcessRunner::run(const QString& program, const QStringList& arguments, int timeoutMs) {
    Result result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
    }
    result.output = process.readAll();
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

}  // namespace platform
