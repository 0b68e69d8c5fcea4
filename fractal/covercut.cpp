// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/covercut.h"

#include <algorithm>
#include <limits>

namespace covercut {

double coverFraction(const FbmBlock &block, double threshold)
{
    const qint64 pointCount = block.pointCount();
    qint64 above = 0;
    for (qint64 i = 0; i < pointCount; ++i)
        if (block.values[std::size_t(i)] > threshold)
            ++above;
    return double(above) / double(pointCount);
}

std::array<double, thresholdCount> thresholds()
{
    return ladderThresholds();
}

std::array<qint64, thresholdCount> aboveCounts(const FbmBlock &block)
{
    // The ladder between two sentinels that every number is above and
    // below, so that the search below needs no bounds checks.
    static const std::array<double, thresholdCount + 2> bounded = [] {
        std::array<double, thresholdCount + 2> b{};
        const auto ladder = thresholds();
        b.front() = -std::numeric_limits<double>::infinity();
        std::copy(ladder.begin(), ladder.end(), b.begin() + 1);
        b.back() = std::numeric_limits<double>::infinity();
        return b;
    }();

    // exceeded[e] counts the values that are above exactly the e lowest
    // thresholds; a value is above threshold k when its e is more than k.
    std::array<qint64, thresholdCount + 1> exceeded{};
    const qint64 pointCount = block.pointCount();
    for (qint64 i = 0; i < pointCount; ++i) {
        const double v = block.values[std::size_t(i)];
        if (!(v > bounded.front())) [[unlikely]] {
            // A NaN or minus infinity is above no threshold.
            ++exceeded[0];
            continue;
        }
        // The thresholds lie about 0.01 apart from 0.1, which puts a first
        // guess within one of the answer; the exact comparisons then settle
        // it, so the answer does not depend on the guess.
        const double scaled = v * 100.0;
        int e = 0;
        if (scaled >= 90.0)
            e = thresholdCount;
        else if (scaled >= 10.0)
            e = int(scaled) - 9;
        while (v > bounded[std::size_t(e) + 1])
            ++e;
        while (!(v > bounded[std::size_t(e)]))
            --e;
        ++exceeded[std::size_t(e)];
    }

    std::array<qint64, thresholdCount> above{};
    qint64 sum = 0;
    for (int k = thresholdCount - 1; k >= 0; --k) {
        sum += exceeded[std::size_t(k + 1)];
        above[std::size_t(k)] = sum;
    }
    return above;
}

FileResult writeCoverMap(const FbmBlock &block, const QString &fileName, double threshold,
                         int belowCode, int aboveCode, MapFileWriter::Format format,
                         qint64 *habitatCells)
{
    MapFileWriter writer(belowCode, aboveCode, format);
    if (FileResult error = writer.open(fileName, block.rows, block.columns))
        return error;
    for (int row = 0; row < block.rows; ++row)
        writer.putRow(block.columns,
                      [&block, row, threshold](int col) { return block.at(row, col) > threshold; });
    if (FileResult error = writer.commit())
        return error;
    if (habitatCells)
        *habitatCells = writer.habitatCellCount();
    return std::nullopt;
}

ExactCutter exactCutter(const FbmBlock &block)
{
    return ExactCutter(block.values.data(), block.rows, block.columns, block.stride());
}

std::array<bool, 101> reachableCovers(int rows, int columns)
{
    std::array<bool, 101> reachable{};
    const qint64 n = qint64(rows + 1) * qint64(columns + 1);
    // The percentage is what the run computes for a count, so that rounding
    // at a whole percentage falls the same way here as there; it never
    // falls as k grows, so the smallest k reaching c tells whether c is hit.
    auto percent = [n](qint64 k) { return coverPercent(double(k) / double(n)); };
    for (int cover = 0; cover <= 100; ++cover) {
        qint64 low = 1;
        qint64 high = n - 1;
        if (high < low)
            continue;
        while (low < high) {
            const qint64 middle = low + (high - low) / 2;
            if (percent(middle) >= cover)
                high = middle;
            else
                low = middle + 1;
        }
        reachable[std::size_t(cover)] = percent(low) == cover;
    }
    return reachable;
}

} // namespace covercut
