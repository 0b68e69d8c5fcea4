// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/nearestsource.h"

#include <QTest>

#include <cstdint>
#include <random>
#include <vector>

// The feature transform against its definition, cell by cell: the source
// at the least squared distance, and among those the one of the lowest tie
// key. Sources on a coarse lattice make ties everywhere, which is where a
// transform that compares rounded breakpoints goes wrong.
class TestNearestSource : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyCellTakesItsNearestSourceAndTiesTheFirst()
    {
        std::mt19937 random(20261209);
        for (int trial = 0; trial < 4000; ++trial) {
            const int rows = 1 + int(random() % 14);
            const int columns = 1 + int(random() % 14);
            const int cells = rows * columns;
            const int step = 1 + int(random() % 4);
            std::vector<std::uint32_t> grid(std::size_t(cells), nearestsource::noSource);
            std::vector<std::uint64_t> key(std::size_t(cells), 0);
            const int sources = int(random() % 7);
            for (int k = 0; k < sources; ++k) {
                const int r = int(random() % unsigned(rows)) / step * step;
                const int c = int(random() % unsigned(columns)) / step * step;
                const auto cell = std::uint32_t(r * columns + c);
                grid[cell] = cell;
                key[cell] = random() % 8 * 1000 + cell;
            }
            const std::vector<std::uint32_t> given = grid;
            nearestsource::transform(grid.data(), rows, columns,
                                     [&key](std::uint32_t cell) { return key[cell]; });
            for (int i = 0; i < cells; ++i) {
                std::uint32_t best = nearestsource::noSource;
                qint64 bestDistance = 0;
                for (int s = 0; s < cells; ++s) {
                    if (given[std::size_t(s)] == nearestsource::noSource)
                        continue;
                    const qint64 dr = i / columns - s / columns;
                    const qint64 dc = i % columns - s % columns;
                    const qint64 d = dr * dr + dc * dc;
                    if (best == nearestsource::noSource || d < bestDistance ||
                        (d == bestDistance && key[std::size_t(s)] < key[best])) {
                        best = std::uint32_t(s);
                        bestDistance = d;
                    }
                }
                if (grid[std::size_t(i)] != best)
                    QFAIL(qPrintable(QStringLiteral("trial %1, %2 x %3, cell %4: %5, not %6")
                                         .arg(trial)
                                         .arg(rows)
                                         .arg(columns)
                                         .arg(i)
                                         .arg(grid[std::size_t(i)])
                                         .arg(best)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestNearestSource)
#include "tst_nearestsource.moc"
