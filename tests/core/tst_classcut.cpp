// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/classcut.h"
#include "core/batch/surfacecut.h"

#include "tests/support/cutsurfaces.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace {

// Proportions in thousandths, so that the reference can count exactly in
// whole numbers; the code under test gets them as percents with one
// decimal, which a double mostly cannot hold exactly.
using Thousandths = std::vector<qint64>;

std::vector<double> percents(const Thousandths &shares)
{
    std::vector<double> out;
    for (const qint64 share : shares)
        out.push_back(double(share) / 10.0);
    return out;
}

// Largest remainder as it is stated: the floor of each share, then one
// cell each to the largest fractions, equal fractions to the later class.
std::vector<qint64> referenceCounts(const Thousandths &shares, qint64 cells)
{
    const std::size_t classes = shares.size();
    std::vector<qint64> counts(classes);
    std::vector<qint64> fractions(classes);
    qint64 left = cells;
    for (std::size_t i = 0; i < classes; ++i) {
        counts[i] = shares[i] * cells / 1000;
        fractions[i] = shares[i] * cells % 1000;
        left -= counts[i];
    }
    std::vector<std::size_t> order(classes);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [&fractions](std::size_t a, std::size_t b) {
        return fractions[a] != fractions[b] ? fractions[a] > fractions[b] : a > b;
    });
    for (std::size_t i = 0; left > 0; ++i, --left)
        ++counts[order[i]];
    return counts;
}

// The classes by their definition: the valid cells ordered by value from
// the highest down, NaN last, equal values in row-major order, the last
// class taking the first of them.
std::vector<std::uint8_t> referenceClasses(const std::vector<double> &values,
                                           const std::vector<std::uint8_t> &mask,
                                           const Thousandths &shares)
{
    std::vector<std::size_t> ranked;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (mask.empty() || mask[i])
            ranked.push_back(i);
    std::stable_sort(ranked.begin(), ranked.end(), [&values](std::size_t a, std::size_t b) {
        if (std::isnan(values[a]))
            return false;
        return std::isnan(values[b]) || values[a] > values[b];
    });
    std::vector<std::uint8_t> classes(values.size(), outsideClass);
    const std::vector<qint64> counts = referenceCounts(shares, qint64(ranked.size()));
    auto next = ranked.begin();
    for (std::size_t k = counts.size(); k-- > 0;)
        for (qint64 n = 0; n < counts[k]; ++n)
            classes[*next++] = std::uint8_t(k);
    return classes;
}

// Every cell's class from the code under test, through a stride two values
// wider than the rows.
std::vector<std::uint8_t> cutClasses(const std::vector<double> &values,
                                     const std::vector<std::uint8_t> &mask, int rows, int columns,
                                     const Thousandths &shares)
{
    const std::vector<double> laidOut = padded(values, rows, columns, 2);
    const std::uint8_t *maskData = mask.empty() ? nullptr : mask.data();
    ClassCutter cutter(laidOut.data(), rows, columns, columns + 2, maskData);
    const std::vector<double> proportions = percents(shares);
    const ClassCut cut = cutter.cut(classCounts(proportions, cutter.validCells()));
    ClassCells cells(laidOut.data(), columns + 2, maskData, columns, cut);
    std::vector<std::uint8_t> classes(values.size());
    for (int r = 0; r < rows; ++r)
        cells.row(r, classes.data() + std::ptrdiff_t(r) * columns);
    return classes;
}

// Random thousandths for k classes, a few of them zero.
Thousandths randomShares(std::mt19937_64 &bits, int classes)
{
    std::vector<qint64> cuts{0, 1000};
    for (int i = 1; i < classes; ++i)
        cuts.push_back(qint64(bits() % 1001));
    std::sort(cuts.begin(), cuts.end());
    Thousandths shares;
    for (std::size_t i = 1; i < cuts.size(); ++i)
        shares.push_back(cuts[i] - cuts[i - 1]);
    return shares;
}

// Values from a handful of levels, the lowest of them -infinity, and NaN
// among them when asked.
std::vector<double> levelled(std::mt19937_64 &bits, std::size_t cells, int levels, bool nans)
{
    std::vector<double> values(cells);
    for (double &v : values) {
        const auto level = int(bits() % std::uint64_t(levels + (nans ? 1 : 0)));
        if (level == levels)
            v = std::nan("");
        else
            v = level == 0 ? -HUGE_VAL : double(level) / 4.0;
    }
    return values;
}

// Numbers among cells of either infinity, a quarter each, so that a
// boundary falls among the cells of +infinity and takes only some of them.
std::vector<double> infinite(std::mt19937_64 &bits, std::size_t cells)
{
    std::normal_distribution<double> normal;
    std::vector<double> values(cells);
    for (double &v : values) {
        const std::uint64_t pick = bits() % 4;
        v = pick == 0 ? HUGE_VAL : pick == 1 ? -HUGE_VAL : normal(bits);
    }
    return values;
}

} // namespace

class TestClassCut : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The cut gives every cell the class of its definition, on surfaces full
    // of ties, of odd shapes, inside masks with holes or with a single cell,
    // for few and many classes; the 70 x 90 and 64 x 64 surfaces are large
    // enough to be bracketed, and the last of cutSurfaces() makes their
    // brackets miss.
    void classesAreThoseOfTheOrderedCells()
    {
        std::mt19937_64 bits(11);
        struct Shape {
            int rows;
            int columns;
        };
        for (const Shape shape : {Shape{1, 37}, Shape{37, 1}, Shape{7, 13}, Shape{70, 90}}) {
            const auto cells = std::size_t(shape.rows) * std::size_t(shape.columns);
            std::vector<std::vector<double>> surfaces = cutSurfaces(cells);
            surfaces.push_back(levelled(bits, cells, 5, false));
            surfaces.push_back(levelled(bits, cells, 3, true));
            surfaces.push_back(infinite(bits, cells));
            std::vector<std::vector<std::uint8_t>> masks{{}};
            masks.emplace_back(cells);
            for (std::uint8_t &inside : masks.back())
                inside = bits() % 4 != 0;
            masks.emplace_back(cells, 0);
            masks.back()[cells / 2] = 1;
            for (const std::vector<double> &values : surfaces) {
                for (const std::vector<std::uint8_t> &mask : masks) {
                    for (const int classes : {2, 3, 5, 17, 64}) {
                        const Thousandths shares = randomShares(bits, classes);
                        QCOMPARE(cutClasses(values, mask, shape.rows, shape.columns, shares),
                                 referenceClasses(values, mask, shares));
                    }
                }
            }
        }
    }

    // Thresholds at and beyond the ends of the brackets a sample gives, for
    // the middle boundary of two classes and of five.
    void thresholdsAtTheEdgesOfASampleAreFound()
    {
        for (int high = 1700; high <= 2100; high += 2) {
            const std::vector<double> values = sampleEdgeSurface(high, 17);
            for (const Thousandths &shares :
                 {Thousandths{500, 500}, Thousandths{250, 100, 150, 400, 100}})
                QCOMPARE(cutClasses(values, {}, 64, 64, shares),
                         referenceClasses(values, {}, shares));
        }
    }

    // Counts are exact where floating point is not: 32.2 % of 250 cells is
    // 80.5 exactly, tied with 67.8 % at one half, so the later class takes
    // the cell, although 32.2 * 250 / 100 comes out a little above 80.5;
    // and 2.3 % of 100000 cells is 2300, not the 2299 the floor of the
    // double product gives.
    void countsAreThoseOfTheDecimalsWritten()
    {
        std::mt19937_64 bits(5);
        for (const int classes : {2, 3, 5, 17, 64}) {
            for (const qint64 cells : {qint64(0), qint64(1), qint64(91), qint64(250),
                                       qint64(100000), qint64(1) << 30, (qint64(1) << 30) - 7}) {
                const Thousandths shares = randomShares(bits, classes);
                QCOMPARE(classCounts(percents(shares), cells), referenceCounts(shares, cells));
            }
        }
        QCOMPARE(classCounts(std::vector<double>{32.2, 67.8}, 250), (std::vector<qint64>{80, 170}));
        QCOMPARE(classCounts(std::vector<double>{2.3, 97.7}, 100000),
                 (std::vector<qint64>{2300, 97700}));
        QCOMPARE(classCounts(std::vector<double>{0, 50, 0, 50}, 7),
                 (std::vector<qint64>{0, 3, 0, 4}));
        // Proportions within 1e-9 of 100 still give every cell a class.
        QCOMPARE(classCounts(std::vector<double>{50, 50 - 1e-9}, (qint64(1) << 30) + 1),
                 (std::vector<qint64>{536870913, 536870912}));
        QCOMPARE(classCounts(std::vector<double>{25, 25, 50 + 1e-9}, 3),
                 (std::vector<qint64>{1, 1, 1}));
    }

    void proportionsAreRefusedWithTheirReason()
    {
        QVERIFY(!proportionsRefusal(std::vector<double>{50, 50 + 1e-9}));
        QVERIFY(!proportionsRefusal(std::vector<double>{33.3, 33.3, 33.4}));
        QVERIFY(!proportionsRefusal(std::vector<double>{0, 100}));
        QVERIFY(!proportionsRefusal(std::vector<double>(64, 100.0 / 64)));
        const std::optional<QString> slack = proportionsRefusal(std::vector<double>{50, 50 + 1e-6});
        QVERIFY(slack && slack->contains(QStringLiteral("100.000001")));
        for (const std::vector<double> &refused :
             {std::vector<double>(65, 100.0 / 65), std::vector<double>{100},
              std::vector<double>{-1, 101}, std::vector<double>{std::nan(""), 100},
              std::vector<double>{HUGE_VAL, 0}, std::vector<double>{200, -100},
              std::vector<double>{10, 20, 30}})
            QVERIFY(proportionsRefusal(refused));
    }

    // Two classes [100 - c, c] are the exact cover cut of c, byte for byte,
    // with the same thresholds wherever the cover cut has a number to give.
    void twoClassesAreTheExactCoverCut()
    {
        for (const int size : {1, 7, 64, 100}) {
            for (const std::vector<double> &values : cutSurfaces(std::size_t(size) * size)) {
                const std::vector<double> laidOut = padded(values, size, size, 1);
                ExactCutter cover(laidOut.data(), size, size + 1);
                ClassCutter classes(laidOut.data(), size, size, size + 1);
                std::vector<std::uint8_t> want(static_cast<std::size_t>(size));
                std::vector<std::uint8_t> got(static_cast<std::size_t>(size));
                for (int c = 0; c <= 100; ++c) {
                    const ExactCoverCut exact = cover.cut(c);
                    const ClassCut cut = classes.cut(classCounts(
                        std::vector<double>{100.0 - c, double(c)}, qint64(size) * size));
                    if (std::isfinite(exact.threshold)) {
                        QCOMPARE(cut.thresholds[0], exact.threshold);
                        QCOMPARE(cut.tiesAbove[0], exact.tiesAbove);
                    }
                    CutCells coverCells(laidOut.data(), size + 1, exact.threshold, exact.tiesAbove);
                    ClassCells classCells(laidOut.data(), size + 1, nullptr, size, cut);
                    for (int r = 0; r < size; ++r) {
                        for (int col = 0; col < size; ++col)
                            want[std::size_t(col)] = coverCells(r, col);
                        classCells.row(r, got.data());
                        QCOMPARE(got, want);
                    }
                }
            }
        }
    }

    // The bounds of a draw are floor(share before the class * 2^64), here
    // counted in whole thousandths; no draw falls in a class of 0 %.
    void drawsFollowTheProportions()
    {
        using Wide = unsigned __int128;
        std::mt19937_64 bits(3);
        for (const int classes : {2, 3, 5, 17, 64}) {
            for (int round = 0; round < 20; ++round) {
                const Thousandths shares = randomShares(bits, classes);
                const ClassDraw draw(percents(shares));
                qint64 before = 0;
                std::size_t last = shares.size();
                while (shares[last - 1] == 0)
                    --last;
                std::vector<std::uint64_t> bounds;
                for (std::size_t i = 1; i < last; ++i) {
                    before += shares[i - 1];
                    bounds.push_back(std::uint64_t((Wide(before) << 64) / 1000));
                }
                QCOMPARE(draw.bounds, bounds);
                for (int n = 0; n < 1000; ++n) {
                    const int klass = draw.classOf(bits());
                    QVERIFY(klass >= 0 && klass < classes && shares[std::size_t(klass)] > 0);
                }
                QVERIFY(shares[std::size_t(draw.classOf(~std::uint64_t(0)))] > 0);
                QVERIFY(shares[std::size_t(draw.classOf(0))] > 0);
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestClassCut)
#include "tst_classcut.moc"
