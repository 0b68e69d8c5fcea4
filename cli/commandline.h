// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

class QCommandLineOption;
class QCommandLineParser;

// The headless companion of the application: the same batches, the same
// file names and formats, driven from scripts and servers. Exit status 0 on
// success, 1 when the run failed (a file could not be written), 2 for a
// request that cannot be run as given, 128 + signal when stopped by SIGINT
// or SIGTERM.
class CommandLine final {
public:
    enum ExitCode { Success = 0, RunFailed = 1, UsageError = 2 };

    explicit CommandLine(std::FILE *out = stdout, std::FILE *err = stderr);

    int run(const QStringList &arguments);

    // Shared by the commands: messages go to stderr prefixed with the
    // program's name, results to stdout.
    int usageError(const QString &message);
    int runFailure(const QString &message);
    void printOut(const QString &text) { print(m_out, text); }
    void printErr(const QString &text) { print(m_err, text); }
    const QString &program() const { return m_program; }
    // Parses a command's arguments: nothing when the command goes on, or
    // the status it ends with after a usage error or its help, which `help`
    // asks for and whose first line becomes `usage` (with %1 the program).
    std::optional<int> parseArguments(QCommandLineParser &parser, const QCommandLineOption &help,
                                      const QStringList &arguments, const QString &usage);

private:
    void print(std::FILE *stream, const QString &text);

    std::FILE *m_out;
    std::FILE *m_err;
    QString m_program;
    QString m_command;
};
