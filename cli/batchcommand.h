#pragma once

#include "core/batchrequest.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

class BatchJob;
class CommandLine;

// The `random` and `fractal` commands: turn the options into a request, run
// it as a batch job, and report the outcome. Whatever the job decides (the
// limits, the free space, the folder, the batch list and the manifest) is
// the same for the GUI; this class only speaks command line.
class BatchCommand final {
public:
    BatchCommand(CommandLine &commandLine, const QString &name);

    int runRandom(const QStringList &arguments);
    int runFractal(const QStringList &given);

private:
    // An exit status when the command ends here (help, a usage error).
    std::optional<int> parse(const QStringList &arguments, const QString &description,
                             const QList<QCommandLineOption> &ownOptions);
    // The options both commands share; a usage error leaves m_error set.
    void readCommon(CoverRange &covers, int &size, int &replicates, BatchOutput &output,
                    bool fractal);
    std::optional<int> intOption(const QCommandLineOption &option, const QString &name);
    // The value of an option that names one of `choices`, as its index.
    int choice(const QCommandLineOption &option, const QStringList &choices);
    int run(BatchJob &job);

    CommandLine &m_cli;
    QString m_name;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_out;
    QCommandLineOption m_cover;
    QCommandLineOption m_size;
    QCommandLineOption m_replicates;
    QCommandLineOption m_prefix;
    QCommandLineOption m_postString;
    QCommandLineOption m_coverValue;
    QCommandLineOption m_matrixValue;
    QCommandLineOption m_quiet;
    QCommandLineOption m_format;
    QCommandLineOption m_overwrite;
    QCommandLineOption m_noSync;
    QCommandLineOption m_generator;
    QCommandLineOption m_noData;
    QCommandLineOption m_cellSize;
    QCommandLineOption m_origin;
    QCommandLineOption m_crs;
    QCommandLineOption m_metrics;
    QCommandLineOption m_neighbours;
    QString m_error;
};
