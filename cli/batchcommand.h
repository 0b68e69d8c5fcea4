// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class BatchJob;
class CommandLine;

// The `random`, `fractal` and `gaussian` commands: build their options from the batch
// description, turn what was given into a request, run it as a batch job,
// and report the outcome. Whatever the job decides (the limits, the free
// space, the folder, the batch list and the manifest) is the same for the
// GUI; this class only speaks command line.
class BatchCommand final {
public:
    BatchCommand(CommandLine &commandLine, const QString &name);

    int runRandom(const QStringList &arguments);
    int runFractal(const QStringList &given);
    int runGaussian(const QStringList &arguments);

private:
    // An exit status when the command ends here (help, a usage error).
    std::optional<int> parse(const QStringList &arguments, const QString &description,
                             BatchKind kind, const QString &examples);
    // Fills the request from config.txt and the options given; a usage
    // error when a value does not fit its option.
    template <typename Request> std::optional<QString> read(Request &request);
    int run(BatchJob &job);

    CommandLine &m_cli;
    QString m_name;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_quiet;
    std::vector<std::pair<const BatchOption *, QCommandLineOption>> m_options;
};
