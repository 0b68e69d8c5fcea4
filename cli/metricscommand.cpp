// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/metricscommand.h"

#include "cli/commandline.h"
#include "core/grid/georeference.h"
#include "core/grid/gridshape.h"
#include "core/grid/mapreader.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/metricscsv.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace {

// Whether two paths name the same file: the same device and inode.
bool sameFile(const QString &a, const QString &b)
{
    struct stat first = {};
    struct stat second = {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<QString> cellSizeRefusal(double size)
{
    if (std::isfinite(size) && size > 0 && size <= maxCellSize)
        return std::nullopt;
    return QStringLiteral("a cell size must be above 0 and at most %1, not %2")
        .arg(QString::number(maxCellSize, 'g', 17), QString::number(size, 'g', 17));
}

} // namespace

MetricsCommand::MetricsCommand(CommandLine &commandLine)
    : m_cli(commandLine)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_metrics(QStringLiteral("metrics"),
                QStringLiteral("The metrics to report: all (the default), or their names "
                               "separated by commas (np,contag,enn_mn); a name gives the metric "
                               "at every level that has it."),
                QStringLiteral("LIST"), QStringLiteral("all"))
    , m_neighbours(QStringLiteral("neighbours"),
                   QStringLiteral("Cells that join into one patch: 8 (sides and corners) or 4 "
                                  "(sides). Default: 8."),
                   QStringLiteral("N"), QStringLiteral("8"))
    , m_cellSize(QStringLiteral("cell-size"),
                 QStringLiteral(
                     "Side of a cell in map units, for every map (default: the "
                     "cellsize of an ESRI grid's header or a GeoTIFF's pixel size, "
                     "else 1). Areas are given in map units squared / 10000: hectares for metres."),
                 QStringLiteral("S"))
    , m_out(QStringLiteral("out"),
            QStringLiteral("The CSV file to write, whole or not at all (default: stdout)."),
            QStringLiteral("FILE"))
{}

std::optional<QString> MetricsCommand::measure(const QString &path, const MetricOptions &given,
                                               bool cellSizeGiven, const MetricSelection &selection,
                                               QByteArray &table)
{
    const QString shown = QDir::toNativeSeparators(path);
    LandscapeGrid grid;
    MapFileInfo info;
    if (const FileResult error = readMap(path, grid, {}, &info))
        return error->message();
    if (grid.isEmpty() || grid.row(0).empty())
        return QStringLiteral("%1: no map rows in the file").arg(shown);
    if (const auto refusal = raggedRefusal(grid, shown, QStringLiteral("landscape")))
        return *refusal;
    if (info.madeUpCell)
        return QStringLiteral("%1: %2 is not a whole number; metrics need a class code in "
                              "every cell")
            .arg(shown, *info.madeUpCell);

    MetricOptions options = given;
    if (!cellSizeGiven && info.cellWidth && info.cellHeight) {
        const double width = *info.cellWidth;
        const double height = *info.cellHeight;
        if (std::abs(width - height) > 1e-9 * std::max(width, height))
            return QStringLiteral("%1: its cells are %2 x %3 map units; metrics need square "
                                  "cells (--cell-size measures them as squares of that side)")
                .arg(shown, QString::number(width, 'g', 17), QString::number(height, 'g', 17));
        if (const auto refusal = cellSizeRefusal(width))
            return QStringLiteral("%1: %2").arg(shown, *refusal);
        options.cellSize = width;
    }
    // A NoData value no cell can hold marks no cell.
    if (info.noData && std::isfinite(*info.noData) && std::trunc(*info.noData) == *info.noData &&
        *info.noData >= std::numeric_limits<qint32>::min() &&
        *info.noData <= std::numeric_limits<qint32>::max())
        options.noData = qint32(*info.noData);

    const std::size_t columns = grid.row(0).size();
    if (columns > std::size_t(std::numeric_limits<int>::max()))
        return QStringLiteral("%1: rows of %2 cells are beyond what can be measured")
            .arg(shown)
            .arg(columns);
    const std::optional<std::vector<MetricRow>> rows =
        measureClassMap(grid.cells(), int(grid.rowCount()), int(columns), options, selection);
    if (!rows)
        return QStringLiteral("%1: more than %2 different codes; metrics need a map of classes, "
                              "such as land cover, not of measurements such as heights")
            .arg(shown)
            .arg(maxMeasuredClasses);
    appendMetricsCsv(table, shown, *rows);
    return std::nullopt;
}

int MetricsCommand::run(const QStringList &arguments)
{
    m_parser.setApplicationDescription(QStringLiteral(
        "Measures map files (plain, ESRI ASCII grids or GeoTIFF) of any whole-number\n"
        "codes with the class- and landscape-level metrics of the field's reference tool,\n"
        "by its definitions and short names, and writes its long table: one row per\n"
        "file, level, class and metric (file,level,class,metric,value; class is NA at\n"
        "landscape level, a value NA where the metric has none). Cells of an ESRI grid's\n"
        "or a GeoTIFF's NoData value lie outside the landscape. docs/metrics.md gives\n"
        "every formula."));
    m_parser.addOption(m_help);
    m_parser.addOptions({m_metrics, m_neighbours, m_cellSize, m_out});
    m_parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Map files to measure."),
                                   QStringLiteral("FILE..."));
    if (const auto done = m_cli.parseArguments(
            m_parser, m_help, arguments, QStringLiteral("Usage: %1 metrics FILE... [options]")))
        return *done;

    const QStringList maps = m_parser.positionalArguments();
    if (maps.isEmpty())
        return m_cli.usageError(QStringLiteral("no map file given"));
    QString refusal;
    const std::optional<MetricSelection> selection =
        MetricSelection::parse(m_parser.value(m_metrics), refusal);
    if (!selection)
        return m_cli.usageError(refusal);
    MetricOptions options;
    const QString neighbours = m_parser.value(m_neighbours).trimmed();
    if (neighbours != QLatin1String("4") && neighbours != QLatin1String("8"))
        return m_cli.usageError(
            QStringLiteral("--neighbours must be 4 or 8, not '%1'").arg(neighbours));
    options.neighbours = neighbours.toInt();
    const bool cellSizeGiven = m_parser.isSet(m_cellSize);
    if (cellSizeGiven) {
        bool number = false;
        options.cellSize = m_parser.value(m_cellSize).toDouble(&number);
        const auto sizeRefusal = cellSizeRefusal(options.cellSize);
        if (!number || sizeRefusal)
            return m_cli.usageError(QStringLiteral("--cell-size: %1")
                                        .arg(number ? *sizeRefusal
                                                    : QStringLiteral("'%1' is not a number")
                                                          .arg(m_parser.value(m_cellSize))));
    }

    const QString out = m_parser.value(m_out);
    if (m_parser.isSet(m_out)) {
        if (out.trimmed().isEmpty())
            return m_cli.usageError(QStringLiteral("--out needs a file name"));
        const QFileInfo target(out);
        if (target.exists() && !target.isFile())
            return m_cli.usageError(QStringLiteral("%1 is not a regular file; the table is "
                                                   "written only into one")
                                        .arg(QDir::toNativeSeparators(out)));
        for (const QString &map : maps)
            if (sameFile(map, out))
                return m_cli.usageError(
                    QStringLiteral("%1 is the map %2 itself; the table would replace it")
                        .arg(QDir::toNativeSeparators(out), QDir::toNativeSeparators(map)));
    }

    // Each map's rows go out as soon as it is measured, so that a long list
    // never sits in memory. The file is written whole or not at all: a map
    // that cannot be measured leaves what stood under its name untouched.
    QSaveFile file(out);
    const bool toFile = m_parser.isSet(m_out);
    const auto fileFailure = [this, &file, &out] {
        return m_cli.runFailure(
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(out), file.errorString()));
    };
    QByteArray table = metricsCsvHeader();
    if (toFile && !file.open(QIODevice::WriteOnly))
        return fileFailure();
    for (const QString &map : maps) {
        if (const auto failure = measure(map, options, cellSizeGiven, *selection, table))
            return m_cli.runFailure(QStringLiteral("cannot measure %1").arg(*failure));
        if (!toFile)
            m_cli.printOut(QString::fromUtf8(table));
        else if (file.write(table) != table.size())
            return fileFailure();
        table.clear();
    }
    if (toFile && !file.commit())
        return fileFailure();
    return CommandLine::Success;
}
