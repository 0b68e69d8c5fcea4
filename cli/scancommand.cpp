// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/scancommand.h"

#include "cli/commandline.h"
#include "core/batch/batchoptions.h"
#include "core/batch/batchprogress.h"
#include "core/batch/mappublisher.h"
#include "fractal/fractalmapgenerator.h"
#include "gaussian/gaussianmapgenerator.h"
#include "random/randommapgenerator.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace {

constexpr TargetMetric scanned[] = {TargetMetric::Np,     TargetMetric::Lpi,
                                    TargetMetric::AreaMn, TargetMetric::AreaAm,
                                    TargetMetric::Ed,     TargetMetric::GyrateAm};

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

QString number(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 6) : QStringLiteral("NA");
}

struct Row {
    QString h;
    int cover = 0;
    int maps = 0;
    std::vector<std::vector<double>> values{std::size(scanned)};
};

// Every map of a request, kept in memory and measured, in rows by H and
// cover.
template <typename Generator>
std::optional<QString> sample(Generator &generator, std::vector<Row> &rows)
{
    MapPublisher publisher([&rows](MapRecord record, std::vector<qint32>) {
        // A row is a value of the family's sweep: H, or a field's range.
        QString h = QStringLiteral("-");
        if (record.kind == MapRecord::Kind::Fractal ||
            (record.kind == MapRecord::Kind::Gaussian && record.model == CovarianceModel::Fbm))
            h = QString::asprintf("%.2f", record.H);
        else if (record.kind == MapRecord::Kind::Gaussian)
            h = QString::asprintf("%.2f", record.range);
        auto row = std::find_if(rows.begin(), rows.end(), [&](const Row &r) {
            return r.h == h && r.cover == record.requestedCover;
        });
        if (row == rows.end()) {
            rows.push_back({h, record.requestedCover});
            row = rows.end() - 1;
        }
        ++row->maps;
        for (std::size_t m = 0; m < std::size(scanned); ++m) {
            const double value = metricValue(*record.metrics, scanned[m]);
            if (!std::isnan(value))
                row->values[m].push_back(value);
        }
    });
    NullProgress progress;
    const BatchResult result = generator.makeMaps(QString(), publisher, progress);
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
    parser.setApplicationDescription(QStringLiteral(
        "Makes a pilot sample of maps of a family in memory, with independent draws, and\n"
        "prints the mean, 5 %, 50 % and 95 % of each metric per value of the family's\n"
        "sweep (H, or a Gaussian field's range) and cover, to choose --target bounds a\n"
        "batch can reach. FAMILY is random, fractal or gaussian."));
    parser.addPositionalArgument(QStringLiteral("FAMILY"),
                                 QStringLiteral("random, fractal or gaussian"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption samples(QStringLiteral("samples"),
                                     QStringLiteral("Maps per value and cover. Default: 50."),
                                     QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Prints the table as CSV, one column a figure."));
    parser.addOption(help);
    parser.addOption(samples);
    parser.addOption(csv);
    // The options that shape the maps are the batch commands' own; an
    // option some families lack says which have it.
    const char *shaping[] = {"cover", "size",  "hurst", "seed",       "first_seed",
                             "model", "range", "nu",    "neighbours", "cell_size"};
    std::vector<std::pair<QString, QCommandLineOption>> options;
    for (const char *key : shaping) {
        // Each family's help, which differ where the limits or the default do.
        const BatchOption *first = nullptr;
        QStringList owners;
        QStringList helps;
        for (const BatchKind kind : batchKinds) {
            const BatchOption *option = findBatchOption(kind, QLatin1String(key));
            if (!option)
                continue;
            first = first ? first : option;
            QString text = optionHelp(kind, *option);
            if (std::string_view(key) == "cover") // a pilot sample is of one cover unless asked
                text.replace(QStringLiteral("Default: %1.").arg(optionDefaultText(kind, *option)),
                             QStringLiteral("Default: 30."));
            owners.append(QLatin1String(kindWord(kind)));
            helps.append(text);
        }
        QString text = helps.first();
        if (helps.count(helps.first()) != helps.size()) {
            QStringList each;
            for (qsizetype i = 0; i < helps.size(); ++i)
                each.append(QStringLiteral("%1 maps: %2").arg(owners[i], helps[i]));
            text = each.join(QLatin1Char(' '));
        } else if (owners.size() < qsizetype(std::size(batchKinds))) {
            text += QStringLiteral(" For %1 maps.").arg(owners.join(QStringLiteral(" and ")));
        }
        options.emplace_back(
            QLatin1String(key),
            QCommandLineOption(first->cliName(), text, QLatin1String(first->valueName)));
        parser.addOption(options.back().second);
    }
    if (const auto done = m_cli.parseArguments(parser, help, arguments,
                                               QStringLiteral("Usage: %1 scan FAMILY [options]")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    const std::optional<BatchKind> family =
        positional.size() == 1 ? batchKindNamed(positional[0]) : std::nullopt;
    if (!family)
        return m_cli.usageError(
            QStringLiteral("scan needs one FAMILY: random, fractal or gaussian"));
    bool ok = false;
    const int count = parser.value(samples).toInt(&ok);
    if (!ok || count < 1 || count > 100000)
        return m_cli.usageError(
            QStringLiteral("--samples must be a whole number in 1..100000, not '%1'")
                .arg(parser.value(samples)));

    // Every sample map an independent draw: the choices targets require.
    RandomBatchRequest random;
    FractalBatchRequest fbm;
    GaussianBatchRequest field;
    for (BatchOutput *output : {&random.output, &fbm.output, &field.output})
        output->metrics = true;
    random.generator = fbm.generator = Generator::Philox;
    random.replicates = fbm.replicates = field.replicates = count;
    fbm.cut = field.cut = FractalCut::Exact;
    fbm.distinctSurfaces = true;
    fbm.surfaces = count;
    random.covers = fbm.covers = field.covers = {30, 30, 1};
    for (const auto &[key, parserOption] : options) {
        if (!parser.isSet(parserOption))
            continue;
        const BatchOption *option = findBatchOption(*family, key);
        if (!option)
            return m_cli.usageError(QStringLiteral("--%1 is not an option of %2 maps")
                                        .arg(parserOption.names().constFirst(), positional[0]));
        const OptionValue value(parser.value(parserOption));
        std::optional<OptionError> error;
        switch (*family) {
        case BatchKind::Random:
            error = setOption(random, *option, value);
            break;
        case BatchKind::Fractal:
            error = setOption(fbm, *option, value);
            break;
        case BatchKind::Gaussian:
            error = setOption(field, *option, value);
            break;
        }
        if (error)
            return m_cli.usageError(
                QStringLiteral("--%1 %2").arg(option->cliName(), error->reason));
    }

    std::vector<Row> rows;
    std::optional<QString> refusal;
    std::optional<QString> failure;
    const auto measure = [&](auto &&generator) {
        refusal = generator.refusal();
        if (!refusal)
            failure = sample(generator, rows);
    };
    switch (*family) {
    case BatchKind::Random:
        measure(RandomMapGenerator(random));
        break;
    case BatchKind::Fractal:
        measure(FractalMapGenerator(fbm));
        break;
    case BatchKind::Gaussian:
        measure(GaussianMapGenerator(field));
        break;
    }
    if (refusal)
        return m_cli.usageError(*refusal);
    if (failure)
        return m_cli.runFailure(*failure);

    const bool asCsv = parser.isSet(csv);
    const QString axis = *family == BatchKind::Gaussian && field.model != CovarianceModel::Fbm
                             ? QStringLiteral("range")
                             : QStringLiteral("H");
    // Ranges run to 10000.00; H keeps the narrow column it always had.
    const int axisWidth = *family == BatchKind::Gaussian ? -8 : -5;
    QStringList header{axis, QStringLiteral("cover"), QStringLiteral("maps")};
    for (TargetMetric metric : scanned)
        for (const char *figure : {"mean", "p5", "p50", "p95"})
            header.append(QStringLiteral("%1_%2").arg(QLatin1String(metricWord(metric)),
                                                      QLatin1String(figure)));
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
        for (std::size_t m = 0; m < std::size(scanned); ++m) {
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
                       .arg(QLatin1String(metricWord(scanned[m])), -10)
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
