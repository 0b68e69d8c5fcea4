// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/surfacecut.h"

#include "tests/support/cutsurfaces.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace {

// The cut by its definition: order the cells from the highest value down,
// equal values in row-major order, and take the first round(cover %).
ExactCoverCut sortedCut(const std::vector<double> &values, int cover)
{
    const auto cells = qint64(values.size());
    const qint64 taken = (qint64(cover) * cells + 50) / 100;
    if (taken <= 0)
        return {std::numeric_limits<double>::infinity(), 0};
    if (taken >= cells)
        return {-std::numeric_limits<double>::infinity(), 0};
    std::vector<double> order = values;
    std::sort(order.begin(), order.end(), std::greater<>());
    const double last = order[std::size_t(taken - 1)];
    const auto first = qint64(std::find(order.begin(), order.end(), last) - order.begin());
    const auto equal = std::count(order.begin(), order.end(), last);
    if (taken - first < equal)
        return {last, taken - first};
    return {order[std::size_t(taken)], 0};
}

} // namespace

class TestSurfaceCut : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The binned selection gives the cut of the definition, for every cover
    // of a surface asked of one cutter, and read through a stride.
    void binnedCutsAreTheCutsOfTheOrderedCells()
    {
        for (const int size : {1, 2, 7, 64}) {
            for (const std::vector<double> &values : cutSurfaces(std::size_t(size) * size)) {
                // One column of padding, as fractal blocks are laid out.
                const std::vector<double> laidOut = padded(values, size, size, 1);
                ExactCutter cutter(laidOut.data(), size, size + 1);
                for (int cover = 0; cover <= 100; ++cover) {
                    const ExactCoverCut want = sortedCut(values, cover);
                    const ExactCoverCut got = cutter.cut(cover);
                    QCOMPARE(got.threshold, want.threshold);
                    QCOMPARE(got.tiesAbove, want.tiesAbove);
                    CutCells cells(values.data(), size, got.threshold, got.tiesAbove);
                    qint64 habitat = 0;
                    for (int r = 0; r < size; ++r)
                        for (int c = 0; c < size; ++c)
                            habitat += cells(r, c);
                    QCOMPARE(habitat, (qint64(cover) * size * size + 50) / 100);
                }
            }
        }
    }

    // Thresholds at and beyond the ends of the bracket a sample gives.
    void thresholdsAtTheEdgesOfASampleAreFound()
    {
        for (int high = 1700; high <= 2100; ++high) {
            const std::vector<double> values = sampleEdgeSurface(high, 16);
            const ExactCoverCut want = sortedCut(values, 50);
            const ExactCoverCut got = ExactCutter(values.data(), 64, 64).cut(50);
            QCOMPARE(got.threshold, want.threshold);
            QCOMPARE(got.tiesAbove, want.tiesAbove);
        }
    }
};

QTEST_APPLESS_MAIN(TestSurfaceCut)
#include "tst_surfacecut.moc"
