// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fbmsurface.h"

#include "core/rng/rand15.h"

#include <QTest>

#include <algorithm>
#include <bit>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

namespace {

// One Gaussian draw computed by hand from the generator and the two
// published constants, not from the class under test.
double handGaussian(Rand15 &rng)
{
    double sum = 0.0;
    for (int i = 0; i < 5; ++i)
        sum += rng.next();
    return sum * 4.727907158064415e-05 - 3.872983346207417;
}

// Where each draw of a two-stage lattice (N = 4) goes, in the order the
// points are drawn, with the halving step (0 for the corners) whose scale it
// uses and the neighbours whose integer mean it is displaced from.
struct Point {
    int row;
    int col;
    int scaleStep;
    std::vector<std::pair<int, int>> neighbours;
};

const std::vector<Point> &twoStageOrder()
{
    static const std::vector<Point> order = {
        // Corners.
        {0, 0, 0, {}},
        {0, 4, 0, {}},
        {4, 0, 0, {}},
        {4, 4, 0, {}},
        // Stage 1: the centre, then the four edge midpoints.
        {2, 2, 1, {{4, 4}, {4, 0}, {0, 4}, {0, 0}}},
        {2, 0, 2, {{4, 0}, {0, 0}, {2, 2}}},
        {2, 4, 2, {{4, 4}, {0, 4}, {2, 2}}},
        {0, 2, 2, {{0, 4}, {0, 0}, {2, 2}}},
        {4, 2, 2, {{4, 4}, {4, 0}, {2, 2}}},
        // Stage 2: four square centres, row by row.
        {1, 1, 3, {{2, 2}, {2, 0}, {0, 2}, {0, 0}}},
        {1, 3, 3, {{2, 4}, {2, 2}, {0, 4}, {0, 2}}},
        {3, 1, 3, {{4, 2}, {4, 0}, {2, 2}, {2, 0}}},
        {3, 3, 3, {{4, 4}, {4, 2}, {2, 4}, {2, 2}}},
        // Lattice edges, four per x.
        {1, 0, 4, {{2, 0}, {0, 0}, {1, 1}}},
        {1, 4, 4, {{2, 4}, {0, 4}, {1, 3}}},
        {0, 1, 4, {{0, 2}, {0, 0}, {1, 1}}},
        {4, 1, 4, {{4, 2}, {4, 0}, {3, 1}}},
        {3, 0, 4, {{4, 0}, {2, 0}, {3, 1}}},
        {3, 4, 4, {{4, 4}, {2, 4}, {3, 3}}},
        {0, 3, 4, {{0, 4}, {0, 2}, {1, 3}}},
        {4, 3, 4, {{4, 4}, {4, 2}, {3, 3}}},
        // Interior edge midpoints: odd rows first, then the odd columns of
        // the middle row.
        {1, 2, 4, {{1, 3}, {1, 1}, {2, 2}, {0, 2}}},
        {3, 2, 4, {{3, 3}, {3, 1}, {4, 2}, {2, 2}}},
        {2, 1, 4, {{2, 2}, {2, 0}, {3, 1}, {1, 1}}},
        {2, 3, 4, {{2, 4}, {2, 2}, {3, 3}, {1, 3}}},
    };
    return order;
}

// The 5 x 5 lattice for H and a list of draws, one per point in the order
// above. Truncation toward zero is written with std::trunc so that it does
// not borrow the integer conversions of the code under test.
std::vector<double> handLattice(double H, const std::vector<double> &draws)
{
    std::vector<double> scale{10000.0};
    for (int step = 1; step <= 4; ++step)
        scale.push_back(scale.back() * std::pow(0.5, 0.5 * H));

    std::vector<double> lattice(25, std::nan(""));
    for (std::size_t k = 0; k < twoStageOrder().size(); ++k) {
        const Point &p = twoStageOrder()[k];
        const double delta = scale[std::size_t(p.scaleStep)];
        double value = delta * draws[k];
        if (!p.neighbours.empty()) {
            double sum = 0;
            for (const auto &[r, c] : p.neighbours) {
                const double neighbour = lattice[std::size_t(r * 5 + c)];
                if (std::isnan(neighbour))
                    qFatal("test table reads a point before it is drawn");
                sum += std::trunc(neighbour);
            }
            value = std::trunc(value + std::trunc(sum / double(p.neighbours.size())));
        }
        lattice[std::size_t(p.row * 5 + p.col)] = value;
    }
    return lattice;
}

// Crop of a lattice of side n + 1 to the centred (size + 1)^2 block,
// rescaled to 0..1.
std::vector<double> handBlock(const std::vector<double> &lattice, int n, int size)
{
    const int off = (n - size) / 2;
    std::vector<double> block;
    for (int r = off; r <= off + size; ++r)
        for (int c = off; c <= off + size; ++c)
            block.push_back(lattice[std::size_t(r * (n + 1) + c)]);
    const auto [lo, hi] = std::minmax_element(block.begin(), block.end());
    const double minimum = *lo;
    const double maximum = *hi;
    for (double &v : block)
        v = (v - minimum) / (maximum - minimum);
    return block;
}

std::vector<double> blockOf(const FbmSurface &surface)
{
    std::vector<double> block;
    for (int r = 0; r <= surface.size(); ++r)
        for (int c = 0; c <= surface.size(); ++c)
            block.push_back(surface.value(r, c));
    return block;
}

// Exact comparison: the surface is a reference, so "close" is not enough.
bool sameBits(std::span<const double> a, std::span<const double> b, QByteArray &where)
{
    if (a.size() != b.size()) {
        where = QByteArray("sizes ") + QByteArray::number(qsizetype(a.size())) + " and " +
                QByteArray::number(qsizetype(b.size()));
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<quint64>(a[i]) != std::bit_cast<quint64>(b[i])) {
            where = QByteArray("index ") + QByteArray::number(qsizetype(i)) + ": " +
                    QByteArray::number(a[i], 'g', 17) + " vs " + QByteArray::number(b[i], 'g', 17);
            return false;
        }
    }
    return true;
}

#define COMPARE_BITS(a, b)                                                                         \
    do {                                                                                           \
        QByteArray where;                                                                          \
        QVERIFY2(sameBits((a), (b), where), where.constData());                                    \
    } while (false)

} // namespace

class TestFbmSurface : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void gaussianConstantsAreBitExact()
    {
        QCOMPARE(std::bit_cast<quint64>(FbmSurface::gaussianOffset),
                 std::bit_cast<quint64>(3.872983346207417));
        QCOMPARE(std::bit_cast<quint64>(FbmSurface::gaussianFactor),
                 std::bit_cast<quint64>(4.727907158064415e-05));
    }

    void levelZeroDrawsOnlyTheCorners_data()
    {
        QTest::addColumn<int>("seed");
        QTest::newRow("seed 0") << 0;
        QTest::newRow("seed 1") << 1;
        QTest::newRow("seed 199") << 199;
        QTest::newRow("negative seed") << -7;
    }

    void levelZeroDrawsOnlyTheCorners()
    {
        QFETCH(int, seed);
        Rand15 rng(static_cast<std::uint32_t>(seed));
        // Drawn in the order top-left, top-right, bottom-left, bottom-right.
        std::vector<double> corners;
        for (int i = 0; i < 4; ++i)
            corners.push_back(10000.0 * handGaussian(rng));
        const auto [lo, hi] = std::minmax_element(corners.begin(), corners.end());
        const double minimum = *lo;
        const double maximum = *hi;
        std::vector<double> expected;
        for (double c : corners)
            expected.push_back((c - minimum) / (maximum - minimum));

        FbmSurface surface;
        QCOMPARE(surface.generate(0.5, 1, 0, seed), FbmSurface::Status::Ok);
        QCOMPARE(surface.size(), 1);
        COMPARE_BITS(blockOf(surface), expected);
    }

    void twoStagesFollowTheDrawOrder_data()
    {
        QTest::addColumn<double>("H");
        QTest::addColumn<int>("seed");
        QTest::addColumn<int>("size");
        // size 4 is the whole lattice; 3 still starts at 0; 2 and 1 are
        // centred one point in.
        QTest::newRow("H 0.1, whole lattice") << 0.1 << 0 << 4;
        QTest::newRow("H 0.5, whole lattice") << 0.5 << 0 << 4;
        QTest::newRow("H 1.0, whole lattice") << 1.0 << 0 << 4;
        QTest::newRow("H 0.8, size 3") << 0.8 << 12345 << 3;
        QTest::newRow("H 0.5, size 2") << 0.5 << 7 << 2;
        QTest::newRow("H 0.3, size 1, negative seed") << 0.3 << -1 << 1;
    }

    void twoStagesFollowTheDrawOrder()
    {
        QFETCH(double, H);
        QFETCH(int, seed);
        QFETCH(int, size);

        // The draws do not depend on H: one list serves every row of a seed.
        Rand15 rng(static_cast<std::uint32_t>(seed));
        std::vector<double> draws;
        for (std::size_t i = 0; i < twoStageOrder().size(); ++i)
            draws.push_back(handGaussian(rng));

        FbmSurface surface;
        QCOMPARE(surface.generate(H, size, 2, seed), FbmSurface::Status::Ok);
        COMPARE_BITS(blockOf(surface), handBlock(handLattice(H, draws), 4, size));

        FbmBlock block;
        surface.copyBlock(block);
        QCOMPARE(block.rows, size);
        COMPARE_BITS(block.values, blockOf(surface));
    }

    void sameArgumentsGiveTheSameSurface()
    {
        FbmSurface surface;
        QCOMPARE(surface.generate(0.5, 33, 8, 4), FbmSurface::Status::Ok);
        const std::vector<double> first = blockOf(surface);

        // Other surfaces in between, on a smaller and a larger lattice, must
        // leave nothing behind in the reused storage.
        QCOMPARE(surface.generate(0.7, 64, 6, 4), FbmSurface::Status::Ok);
        QCOMPARE(surface.generate(0.5, 33, 9, 4), FbmSurface::Status::Ok);
        QCOMPARE(surface.generate(0.5, 33, 8, 4), FbmSurface::Status::Ok);
        COMPARE_BITS(blockOf(surface), first);

        FbmSurface other;
        QCOMPARE(other.generate(0.5, 33, 8, 4), FbmSurface::Status::Ok);
        COMPARE_BITS(blockOf(other), first);

        // And the arguments do matter.
        QCOMPARE(other.generate(0.2, 33, 8, 4), FbmSurface::Status::Ok);
        QVERIFY(blockOf(other) != first);
        QCOMPARE(other.generate(0.5, 33, 8, 5), FbmSurface::Status::Ok);
        QVERIFY(blockOf(other) != first);
    }

    void blockSpansZeroToOne_data()
    {
        QTest::addColumn<double>("H");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("maxLevel");
        QTest::addColumn<int>("seed");
        QTest::newRow("batch lattice, default size") << 0.5 << 100 << 12 << 0;
        QTest::newRow("odd size") << 0.1 << 17 << 6 << 3;
        QTest::newRow("smooth") << 1.0 << 64 << 6 << 199;
        QTest::newRow("whole lattice") << 0.5 << 8 << 3 << 1;
        QTest::newRow("smallest block") << 0.9 << 1 << 3 << 5;
    }

    void blockSpansZeroToOne()
    {
        QFETCH(double, H);
        QFETCH(int, size);
        QFETCH(int, maxLevel);
        QFETCH(int, seed);
        FbmSurface surface;
        QCOMPARE(surface.generate(H, size, maxLevel, seed), FbmSurface::Status::Ok);
        const std::vector<double> block = blockOf(surface);
        QCOMPARE(qsizetype(block.size()), qsizetype(size + 1) * (size + 1));
        QCOMPARE(*std::min_element(block.begin(), block.end()), 0.0);
        QCOMPARE(*std::max_element(block.begin(), block.end()), 1.0);
        QVERIFY(std::all_of(block.begin(), block.end(), [](double v) { return v >= 0 && v <= 1; }));
    }

    void sizeAboveTheLatticeIsRefused()
    {
        FbmSurface surface;
        QCOMPARE(surface.generate(0.5, 8, 3, 1), FbmSurface::Status::Ok);
        const std::vector<double> before = blockOf(surface);

        QCOMPARE(surface.generate(0.5, 9, 3, 2), FbmSurface::Status::SizeTooLarge);
        QCOMPARE(surface.size(), 8);
        COMPARE_BITS(blockOf(surface), before);

        QCOMPARE(surface.generate(0.5, 2, 0, 1), FbmSurface::Status::SizeTooLarge);
        QCOMPARE(surface.generate(0.5, 4097, 12, 0), FbmSurface::Status::SizeTooLarge);
    }
};

QTEST_GUILESS_MAIN(TestFbmSurface)
#include "tst_fbmsurface.moc"
