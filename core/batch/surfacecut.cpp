// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/surfacecut.h"

#include "core/batch/classcut.h"
#include "core/batch/mapwriter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

std::array<double, ladderSteps> ladderThresholds()
{
    std::array<double, ladderSteps> ladder{};
    double t = 0.1;
    for (double &threshold : ladder) {
        threshold = t;
        t += 0.01;
    }
    return ladder;
}

namespace {

// Below this many cells ordering every value is as quick as bracketing.
constexpr qint64 bracketFrom = 4096;

} // namespace

ExactCutter::ExactCutter(const double *values, int rows, int columns, qsizetype stride)
    : m_values(values)
    , m_rows(rows)
    , m_columns(columns)
    , m_stride(stride)
{}

template <typename Visit> void ExactCutter::forEachValue(Visit visit) const
{
    for (int row = 0; row < m_rows; ++row) {
        const double *line = m_values + row * m_stride;
        for (int col = 0; col < m_columns; ++col)
            visit(line[col]);
    }
}

ExactCoverCut ExactCutter::cut(int cover)
{
    const qint64 cells = qint64(m_rows) * m_columns;
    const qint64 taken = (qint64(cover) * cells + 50) / 100;
    if (taken <= 0)
        return {std::numeric_limits<double>::infinity(), 0};
    if (taken >= cells)
        return {-std::numeric_limits<double>::infinity(), 0};
    if (cells >= bracketFrom)
        if (const std::optional<ExactCoverCut> cut = bracketedCut(taken))
            return *cut;
    return wholeCut(taken);
}

std::optional<ExactCoverCut> ExactCutter::bracketedCut(qint64 taken)
{
    const qint64 cells = qint64(m_rows) * m_columns;
    if (m_sample.empty()) {
        // Evenly spaced in row-major order: a sixteenth of the cells, at
        // most 65536, enough to bracket the threshold within about a
        // hundredth of the values. The step shares no factor with the
        // columns: one that does samples a few columns only, and misses
        // the rest of a surface that rises across the rows, such as a
        // plane. A constant step keeps the reads in the prefetcher's reach.
        const qint64 count = std::min<qint64>(cells / 16, 65536);
        qint64 step = cells / count;
        while (step > 1 && std::gcd(step, qint64(m_columns)) != 1)
            --step;
        m_sample.resize(std::size_t(count));
        for (qint64 i = 0; i < count; ++i) {
            const qint64 at = i * step;
            m_sample[std::size_t(i)] = m_values[(at / m_columns) * m_stride + at % m_columns];
        }
    }
    // The threshold's rank in the sample, counted from the top, is about
    // taken/cells of it; four standard deviations either side bracket it.
    const auto count = qint64(m_sample.size());
    const double share = double(taken) / double(cells);
    const double expected = share * double(count);
    const double margin = 4.0 * std::sqrt(double(count) * share * (1.0 - share)) + 2.0;
    const auto upperRank = qint64(std::floor(expected - margin));
    const auto lowerRank = qint64(std::ceil(expected + margin));
    // The sample value with `rank` values at or above it, from the top.
    auto ranked = [this, count](qint64 rank) {
        const auto at = m_sample.begin() + std::ptrdiff_t(count - rank);
        std::nth_element(m_sample.begin(), at, m_sample.end());
        return *at;
    };
    const double high =
        upperRank >= 1 ? ranked(upperRank) : std::numeric_limits<double>::infinity();
    const double low =
        lowerRank <= count ? ranked(lowerRank) : -std::numeric_limits<double>::infinity();

    qint64 above = 0;
    m_candidates.clear();
    forEachValue([&](double v) {
        above += v > high;
        if (v >= low && v <= high)
            m_candidates.push_back(v);
    });
    // The bracket missed: the taken-th largest value is outside it.
    if (!(above < taken && taken <= above + qint64(m_candidates.size())))
        return std::nullopt;
    const auto nth = m_candidates.end() - std::ptrdiff_t(taken - above);
    std::nth_element(m_candidates.begin(), nth, m_candidates.end());
    const double threshold = *nth;
    qint64 equal = 0;
    double below = -std::numeric_limits<double>::infinity();
    for (const double v : m_candidates) {
        above += v > threshold;
        equal += v == threshold;
        if (v < threshold)
            below = std::max(below, v);
    }
    const qint64 tiedTaken = taken - above;
    if (tiedTaken < equal)
        return ExactCoverCut{threshold, tiedTaken};
    // Every cell equal to the threshold is taken: the next lower value cuts
    // the same map with no ties to count. It lies below the bracket only
    // when nothing in it is lower.
    if (below == -std::numeric_limits<double>::infinity())
        forEachValue([&below, threshold](double v) {
            if (v < threshold)
                below = std::max(below, v);
        });
    return ExactCoverCut{below, 0};
}

ExactCoverCut ExactCutter::wholeCut(qint64 taken)
{
    const qint64 cells = qint64(m_rows) * m_columns;
    std::vector<double> &scratch = m_candidates;
    scratch.clear();
    forEachValue([&scratch](double v) { scratch.push_back(v); });
    // The taken-th largest value, by selection rather than a sort.
    const auto nth = scratch.begin() + std::ptrdiff_t(cells - taken);
    std::nth_element(scratch.begin(), nth, scratch.end());
    const double threshold = *nth;
    const qint64 above =
        std::count_if(nth, scratch.end(), [threshold](double v) { return v > threshold; });
    const qint64 tiedTaken = taken - above;
    // Everything before the selected value is at most that value.
    double next = -std::numeric_limits<double>::infinity();
    for (auto it = scratch.begin(); it != nth; ++it) {
        if (*it == threshold)
            return {threshold, tiedTaken};
        next = std::max(next, *it);
    }
    return {next, 0};
}

ExactCoverCut exactCoverCut(const double *values, int size, qsizetype stride, int cover)
{
    return ExactCutter(values, size, size, stride).cut(cover);
}

void putCutRows(MapWriter &writer, const double *values, int rows, int columns, qsizetype stride,
                double threshold, qint64 tiesAbove)
{
    if (tiesAbove == 0) {
        for (int row = 0; row < rows; ++row) {
            const double *line = values + row * stride;
            writer.putRow(columns, [line, threshold](int col) { return line[col] > threshold; });
        }
        return;
    }
    CutCells cells(values, stride, threshold, tiesAbove);
    for (int row = 0; row < rows; ++row)
        writer.putRow(columns, [&cells, row](int col) { return cells(row, col); });
}

SurfaceClassRows::SurfaceClassRows(const BatchOutput &output, int cover, const double *values,
                                   int rows, int columns, qsizetype stride)
{
    const std::uint8_t *inside = output.studyArea ? output.studyArea->inside.data() : nullptr;
    std::vector<double> shares = output.classShares();
    if (shares.empty())
        shares = {100.0 - cover, double(cover)};
    ClassCutter cutter(values, rows, columns, stride, inside);
    const std::vector<qint64> counts = classCounts(shares, cutter.validCells());
    m_cells = std::make_unique<ClassCells>(values, stride, inside, columns, cutter.cut(counts));
}

SurfaceClassRows::~SurfaceClassRows() = default;

void SurfaceClassRows::fill(int row, std::uint8_t *classes)
{
    m_cells->row(row, classes);
}

void putClassCut(MapWriter &writer, const BatchOutput &output, int cover, const double *values,
                 int rows, int columns, qsizetype stride)
{
    SurfaceClassRows cells(output, cover, values, rows, columns, stride);
    std::vector<std::uint8_t> row(std::size_t(columns), 0);
    for (int r = 0; r < rows; ++r) {
        cells.fill(r, row.data());
        writer.putClasses(row.data(), columns);
    }
}
