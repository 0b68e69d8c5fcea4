// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class BatchJob;
class CommandLine;
class FamilyRequest;
class MapFamily;

// The command of a family (`random`, `fractal`, ...): builds its options
// from the family's rows, turns what was given into a request, runs it as a
// batch job, and reports the outcome. Whatever the job decides (the limits,
// the free space, the folder, the batch list and the manifest) is the same
// for the window; this class only speaks command line.
class BatchCommand final {
public:
    BatchCommand(CommandLine &commandLine, const MapFamily &family);

    int run(const QStringList &arguments);

private:
    // An exit status when the command ends here (help, a usage error).
    std::optional<int> parse(const QStringList &arguments);
    // Fills the request from config.txt and the options given; a usage
    // error when a value does not fit its option.
    std::optional<QString> read(FamilyRequest &request);
    int run(BatchJob &job);

    CommandLine &m_cli;
    const MapFamily &m_family;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_quiet;
    std::vector<std::pair<const BatchOption *, QCommandLineOption>> m_options;
    // The metric names given to options that take them after a switch.
    QHash<const BatchOption *, QString> m_metricNames;
};
