// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/scancommand.h"

#include "cli/commandline.h"
#include "core/batchoptions.h"
#include "core/batchprogress.h"
#include "core/mappublisher.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cmath>
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
        const QString h = record.kind == MapRecord::Kind::Fractal
                              ? QString::asprintf("%.2f", record.H)
                              : QStringLiteral("-");
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
        "prints the mean, 5 %, 50 % and 95 % of each metric per H and cover, to choose\n"
        "--target bounds a batch can reach. FAMILY is random or fractal."));
    parser.addPositionalArgument(QStringLiteral("FAMILY"), QStringLiteral("random or fractal"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption samples(QStringLiteral("samples"),
                                     QStringLiteral("Maps per H and cover. Default: 50."),
                                     QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Prints the table as CSV, one column a figure."));
    parser.addOption(help);
    parser.addOption(samples);
    parser.addOption(csv);
    // The options that shape the maps are the batch commands' own.
    const char *shared[] = {"cover",      "size",       "hurst",    "seed",
                            "first_seed", "neighbours", "cell_size"};
    std::vector<std::pair<const BatchOption *, QCommandLineOption>> options;
    for (const char *key : shared) {
        const BatchKind kind = findBatchOption(BatchKind::Random, QLatin1String(key))
                                   ? BatchKind::Random
                                   : BatchKind::Fractal;
        const BatchOption *option = findBatchOption(kind, QLatin1String(key));
        QString text = optionHelp(kind, *option);
        if (std::string_view(key) == "hurst" || std::string_view(key) == "first_seed")
            text += QStringLiteral(" Fractal only.");
        options.emplace_back(
            option, QCommandLineOption(option->cliName(), text, QLatin1String(option->valueName)));
        parser.addOption(options.back().second);
    }
    if (const auto done = m_cli.parseArguments(parser, help, arguments,
                                               QStringLiteral("Usage: %1 scan FAMILY [options]")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 ||
        (positional[0] != QLatin1String("random") && positional[0] != QLatin1String("fractal")))
        return m_cli.usageError(QStringLiteral("scan needs one FAMILY: random or fractal"));
    const bool fractal = positional[0] == QLatin1String("fractal");
    bool ok = false;
    const int count = parser.value(samples).toInt(&ok);
    if (!ok || count < 1 || count > 100000)
        return m_cli.usageError(
            QStringLiteral("--samples must be a whole number in 1..100000, not '%1'")
                .arg(parser.value(samples)));

    RandomBatchRequest random;
    FractalBatchRequest fbm;
    for (BatchOutput *output : {&random.output, &fbm.output})
        output->metrics = true;
    random.generator = fbm.generator = Generator::Philox;
    random.replicates = fbm.replicates = count;
    fbm.cut = FractalCut::Exact;
    fbm.distinctSurfaces = true;
    fbm.surfaces = count;
    random.covers = fbm.covers = {30, 30, 1};
    for (const auto &[option, parserOption] : options) {
        if (!parser.isSet(parserOption))
            continue;
        const OptionValue value(parser.value(parserOption));
        std::optional<OptionError> error;
        if (fractal && findBatchOption(BatchKind::Fractal, QLatin1String(option->key)))
            error = setOption(fbm, *option, value);
        else if (!fractal && findBatchOption(BatchKind::Random, QLatin1String(option->key)))
            error = setOption(random, *option, value);
        else
            return m_cli.usageError(QStringLiteral("--%1 is not an option of %2 maps")
                                        .arg(option->cliName(), positional[0]));
        if (error)
            return m_cli.usageError(
                QStringLiteral("--%1 %2").arg(option->cliName(), error->reason));
    }
    if (const auto refusal = fractal ? fbm.refusal() : random.refusal())
        return m_cli.usageError(*refusal);

    std::vector<Row> rows;
    std::optional<QString> failure;
    if (fractal) {
        FractalMapGenerator generator(fbm);
        failure = sample(generator, rows);
    } else {
        RandomMapGenerator generator(random);
        failure = sample(generator, rows);
    }
    if (failure)
        return m_cli.runFailure(*failure);

    const bool asCsv = parser.isSet(csv);
    QStringList header{QStringLiteral("H"), QStringLiteral("cover"), QStringLiteral("maps")};
    for (TargetMetric metric : scanned)
        for (const char *figure : {"mean", "p5", "p50", "p95"})
            header.append(QStringLiteral("%1_%2").arg(QLatin1String(metricWord(metric)),
                                                      QLatin1String(figure)));
    QString out;
    if (asCsv)
        out += header.join(QLatin1Char(',')) + QLatin1Char('\n');
    else
        out += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                   .arg(QStringLiteral("H"), -5)
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
                       .arg(row.h, -5)
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
