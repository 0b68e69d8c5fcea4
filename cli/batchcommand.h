#pragma once

#include "core/maprecord.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class CommandLine;
struct AppSettings;
struct BatchResult;

// The `random` and `fractal` commands: parse and check the options against
// the limits of the application's dialogs, prepare the output folder, run
// the batch through the same core as the GUI, then write the batch list and
// the manifest for whatever was written.
class BatchCommand final {
public:
    BatchCommand(CommandLine &commandLine, const QString &name);

    int runRandom(const QStringList &arguments);
    int runFractal(const QStringList &arguments);

private:
    struct Common;
    std::optional<int> parse(const QStringList &arguments, const QString &description);
    std::optional<int> readCommon(Common &common, bool fractal);
    int finish(const BatchResult &result, const QStringList &fileNames,
               const QList<MapRecord> &records, const QString &stem, const QString &postString);

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
    QCommandLineOption m_seed;
    QCommandLineOption m_h;
    QString m_error;
};
