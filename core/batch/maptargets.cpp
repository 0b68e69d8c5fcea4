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

bool meetsTargets(const LandscapeMetrics &metrics, const std::vector<MetricTarget> &targets)
{
    for (const MetricTarget &target : targets) {
        const double value = metricValue(metrics, target.metric);
        if (std::isnan(value) || (target.min && value < *target.min) ||
            (target.max && value > *target.max))
            return false;
    }
    return true;
}

std::optional<QString> parseTargets(QStringView text, std::vector<MetricTarget> &targets)
{
    std::vector<MetricTarget> parsed;
    const auto bad = [&text](QStringView part) {
        return tr("must be METRIC=MIN:MAX with METRIC one of np, lpi, area_mn, area_am, ed, "
                  "gyrate_am and either bound may be left empty, not '%1'")
            .arg(part.isEmpty() ? text.toString() : part.toString());
    };
    for (const QStringView part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        const qsizetype colon = part.indexOf(QLatin1Char(':'));
        if (equals < 0 || colon < equals || part.count(QLatin1Char(':')) != 1)
            return bad(part);
        const QStringView word = part.first(equals).trimmed();
        const QStringView low = part.sliced(equals + 1, colon - equals - 1).trimmed();
        const QStringView high = part.sliced(colon + 1).trimmed();
        MetricTarget target;
        bool known = false;
        for (TargetMetric metric : allMetrics)
            if (word.compare(QLatin1String(metricWord(metric)), Qt::CaseInsensitive) == 0) {
                target.metric = metric;
                known = true;
            }
        if (!known)
            return bad(part);
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
        if (std::any_of(parsed.begin(), parsed.end(),
                        [&](const MetricTarget &t) { return t.metric == target.metric; }))
            return tr("names %1 twice; give each metric once, with both its bounds")
                .arg(QLatin1String(metricWord(target.metric)));
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
                         .arg(QLatin1String(metricWord(target.metric)), boundText(target.min),
                              boundText(target.max)));
    return parts.join(QLatin1Char(','));
}

MapSelector::MapSelector(const std::vector<MetricTarget> &targets, int columns, int neighbours,
                         double cellSize)
    : m_targets(targets)
    , m_accumulator(columns, neighbours, cellSize)
    , m_row(std::size_t(columns), 0)
{}

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
