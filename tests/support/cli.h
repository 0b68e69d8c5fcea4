#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

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
    // Gives the program a terminal as its stderr, as a person watching has;
    // what it writes there comes back in CliRun::err. Keep such runs short:
    // the terminal is read once the program has ended.
    bool terminal = false;
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
    int terminal = -1;
    int terminalSide = -1;
    if (options.terminal && openpty(&terminal, &terminalSide, nullptr, nullptr, nullptr) == 0)
        process.setChildProcessModifier([terminalSide] { dup2(terminalSide, STDERR_FILENO); });
    process.start(QStringLiteral(PW_CLI_PATH), arguments);
    process.waitForFinished(options.timeoutMs);
    CliRun run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromLocal8Bit(process.readAllStandardOutput()),
               QString::fromLocal8Bit(process.readAllStandardError())};
    if (terminal >= 0) {
        ::close(terminalSide);
        QByteArray bytes(1 << 16, Qt::Uninitialized);
        const ssize_t read = ::read(terminal, bytes.data(), std::size_t(bytes.size()));
        run.err = QString::fromLocal8Bit(bytes.left(qsizetype(std::max<ssize_t>(read, 0))));
        ::close(terminal);
    }
    return run;
}

inline CliRun runCli(const QStringList &arguments, const QString &workingDirectory)
{
    CliOptions options;
    options.workingDirectory = workingDirectory;
    return runCli(arguments, options);
}
