#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// Runs a child program to its end.
class ProcessRunner {
public:
    struct Result {
        bool started = false;
        int exitCode = -1;
        // Standard output and standard error, interleaved as they came.
        QByteArray output;
    };

    // Blocks until the program exits (or timeoutMs passes, then kills it).
    static Result run(const QString& program, const QStringList& arguments, int timeoutMs = 30000);
};

}  // namespace platform
