#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/resource.h>

// Runs the real command-line program, as users and scripts do. Suites that
// include this are built with PW_CLI_PATH (pw_add_test's CLI flag).
struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

struct CliOptions {
    QString workingDirectory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Writes beyond this many bytes fail with EFBIG, as on a full disk.
    rlim_t fileSizeLimit = RLIM_INFINITY;
    int timeoutMs = 300000;
};

inline CliRun runCli(const QStringList &arguments, const CliOptions &options = {})
{
    QProcess process;
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    process.setProcessEnvironment(options.environment);
    if (options.fileSizeLimit != RLIM_INFINITY) {
        const rlim_t limit = options.fileSizeLimit;
        process.setChildProcessModifier([limit] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit bytes{limit, limit};
            setrlimit(RLIMIT_FSIZE, &bytes);
        });
    }
    process.start(QStringLiteral(PW_CLI_PATH), arguments);
    process.waitForFinished(options.timeoutMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

inline CliRun runCli(const QStringList &arguments, const QString &workingDirectory)
{
    CliOptions options;
    options.workingDirectory = workingDirectory;
    return runCli(arguments, options);
}
