// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/maptargets.h"

#include "core/batch/rangeparser.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

constexpr TargetMetric allMetrics[] = {TargetMetric::Np,     TargetMetric::Lpi,
                                       TargetMetric::AreaMn, TargetMetric::AreaAm,
                                       TargetMetric::Ed,     TargetMetric::GyrateAm};

QString tr(const char *text)
{
    return QCoreApplication::translate("MapTargets", text);
}

QString boundText(const std::optional<double> &bound)
{
    return bound ? QString::number(*bound) : QString();
}

} // namespace

const char *metricWord(TargetMetric metric)
{
    switch (metric) {
    case TargetMetric::Np:
        return "np";
    case TargetMetric::Lpi:
        return "lpi";
    case TargetMetric::AreaMn:
        return "area_mn";
    case TargetMetric::AreaAm:
        return "area_am";
    case TargetMetric::Ed:
        return "ed";
    case TargetMetric::GyrateAm:
        return "gyrate_am";
    }
    return "";
}

double metricValue(const LandscapeMetrics &m, TargetMetric metric)
{
    switch (metric) {
    case TargetMetric::Np:
        return double(m.patchCount);
    case TargetMetric::Lpi:
        return m.largestPatchIndex;
    case TargetMetric::AreaMn:
        return m.meanPatchArea;
    case TargetMetric::AreaAm:
        return m.areaWeightedMeanPatchArea;
    case TargetMetric::Ed:
        return m.edgeDensity;
    case TargetMetric::GyrateAm:
        return m.areaWeightedMeanGyration;
    }
    return std::nan("");
}

std::optional<TargetMetric> legacyMetric(const MetricTarget &target)
{
    const auto *metric = std::get_if<ClassMetric>(&target.metric);
    if (!metric || target.classCode)
        return std::nullopt;
    for (TargetMetric legacy : allMetrics)
        if (qstrcmp(metricName(*metric), metricWord(legacy)) == 0)
            return legacy;
    return std::nullopt;
}

std::optional<QString> parseMetricKey(QStringView text, MetricTarget &target)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    const QStringView prefix = colon < 0 ? QStringView() : text.first(colon).trimmed();
    const QStringView name = text.sliced(colon + 1).trimmed();
    std::optional<ClassMetric> classMetric;
    std::optional<LandscapeMetric> landscapeMetric;
    for (int m = 0; m < classMetricCount; ++m)
        if (name.compare(QLatin1String(metricName(ClassMetric(m))), Qt::CaseInsensitive) == 0)
            classMetric = ClassMetric(m);
    for (int m = 0; m < landscapeMetricCount; ++m)
        if (name.compare(QLatin1String(metricName(LandscapeMetric(m))), Qt::CaseInsensitive) == 0)
            landscapeMetric = LandscapeMetric(m);
    const auto known = [](MetricLevel level) {
        return MetricSelection::knownNames(level).join(QLatin1String(", "));
    };
    const bool landscape = prefix.compare(QLatin1String("landscape"), Qt::CaseInsensitive) == 0;
    std::optional<qint32> classCode;
    if (colon >= 0 && !landscape) {
        bool ok = false;
        classCode = prefix.toInt(&ok);
        if (!ok)
            return tr("has '%1' before '%2', which is neither 'landscape' nor a class code")
                .arg(prefix.toString(), name.toString());
    }
    if (!classMetric && !landscapeMetric)
        return tr("names no metric '%1'; the class metrics are %2; the landscape metrics are %3")
            .arg(name.toString(), known(MetricLevel::Class), known(MetricLevel::Landscape));
    if (landscape && !landscapeMetric)
        return tr("names %1 at landscape level, which has no such metric; the landscape "
                  "metrics are %2")
            .arg(name.toString(), known(MetricLevel::Landscape));
    if (classCode && !classMetric)
        return tr("names %1 of class %2, but it is a landscape metric only; the class metrics "
                  "are %3")
            .arg(name.toString(), QString::number(*classCode), known(MetricLevel::Class));
    target.classCode = classCode;
    if (landscape || !classMetric)
        target.metric = *landscapeMetric;
    else
        target.metric = *classMetric;
    return std::nullopt;
}

QString metricKey(const MetricTarget &target)
{
    if (const auto *metric = std::get_if<LandscapeMetric>(&target.metric)) {
        const QLatin1String name(metricName(*metric));
        // A name the class level has too would read back as the habitat
        // class's.
        for (int m = 0; m < classMetricCount; ++m)
            if (name == QLatin1String(metricName(ClassMetric(m))))
                return QStringLiteral("landscape:") + name;
        return name;
    }
    const QLatin1String name(metricName(std::get<ClassMetric>(target.metric)));
    return target.classCode ? QStringLiteral("%1:%2").arg(*target.classCode).arg(name)
                            : QString(name);
}

double targetValue(const MetricTarget &target, const LandscapeMetrics &habitat,
                   std::span<const MetricRow> rows, qint32 coverCode)
{
    if (const std::optional<TargetMetric> legacy = legacyMetric(target))
        return metricValue(habitat, *legacy);
    std::optional<double> value;
    if (const auto *metric = std::get_if<LandscapeMetric>(&target.metric))
        value =
            findMetricValue(rows, MetricLevel::Landscape, 0, QLatin1String(metricName(*metric)));
    else
        value = findMetricValue(rows, MetricLevel::Class, target.classCode.value_or(coverCode),
                                QLatin1String(metricName(std::get<ClassMetric>(target.metric))));
    return value.value_or(std::nan(""));
}

bool meetsTarget(const MetricTarget &target, double value)
{
    return !std::isnan(value) && !(target.min && value < *target.min) &&
           !(target.max && value > *target.max);
}

std::optional<QString> parseTargets(QStringView text, std::vector<MetricTarget> &targets)
{
    std::vector<MetricTarget> parsed;
    const auto bad = [&text](QStringView part) {
        return tr("must be [LEVEL:]METRIC=MIN:MAX (LEVEL 'landscape' or a class code) and "
                  "either bound may be left empty, not '%1'")
            .arg(part.isEmpty() ? text.toString() : part.toString());
    };
    for (const QStringView part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        if (equals < 0)
            return bad(part);
        const QStringView bounds = part.sliced(equals + 1);
        const qsizetype colon = bounds.indexOf(QLatin1Char(':'));
        if (colon < 0 || bounds.count(QLatin1Char(':')) != 1)
            return bad(part);
        const QStringView low = bounds.first(colon).trimmed();
        const QStringView high = bounds.sliced(colon + 1).trimmed();
        MetricTarget target;
        if (const auto refusal = parseMetricKey(part.first(equals), target))
            return QStringLiteral("'%1' %2").arg(part.toString(), *refusal);
        for (auto [side, bound] : {std::pair{low, &target.min}, std::pair{high, &target.max}}) {
            if (side.isEmpty())
                continue;
            const auto value = parseDouble(side);
            if (!value || !std::isfinite(*value))
                return bad(part);
            *bound = *value;
        }
        if (target.min && target.max && *target.min > *target.max)
            return tr("has a lower bound above its upper bound: '%1'").arg(part.toString());
        // Two bounds of one metric say two things; keeping either would
        // keep maps the other refuses.
        if (std::any_of(parsed.begin(), parsed.end(), [&](const MetricTarget &t) {
                return t.metric == target.metric && t.classCode == target.classCode;
            }))
            return tr("names %1 twice; give each metric once, with both its bounds")
                .arg(metricKey(target));
        parsed.push_back(target);
    }
    if (parsed.empty())
        return bad(text);
    targets = std::move(parsed);
    return std::nullopt;
}

QString targetsText(const std::vector<MetricTarget> &targets)
{
    QStringList parts;
    for (const MetricTarget &target : targets)
        parts.append(QStringLiteral("%1=%2:%3")
                         .arg(metricKey(target), boundText(target.min), boundText(target.max)));
    return parts.join(QLatin1Char(','));
}

MapSelector::MapSelector(const std::vector<MetricTarget> &targets, int columns, int neighbours,
                         double cellSize, qint32 coverCode, qint32 matrixCode)
    : m_targets(targets)
    , m_coverCode(coverCode)
    , m_matrixCode(matrixCode)
    , m_row(std::size_t(columns), 0)
    , m_neighbours(neighbours)
    , m_cellSize(cellSize)
{
    MetricSelection selection;
    for (const MetricTarget &target : m_targets) {
        if (legacyMetric(target))
            continue;
        std::visit([&selection](auto metric) { selection.add(metric); }, target.metric);
    }
    if (std::any_of(m_targets.begin(), m_targets.end(),
                    [](const MetricTarget &t) { return legacyMetric(t).has_value(); }))
        m_accumulator.emplace(columns, neighbours, cellSize);
    if (!selection.isEmpty()) {
        MetricOptions options;
        options.neighbours = neighbours;
        options.cellSize = cellSize;
        m_measurer = std::make_unique<LandscapeMeasurer>(columns, options, selection);
    }
}

MapSelector::~MapSelector() = default;

void MapSelector::measureClasses(std::vector<qint32> codes, qint32 outside)
{
    m_accumulator.reset();
    MetricSelection selection;
    for (const MetricTarget &target : m_targets)
        std::visit([&selection](auto metric) { selection.add(metric); }, target.metric);
    MetricOptions options;
    options.neighbours = m_neighbours;
    options.cellSize = m_cellSize;
    options.noData = outside;
    m_measurer = std::make_unique<LandscapeMeasurer>(int(m_row.size()), options, selection);
    // A bare class metric reads the last class, as it reads habitat on a
    // map of two.
    m_coverCode = codes.back();
    m_codes = std::move(codes);
    m_outside = outside;
    m_codeRow.assign(m_row.size(), 0);
}

bool MapSelector::decide()
{
    const LandscapeMetrics habitat = m_accumulator ? m_accumulator->finish() : LandscapeMetrics();
    const std::vector<MetricRow> rows =
        m_measurer ? m_measurer->finish() : std::vector<MetricRow>();
    return std::all_of(m_targets.begin(), m_targets.end(), [&](const MetricTarget &target) {
        return meetsTarget(target, targetValue(target, habitat, rows, m_coverCode));
    });
}

SelectionLedger::Cell &SelectionLedger::cell(std::pair<int, int> key, const QString &name)
{
    Cell &cell = m_cells[key];
    if (cell.name.isEmpty())
        cell.name = name;
    return cell;
}

QStringList SelectionLedger::acceptance(int replicates) const
{
    QStringList lines;
    for (const auto &[key, cell] : m_cells) {
        if (cell.kept < replicates)
            continue;
        const double rate = cell.draws > 0 ? 100.0 * cell.kept / double(cell.draws) : 0.0;
        lines.append(tr("%1: %2 of %3 maps kept from %4 draws (acceptance %5 %)")
                         .arg(cell.name, QString::number(cell.kept), QString::number(replicates),
                              QString::number(cell.draws), QString::asprintf("%.1f", rate)));
    }
    return lines;
}

QList<Phrase> SelectionLedger::shortfalls(int replicates, qint64 maxDraws) const
{
    QList<Phrase> lines;
    for (const auto &[key, cell] : m_cells)
        if (cell.kept < replicates)
            lines.append(
                Phrase::marked(tr("%1 fell short: %2 of %3 maps met the targets in %4 "
                                  "draws (%5)"))
                    .arg(cell.name)
                    .arg(qint64(cell.kept))
                    .arg(qint64(replicates))
                    .arg(cell.draws)
                    .arg(Phrase::mention(QStringLiteral("max_draws"), QString::number(maxDraws))));
    return lines;
}
