// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <optional>

class CommandLine;
class QIODevice;
class MetricSelection;
struct MetricOptions;

// `metrics`: the class- and landscape-level metrics of map files of any
// codes (plain, ESRI grids, GeoTIFF), in the long table the field's
// reference tool writes, on stdout or into a file.
class MetricsCommand final {
public:
    explicit MetricsCommand(CommandLine &commandLine);

    int run(const QStringList &arguments);

private:
    // Appends the table rows of one map, or says why it cannot be measured.
    std::optional<QString> measure(const QString &path, const MetricOptions &given,
                                   bool cellSizeGiven, const MetricSelection &selection,
                                   QByteArray &table);

    CommandLine &m_cli;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_metrics;
    QCommandLineOption m_neighbours;
    QCommandLineOption m_cellSize;
    QCommandLineOption m_out;
};
