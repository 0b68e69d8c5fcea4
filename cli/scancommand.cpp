// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/scancommand.h"

#include "cli/commandline.h"
#include "cli/consoleprogress.h"
#include "core/batch/batchoptions.h"
#include "core/batch/batchprogress.h"
#include "core/batch/mapfamily.h"
#include "core/batch/mappublisher.h"
#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "core/metrics/landscapemeasure.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cmath>
#include <memory>
#include <variant>

#include <unistd.h>
#include <vector>

namespace {

// What scan reports unless told: the manifest's metrics, which targets
// were first set on.
std::vector<MetricTarget> manifestMetrics()
{
    std::vector<MetricTarget> metrics;
    for (const ClassMetric metric : {ClassMetric::Np, ClassMetric::Lpi, ClassMetric::AreaMn,
                                     ClassMetric::AreaAm, ClassMetric::Ed, ClassMetric::GyrateAm}) {
        MetricTarget target;
        target.metric = metric;
        metrics.push_back(target);
    }
    return metrics;
}

// The p-th quantile of sorted values, interpolated linearly between order
// statistics (numpy's default), so that the table can be checked by hand.
double quantile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return std::nan("");
    const double at = p * double(sorted.size() - 1);
    const auto below = std::size_t(std::floor(at));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (at - double(below)) * (sorted[above] - sorted[below]);
}

// The words of the families a pilot sample can be drawn of, as a message
// lists them.
QString scannedFamilies(const QString &lastJoin)
{
    QStringList words;
    for (const MapFamily *family : mapFamilies())
        if (family->scans())
            words.append(QLatin1String(family->word()));
    const QString last = words.isEmpty() ? QString() : words.takeLast();
    return words.isEmpty() ? last
                           : words.join(QStringLiteral(", ")) + QLatin1Char(' ') + lastJoin +
                                 QLatin1Char(' ') + last;
}

QString number(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 6) : QStringLiteral("NA");
}

struct Row {
    QString h;
    int cover = 0;
    int maps = 0;
    std::vector<std::vector<double>> values;
};

// Every map of a request, kept in memory and measured, in rows by H and
// cover. Metrics that are not the manifest's are measured from the map's
// codes, and only those.
std::optional<QString> sample(MapSource &source, bool swept,
                              const std::vector<MetricTarget> &scanned,
                              const MetricOptions &options, qint32 habitatCode,
                              std::vector<Row> &rows, BatchProgress &progress)
{
    MetricSelection selection;
    for (const MetricTarget &metric : scanned)
        if (!legacyMetric(metric))
            std::visit([&selection](auto m) { selection.add(m); }, metric.metric);
    qint64 made = 0;
    const qint64 planned = source.plannedMaps();
    MapPublisher publisher([&rows, swept, &scanned, &options, &selection, &made, planned, &progress,
                            habitatCode](MapRecord record, MapCells cells) {
        progress.mapsMade(++made, planned);
        // A row is a value of the family's sweep (H, a field's range) and a
        // cover.
        const QString h = swept ? QString::asprintf("%.2f", record.axis) : QStringLiteral("-");
        auto row = std::find_if(rows.begin(), rows.end(), [&](const Row &r) {
            return r.h == h && r.cover == record.requestedCover;
        });
        if (row == rows.end()) {
            rows.push_back(
                {h, record.requestedCover, 0, std::vector<std::vector<double>>(scanned.size())});
            row = rows.end() - 1;
        }
        ++row->maps;
        const std::vector<MetricRow> measured =
            selection.isEmpty() ||
                    qint64(cells.size()) != qint64(record.rowCount) * record.columnCount
                ? std::vector<MetricRow>()
                : measureLandscape(cells, record.rowCount, record.columnCount, options, selection);
        for (std::size_t m = 0; m < scanned.size(); ++m) {
            const double value =
                targetValue(scanned[m], record.habitatMetrics().value_or(LandscapeMetrics()),
                            measured, habitatCode);
            if (!std::isnan(value))
                row->values[m].push_back(value);
        }
    });
    const BatchResult result = source.makeMaps(QString(), publisher, progress);
    if (!result.ok())
        return result.message;
    return std::nullopt;
}

} // namespace

ScanCommand::ScanCommand(CommandLine &commandLine)
    : m_cli(commandLine)
{}

int ScanCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Makes a pilot sample of maps of a family in memory, with independent draws, and\n"
            "prints the mean, 5 %, 50 % and 95 % of each metric per value of the family's\n"
            "sweep (H, a field's range, ...) and cover, to choose --target bounds a batch can\n"
            "reach. FAMILY is %1.")
            .arg(scannedFamilies(QStringLiteral("or"))));
    parser.addPositionalArgument(QStringLiteral("FAMILY"), scannedFamilies(QStringLiteral("or")));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption samples(QStringLiteral("samples"),
                                     QStringLiteral("Maps per value and cover. Default: 50."),
                                     QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Prints the table as CSV, one column a figure."));
    const QCommandLineOption metricList(
        QStringLiteral("metrics"),
        QStringLiteral(
            "The metrics to report, separated by commas, each named as --target names them: "
            "METRIC (a class metric of the habitat class, as the manifest's columns give it, "
            "or one only the landscape level has), landscape:METRIC, or CLASS:METRIC for the "
            "class of code CLASS. Default: np,lpi,area_mn,area_am,ed,gyrate_am."),
        QStringLiteral("LIST"));
    parser.addOption(help);
    parser.addOption(samples);
    parser.addOption(csv);
    parser.addOption(metricList);
    // The options that shape the maps are the batch commands' own: every
    // family's rows that a pilot sample takes. An option some families lack
    // says which have it.
    QStringList keys;
    for (const MapFamily *family : mapFamilies())
        for (const BatchOption &option : family->options())
            if (option.pilot && !keys.contains(QLatin1String(option.key)))
                keys.append(QLatin1String(option.key));
    const qsizetype familyCount = qsizetype(mapFamilies().size());
    std::vector<std::pair<QString, QCommandLineOption>> options;
    for (const QString &key : std::as_const(keys)) {
        // Each family's help, which differ where the limits or the default do.
        const BatchOption *first = nullptr;
        QStringList owners;
        QStringList helps;
        for (const MapFamily *family : mapFamilies()) {
            const BatchOption *option = findBatchOption(*family, key);
            if (!option || !option->pilot)
                continue;
            first = first ? first : option;
            QString text = optionHelp(*family, *option).text();
            // A pilot sample is of one cover unless asked.
            if (option->type == OptionType::CoverSweep)
                text.replace(
                    QStringLiteral("Default: %1.").arg(optionDefaultText(*family, *option)),
                    QStringLiteral("Default: 30."));
            owners.append(QLatin1String(family->word()));
            helps.append(text);
        }
        QString text = helps.first();
        if (helps.count(helps.first()) != helps.size()) {
            QStringList each;
            for (qsizetype i = 0; i < helps.size(); ++i)
                each.append(QStringLiteral("For %1 maps: %2").arg(owners[i], helps[i]));
            text = each.join(QLatin1Char('\n'));
        } else if (owners.size() < familyCount) {
            text += QStringLiteral(" For %1 maps.").arg(owners.join(QStringLiteral(" and ")));
        }
        options.emplace_back(
            key, QCommandLineOption(first->cliName(), text, QLatin1String(first->valueName)));
        parser.addOption(options.back().second);
    }
    if (const auto done = m_cli.parseArguments(parser, help, arguments,
                                               QStringLiteral("Usage: %1 scan FAMILY [options]")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    const MapFamily *family = positional.size() == 1 ? familyNamed(positional[0]) : nullptr;
    if (!family || !family->scans())
        return m_cli.usageError(
            QStringLiteral("scan needs one FAMILY: %1").arg(scannedFamilies(QStringLiteral("or"))));
    bool ok = false;
    const int count = parser.value(samples).toInt(&ok);
    if (!ok || count < 1 || count > 100000)
        return m_cli.usageError(
            QStringLiteral("--samples must be a whole number in 1..100000, not '%1'")
                .arg(parser.value(samples)));

    std::vector<MetricTarget> scanned = manifestMetrics();
    if (parser.isSet(metricList)) {
        scanned.clear();
        for (const QString &name : parser.value(metricList).split(QLatin1Char(','))) {
            MetricTarget metric;
            if (const auto refusal = parseMetricKey(name, metric))
                return m_cli.usageError(QStringLiteral("--metrics %1").arg(*refusal));
            scanned.push_back(metric);
        }
    }

    // Every sample map an independent draw: the choices targets require.
    const std::unique_ptr<FamilyRequest> request = family->newRequest();
    request->makePilot(count);
    request->output.metrics = true;
    // The sample is kept in memory, so a template's reference system,
    // which only GeoTIFF files can hold, is no reason to refuse it.
    request->output.format = MapFormat::GeoTiff;
    request->covers = {30, 30, 1};
    for (const auto &[key, parserOption] : options) {
        if (!parser.isSet(parserOption))
            continue;
        const BatchOption *option = findBatchOption(*family, key);
        if (!option || !option->pilot)
            return m_cli.usageError(QStringLiteral("--%1 is not an option of %2 maps")
                                        .arg(parserOption.names().constFirst(), positional[0]));
        if (const auto error =
                setOption(*request, *option, OptionValue(parser.value(parserOption))))
            return m_cli.usageError(
                QStringLiteral("--%1 %2").arg(option->cliName(), error->reason));
    }

    // Maps of classes and study areas are measured from their codes alone,
    // the outside left out; the manifest's six, of habitat and matrix on the
    // whole grid, have no meaning there.
    BatchOutput &output = request->output;
    qint32 habitatCode = output.coverValue;
    if (output.cutsClasses()) {
        output.metrics = false;
        habitatCode = output.classCodes().back();
        for (const MetricTarget &metric : scanned)
            if (legacyMetric(metric))
                return m_cli.usageError(
                    QStringLiteral("maps of classes, or inside a mask, are measured every class "
                                   "and the outside left out: give --metrics with each metric's "
                                   "level or class (landscape:np,%1:pland)")
                        .arg(habitatCode));
    }
    std::vector<Row> rows;
    const std::unique_ptr<MapSource> source = family->source(*request);
    if (const auto refusal = source->refusal())
        return m_cli.usageError(refusal->text());
    const SweepAxis sweep = request->sweepAxis();
    // A large sample takes long: a terminal sees it count, as a batch's does.
    ConsoleProgress::installSignalHandlers();
    ConsoleProgress progress(::isatty(STDERR_FILENO) == 1);
    MetricOptions metricOptions;
    metricOptions.neighbours = request->output.neighbours;
    metricOptions.cellSize = request->output.georeference.cellSize;
    if (output.cutsClasses())
        metricOptions.noData = output.measuredOutside();
    const std::optional<QString> failure =
        sample(*source, !sweep.name.isEmpty(), scanned, metricOptions, habitatCode, rows, progress);
    progress.finish();
    if (failure)
        return m_cli.runFailure(*failure);
    // Stopped by a signal: a table of part of the sample would pass for all
    // of it.
    if (const int signal = ConsoleProgress::stopSignal()) {
        m_cli.printErr(QStringLiteral("%1: stopped by signal %2; no table is printed\n")
                           .arg(m_cli.program(), QString::number(signal)));
        return 128 + signal;
    }

    const bool asCsv = parser.isSet(csv);
    // A family without a second sweep heads the column as every family
    // once did.
    const QString axis = sweep.name.isEmpty() ? QStringLiteral("H") : sweep.name;
    const int axisWidth = sweep.width;
    QStringList header{axis, QStringLiteral("cover"), QStringLiteral("maps")};
    for (const MetricTarget &metric : scanned)
        for (const char *figure : {"mean", "p5", "p50", "p95"})
            header.append(QStringLiteral("%1_%2").arg(metricKey(metric), QLatin1String(figure)));
    QString out;
    if (asCsv)
        out += header.join(QLatin1Char(',')) + QLatin1Char('\n');
    else
        out += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                   .arg(axis, axisWidth)
                   .arg(QStringLiteral("cover"), 5)
                   .arg(QStringLiteral("metric"), -10)
                   .arg(QStringLiteral("maps"), 5)
                   .arg(QStringLiteral("mean"), 11)
                   .arg(QStringLiteral("5 %"), 11)
                   .arg(QStringLiteral("50 %"), 11)
                   .arg(QStringLiteral("95 %"), 11);
    for (Row &row : rows) {
        QStringList fields{row.h, QString::number(row.cover), QString::number(row.maps)};
        for (std::size_t m = 0; m < scanned.size(); ++m) {
            std::vector<double> &values = row.values[m];
            std::sort(values.begin(), values.end());
            double sum = 0;
            for (double v : values)
                sum += v;
            const double mean = values.empty() ? std::nan("") : sum / double(values.size());
            const double figures[] = {mean, quantile(values, 0.05), quantile(values, 0.5),
                                      quantile(values, 0.95)};
            if (asCsv) {
                for (double f : figures)
                    fields.append(number(f));
                continue;
            }
            out += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                       .arg(row.h, axisWidth)
                       .arg(row.cover, 5)
                       .arg(metricKey(scanned[m]), -10)
                       .arg(qint64(values.size()), 5)
                       .arg(number(figures[0]), 11)
                       .arg(number(figures[1]), 11)
                       .arg(number(figures[2]), 11)
                       .arg(number(figures[3]), 11);
        }
        if (asCsv)
            out += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    m_cli.printOut(out);
    return CommandLine::Success;
}
