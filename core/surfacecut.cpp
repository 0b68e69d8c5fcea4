// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/surfacecut.h"

#include "core/mapwriter.h"

#include <algorithm>
#include <limits>

std::array<double, FractalBatchRequest::ladderSteps> ladderThresholds()
{
    std::array<double, FractalBatchRequest::ladderSteps> ladder{};
    double t = 0.1;
    for (double &threshold : ladder) {
        threshold = t;
        t += 0.01;
    }
    return ladder;
}

ExactCoverCut exactCoverCut(const double *values, int size, qsizetype stride, int cover,
                            std::vector<double> &scratch)
{
    const qint64 cells = qint64(size) * size;
    const qint64 taken = (qint64(cover) * cells + 50) / 100;
    if (taken <= 0)
        return {std::numeric_limits<double>::infinity(), 0};
    if (taken >= cells)
        return {-std::numeric_limits<double>::infinity(), 0};
    if (qint64(scratch.size()) != cells) {
        scratch.resize(std::size_t(cells));
        for (int row = 0; row < size; ++row)
            std::copy_n(values + row * stride, size,
                        scratch.begin() + std::ptrdiff_t(row) * std::ptrdiff_t(size));
    }
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

void putCutRows(MapWriter &writer, const double *values, int size, qsizetype stride,
                double threshold, qint64 tiesAbove)
{
    if (tiesAbove == 0) {
        for (int row = 0; row < size; ++row) {
            const double *line = values + row * stride;
            writer.putRow(size, [line, threshold](int col) { return line[col] > threshold; });
        }
        return;
    }
    CutCells cells(values, stride, threshold, tiesAbove);
    for (int row = 0; row < size; ++row)
        writer.putRow(size, [&cells, row](int col) { return cells(row, col); });
}
