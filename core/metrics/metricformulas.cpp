// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/metricformulas.h"

#include "core/metrics/centroiddistances.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

constexpr double notAvailable = std::numeric_limits<double>::quiet_NaN();

qint64 wholeSquareRoot(qint64 value)
{
    auto root = qint64(std::sqrt(double(value)));
    while (root * root > value)
        --root;
    while ((root + 1) * (root + 1) <= value)
        ++root;
    return root;
}

// The fewest cell sides around `cells` cells: those of the most compact
// patch, a square or a square with a partly filled extra row and column.
qint64 minimumPerimeter(qint64 cells)
{
    const qint64 n = wholeSquareRoot(cells);
    if (cells == n * n)
        return 4 * n;
    return cells <= n * (n + 1) ? 4 * n + 2 : 4 * n + 4;
}

// The most sides `cells` cells can share, in the same most compact patch.
qint64 mostLikeSides(qint64 cells)
{
    const qint64 n = wholeSquareRoot(cells);
    const qint64 m = cells - n * n;
    if (m == 0)
        return 2 * n * (n - 1);
    return 2 * n * (n - 1) + 2 * m - (m <= n ? 1 : 2);
}

// What the patch-level metrics of a class, or of the landscape, sum to.
struct PatchSummary {
    qint64 count = 0;
    qint64 cells = 0;
    qint64 largest = 0;
    double cellSquares = 0;
    double perimeters = 0;
    double perimetersTimesRootCells = 0;
    double shapes = 0;
    double fractalIndices = 0;
    double gyrations = 0;
    double cellsTimesGyrations = 0;
    double nearestDistances = 0;
    qint64 withNearest = 0;
    // Sample standard deviation of the patches' cells (n - 1).
    double cellDeviation = notAvailable;
    double pafrac = notAvailable;
};

// The logarithms the fractal dimensions need of each patch, taken once per
// patch though a patch is summed at its class's level and the landscape's.
struct PatchLogs {
    // Of a quarter of its perimeter and of its area, for its fractal
    // dimension; of its perimeter, for the slope of the classes and the
    // landscape.
    double quarterPerimeter;
    double area;
    double perimeter;
};

std::vector<PatchLogs> patchLogs(std::span<const Patch> patches, double cellSize)
{
    std::vector<PatchLogs> logs(patches.size());
    for (std::size_t p = 0; p < patches.size(); ++p) {
        const auto cells = double(patches[p].cells);
        const auto perimeter = double(patches[p].perimeter);
        logs[p] = {std::log(0.25 * perimeter * cellSize), std::log(cells * cellSize * cellSize),
                   std::log(perimeter * cellSize)};
    }
    return logs;
}

// `logs` is empty when no fractal dimension is asked for, or has an entry
// for each patch of the map, whose first is `first`.
PatchSummary summarise(std::span<const Patch *const> patches, double cellSize,
                       std::span<const PatchLogs> logs, const Patch *first)
{
    PatchSummary s;
    s.count = qint64(patches.size());
    const auto logsOf = [&logs, first](const Patch *p) -> const PatchLogs & {
        return logs[std::size_t(p - first)];
    };
    for (const Patch *p : patches) {
        const auto cells = double(p->cells);
        const auto perimeter = double(p->perimeter);
        s.cells += p->cells;
        s.largest = std::max(s.largest, p->cells);
        s.cellSquares += cells * cells;
        s.perimeters += perimeter;
        s.perimetersTimesRootCells += perimeter * std::sqrt(cells);
        s.shapes += perimeter / (4.0 * std::sqrt(cells));
        s.gyrations += p->gyration;
        s.cellsTimesGyrations += cells * p->gyration;
        if (p->nearestSquare >= 0) {
            s.nearestDistances += std::sqrt(double(p->nearestSquare)) * cellSize;
            ++s.withNearest;
        }
    }
    if (s.count > 1) {
        const double mean = double(s.cells) / double(s.count);
        double squares = 0;
        for (const Patch *p : patches)
            squares += (double(p->cells) - mean) * (double(p->cells) - mean);
        s.cellDeviation = std::sqrt(squares / double(s.count - 1));
    }
    if (logs.empty())
        return s;
    for (const Patch *p : patches) {
        // 0 / 0 for a one-cell patch of unit cells, which the reference tool
        // counts as 1, the dimension of a square.
        const double fractal = 2.0 * logsOf(p).quarterPerimeter / logsOf(p).area;
        s.fractalIndices += std::isnan(fractal) ? 1.0 : fractal;
    }
    // The least-squares slope of log area on log perimeter, centred so that
    // nothing cancels.
    if (s.count >= 10) {
        double meanX = 0;
        double meanY = 0;
        for (const Patch *p : patches) {
            meanX += logsOf(p).perimeter;
            meanY += logsOf(p).area;
        }
        meanX /= double(s.count);
        meanY /= double(s.count);
        double sxx = 0;
        double sxy = 0;
        for (const Patch *p : patches) {
            const double x = logsOf(p).perimeter - meanX;
            const double y = logsOf(p).area - meanY;
            sxx += x * x;
            sxy += x * y;
        }
        if (sxx > 0)
            s.pafrac = 2.0 / (sxy / sxx);
    }
    return s;
}

double xLogX(double x)
{
    return x > 0 ? x * std::log(x) : 0.0;
}

using ClassValues = std::array<double, classMetricCount>;
using LandscapeValues = std::array<double, landscapeMetricCount>;

} // namespace

void PairCounts::addRarely(std::int32_t a, std::int32_t b, qint64 sides)
{
    if (!m_sparse && b >= denseClasses) {
        for (std::int32_t i = 0; i < m_classes; ++i)
            for (std::int32_t j = i + 1; j < m_classes; ++j)
                if (const qint64 n = m_dense[std::size_t(i * denseClasses + j)])
                    m_map[(quint64(quint32(i)) << 32) | quint32(j)] = n;
        m_dense.clear();
        m_sparse = true;
    }
    if (m_sparse) {
        m_map[(quint64(quint32(a)) << 32) | quint32(b)] += sides;
        return;
    }
    if (m_dense.empty())
        m_dense.assign(std::size_t(denseClasses) * denseClasses, 0);
    m_classes = std::max(m_classes, b + 1);
    m_dense[std::size_t(a * denseClasses + b)] += sides;
}

void PairCounts::clear()
{
    m_map.clear();
    m_sparse = false;
    if (!m_dense.empty()) {
        for (std::int32_t i = 0; i < m_classes; ++i)
            std::fill_n(m_dense.begin() + i * denseClasses, m_classes, 0);
    }
    m_classes = 0;
}

std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, qint64>> PairCounts::pairs() const
{
    std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, qint64>> result;
    if (m_sparse) {
        for (const auto &[key, n] : m_map)
            result.push_back({{std::int32_t(key >> 32), std::int32_t(key & 0xffffffffu)}, n});
        std::sort(result.begin(), result.end());
        return result;
    }
    for (std::int32_t i = 0; i < m_classes; ++i)
        for (std::int32_t j = i + 1; j < m_classes; ++j)
            if (const qint64 n = m_dense[std::size_t(i * denseClasses + j)])
                result.push_back({{i, j}, n});
    return result;
}

void LandscapeCounts::addClass()
{
    for (std::vector<qint64> *column : {&cells, &like, &unlike, &noData, &border})
        column->push_back(0);
}

void LandscapeCounts::clear()
{
    for (std::vector<qint64> *column : {&cells, &like, &unlike, &noData, &border})
        column->clear();
    pairs.clear();
}

void addGyration(std::span<const PatchRun> runs, std::vector<Patch> &patches, double cellSize)
{
    std::vector<std::array<double, 2>> lanes(patches.size(), {0.0, 0.0});
    for (const PatchRun &run : runs) {
        const Patch &patch = patches[std::size_t(run.patch)];
        addRunDistances(run.start, run.end, patch.centreColumn, double(run.row) - patch.centreRow,
                        lanes[std::size_t(run.patch)].data());
    }
    for (std::size_t p = 0; p < patches.size(); ++p) {
        Patch &patch = patches[p];
        patch.centroidDistances = lanes[p][0] + lanes[p][1];
        patch.gyration = patch.centroidDistances / double(patch.cells) * cellSize;
    }
}

std::vector<MetricRow> metricRows(std::span<const qint32> classCodes, const LandscapeCounts &counts,
                                  std::span<const Patch> patches, double cellSize,
                                  const MetricSelection &selection)
{
    const auto classCount = std::int32_t(classCodes.size());
    qint64 total = 0;
    for (const qint64 cells : counts.cells)
        total += cells;
    const double cellArea = cellSize * cellSize;
    // Hectares, as the reference tool gives them for metres.
    const double totalArea = double(total) * cellArea / 10000.0;

    // The patches of each class together, in the order they were found.
    std::vector<const Patch *> byClass(patches.size());
    std::vector<std::size_t> classStart(std::size_t(classCount) + 1, 0);
    for (const Patch &patch : patches)
        ++classStart[std::size_t(patch.cls) + 1];
    std::partial_sum(classStart.begin(), classStart.end(), classStart.begin());
    {
        std::vector<std::size_t> next(classStart.begin(), classStart.end() - 1);
        for (const Patch &patch : patches)
            byClass[next[std::size_t(patch.cls)]++] = &patch;
    }

    // Interspersion: the spread of each class's edge over the other
    // classes, and of all edge over the pairs of classes.
    const auto pairs = counts.pairs.pairs();
    std::vector<double> spread(std::size_t(classCount), 0.0);
    qint64 totalEdge = 0;
    for (const auto &[pair, sides] : pairs) {
        spread[std::size_t(pair.first)] +=
            xLogX(double(sides) / double(counts.unlike[std::size_t(pair.first)]));
        spread[std::size_t(pair.second)] +=
            xLogX(double(sides) / double(counts.unlike[std::size_t(pair.second)]));
        totalEdge += sides;
    }

    const bool fractal = selection.has(ClassMetric::FracMn) || selection.has(ClassMetric::Pafrac) ||
                         selection.has(LandscapeMetric::Pafrac);
    const std::vector<PatchLogs> logs =
        fractal ? patchLogs(patches, cellSize) : std::vector<PatchLogs>();

    std::vector<ClassValues> classValues(static_cast<std::size_t>(classCount));
    LandscapeValues land;
    land.fill(notAvailable);
    double weightedAggregation = 0;
    bool anyAggregation = false;
    for (std::int32_t i = 0; i < classCount; ++i) {
        ClassValues &v = classValues[std::size_t(i)];
        const auto at = std::size_t(i);
        const PatchSummary s = summarise(
            std::span(byClass.data() + classStart[at], classStart[at + 1] - classStart[at]),
            cellSize, logs, patches.data());
        const qint64 cells = counts.cells[at];
        const double area = double(cells) * cellArea / 10000.0;
        const double np = double(s.count);
        v[std::size_t(ClassMetric::Ca)] = area;
        v[std::size_t(ClassMetric::Pland)] = area / totalArea * 100.0;
        v[std::size_t(ClassMetric::Np)] = np;
        v[std::size_t(ClassMetric::Pd)] = np / totalArea * 100.0;
        v[std::size_t(ClassMetric::Lpi)] =
            double(s.largest) * cellArea / 10000.0 / totalArea * 100.0;
        const double edge = double(counts.unlike[at]) * cellSize;
        v[std::size_t(ClassMetric::Te)] = edge;
        v[std::size_t(ClassMetric::Ed)] = edge / (double(total) * cellArea) * 10000.0;
        // Here the border and NoData count as edge, in cell sides.
        v[std::size_t(ClassMetric::Lsi)] =
            double(counts.unlike[at] + counts.noData[at] + counts.border[at]) /
            double(minimumPerimeter(cells));
        v[std::size_t(ClassMetric::AreaMn)] = area / np;
        v[std::size_t(ClassMetric::AreaCv)] = s.cellDeviation / (double(s.cells) / np) * 100.0;
        v[std::size_t(ClassMetric::AreaAm)] = s.cellSquares / double(s.cells) * cellArea / 10000.0;
        v[std::size_t(ClassMetric::GyrateMn)] = s.gyrations / np;
        v[std::size_t(ClassMetric::GyrateAm)] = s.cellsTimesGyrations / double(s.cells);
        v[std::size_t(ClassMetric::ShapeMn)] = s.shapes / np;
        v[std::size_t(ClassMetric::FracMn)] = s.fractalIndices / np;
        v[std::size_t(ClassMetric::Pafrac)] = s.pafrac;
        v[std::size_t(ClassMetric::EnnMn)] =
            s.withNearest == s.count ? s.nearestDistances / np : notAvailable;
        v[std::size_t(ClassMetric::Cohesion)] = (1.0 - s.perimeters / s.perimetersTimesRootCells) /
                                                (1.0 - 1.0 / std::sqrt(double(total))) * 100.0;
        const qint64 most = mostLikeSides(cells);
        const double aggregation =
            most > 0 ? double(counts.like[at]) / double(most) * 100.0 : notAvailable;
        v[std::size_t(ClassMetric::Ai)] = aggregation;
        if (!std::isnan(aggregation)) {
            weightedAggregation += aggregation * v[std::size_t(ClassMetric::Pland)] / 100.0;
            anyAggregation = true;
        }
        // Like adjacencies counted both ways, against every side of the
        // class's cells less those of its most compact shape.
        const double proportion = double(cells) / double(total);
        const qint64 sidesLeft = 4 * cells - minimumPerimeter(cells);
        double clumpy = notAvailable;
        if (sidesLeft > 0 && proportion < 1.0) {
            const double g = 2.0 * double(counts.like[at]) / double(sidesLeft);
            clumpy = g < proportion && proportion < 0.5 ? (g - proportion) / proportion
                                                        : (g - proportion) / (1.0 - proportion);
        }
        v[std::size_t(ClassMetric::Clumpy)] = clumpy;
        v[std::size_t(ClassMetric::Pladj)] =
            2.0 * double(counts.like[at]) / (4.0 * double(cells)) * 100.0;
        const double totalSquare = double(total) * double(total);
        v[std::size_t(ClassMetric::Division)] = 1.0 - s.cellSquares / totalSquare;
        v[std::size_t(ClassMetric::Split)] = totalSquare / s.cellSquares;
        v[std::size_t(ClassMetric::Mesh)] = s.cellSquares / double(total) * cellArea / 10000.0;
        v[std::size_t(ClassMetric::Iji)] =
            classCount >= 3 && counts.unlike[at] > 0
                ? -spread[at] / std::log(double(classCount - 1)) * 100.0
                : notAvailable;
    }

    if (total > 0) {
        std::vector<const Patch *> all(patches.size());
        for (std::size_t p = 0; p < patches.size(); ++p)
            all[p] = &patches[p];
        const PatchSummary s = summarise(all, cellSize, logs, patches.data());
        const double np = double(s.count);
        qint64 like = 0;
        qint64 noData = 0;
        qint64 border = 0;
        double shannon = 0;
        double simpson = 0;
        for (std::size_t i = 0; i < std::size_t(classCount); ++i) {
            like += counts.like[i];
            noData += counts.noData[i];
            border += counts.border[i];
            const double proportion = double(counts.cells[i]) / double(total);
            shannon -= xLogX(proportion);
            simpson += proportion * proportion;
        }
        land[std::size_t(LandscapeMetric::Ta)] = totalArea;
        land[std::size_t(LandscapeMetric::Np)] = np;
        land[std::size_t(LandscapeMetric::Pd)] = np / totalArea * 100.0;
        land[std::size_t(LandscapeMetric::Lpi)] =
            double(s.largest) * cellArea / 10000.0 / totalArea * 100.0;
        const double edge = double(totalEdge) * cellSize;
        land[std::size_t(LandscapeMetric::Te)] = edge;
        land[std::size_t(LandscapeMetric::Ed)] = edge / (double(total) * cellArea) * 10000.0;
        land[std::size_t(LandscapeMetric::Lsi)] =
            double(totalEdge + noData + border) / double(minimumPerimeter(total));
        land[std::size_t(LandscapeMetric::AreaMn)] = totalArea / np;
        land[std::size_t(LandscapeMetric::GyrateMn)] = s.gyrations / np;
        land[std::size_t(LandscapeMetric::ShapeMn)] = s.shapes / np;
        land[std::size_t(LandscapeMetric::Pafrac)] = s.pafrac;
        land[std::size_t(LandscapeMetric::EnnMn)] =
            s.withNearest > 0 ? s.nearestDistances / double(s.withNearest) : notAvailable;
        land[std::size_t(LandscapeMetric::Cohesion)] =
            (1.0 - s.perimeters / s.perimetersTimesRootCells) /
            (1.0 - 1.0 / std::sqrt(double(total))) * 100.0;
        land[std::size_t(LandscapeMetric::Ai)] =
            anyAggregation ? weightedAggregation : notAvailable;
        // Sides on the border count; those that face NoData do not.
        land[std::size_t(LandscapeMetric::Pladj)] =
            2.0 * double(like) / (4.0 * double(total) - double(noData)) * 100.0;
        const double totalSquare = double(total) * double(total);
        land[std::size_t(LandscapeMetric::Division)] = 1.0 - s.cellSquares / totalSquare;
        land[std::size_t(LandscapeMetric::Split)] = totalSquare / s.cellSquares;
        land[std::size_t(LandscapeMetric::Mesh)] =
            s.cellSquares / double(total) * cellArea / 10000.0;
        // Contagion over the adjacency table counted both ways, like
        // adjacencies on its diagonal.
        const double adjacencies = 2.0 * double(like) + 2.0 * double(totalEdge);
        if (classCount >= 2 && adjacencies > 0) {
            double sum = 0;
            for (std::size_t i = 0; i < std::size_t(classCount); ++i)
                sum += xLogX(2.0 * double(counts.like[i]) / adjacencies);
            for (const auto &[pair, sides] : pairs)
                sum += 2.0 * xLogX(double(sides) / adjacencies);
            land[std::size_t(LandscapeMetric::Contag)] =
                (1.0 + sum / (2.0 * std::log(double(classCount)))) * 100.0;
        }
        land[std::size_t(LandscapeMetric::Shdi)] = shannon;
        land[std::size_t(LandscapeMetric::Shei)] =
            classCount > 1 ? shannon / std::log(double(classCount)) : 0.0;
        land[std::size_t(LandscapeMetric::Sidi)] = 1.0 - simpson;
        land[std::size_t(LandscapeMetric::Pr)] = double(classCount);
        if (classCount >= 3 && totalEdge > 0) {
            double sum = 0;
            for (const auto &[pair, sides] : pairs)
                sum += xLogX(double(sides) / double(totalEdge));
            const double classPairs = 0.5 * double(classCount) * double(classCount - 1);
            land[std::size_t(LandscapeMetric::Iji)] = -sum / std::log(classPairs) * 100.0;
        }
    }

    // Classes by code, as the reference tool lists them.
    std::vector<std::int32_t> order(static_cast<std::size_t>(classCount));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&classCodes](std::int32_t a, std::int32_t b) {
        return classCodes[std::size_t(a)] < classCodes[std::size_t(b)];
    });
    std::vector<MetricRow> rows;
    for (int m = 0; m < classMetricCount; ++m) {
        const auto metric = ClassMetric(m);
        if (!selection.has(metric))
            continue;
        for (const std::int32_t i : order)
            rows.push_back(MetricRow{MetricLevel::Class, classCodes[std::size_t(i)],
                                     metricName(metric),
                                     classValues[std::size_t(i)][std::size_t(m)]});
    }
    for (int m = 0; m < landscapeMetricCount; ++m) {
        const auto metric = LandscapeMetric(m);
        if (selection.has(metric))
            rows.push_back(
                MetricRow{MetricLevel::Landscape, 0, metricName(metric), land[std::size_t(m)]});
    }
    return rows;
}
