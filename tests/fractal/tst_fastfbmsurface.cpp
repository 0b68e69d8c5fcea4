#include "fractal/fastfbmsurface.h"

#include "fractal/fbmsurface.h"
#include "tests/fractal/samebits.h"

#include <QTest>

namespace {

FbmBlock plainBlock(FbmSurface &surface, double H, int size, int maxLevel, int seed)
{
    FbmBlock block;
    if (surface.generate(H, size, maxLevel, seed) == FbmSurface::Status::Ok)
        surface.copyBlock(block);
    return block;
}

} // namespace

class TestFastFbmSurface : public QObject {
    Q_OBJECT

    // One of each for the whole suite, as a batch keeps them: the fast
    // surface must not carry anything from one block into the next, and the
    // plain one is cheaper once its lattice has been touched.
    FbmSurface reference;
    FastFbmSurface fast;

private Q_SLOTS:
    void everySizeOfSmallLattices_data()
    {
        QTest::addColumn<int>("maxLevel");
        for (int level = 0; level <= 7; ++level)
            QTest::addRow("maxLevel %d", level) << level;
    }

    // Every crop of a lattice, centred one way or the other, touching the
    // lattice's edges or not, with the whole range of H: the margins of the
    // points computed must be right in every position.
    void everySizeOfSmallLattices()
    {
        QFETCH(int, maxLevel);
        const int N = 1 << maxLevel;
        FbmBlock block;
        for (int size = 0; size <= N; ++size) {
            for (const double H : {0.0, 0.01, 0.37, 1.0}) {
                for (const int seed : {0, 1, 199, -7}) {
                    const FbmBlock expected = plainBlock(reference, H, size, maxLevel, seed);
                    QCOMPARE(fast.generate(H, size, maxLevel, seed, block),
                             FastFbmSurface::Status::Ok);
                    QByteArray where;
                    QVERIFY2(sameBits(block, expected, where),
                             qPrintable(QStringLiteral("size %1, H %2, seed %3: %4")
                                            .arg(size)
                                            .arg(H)
                                            .arg(seed)
                                            .arg(QLatin1String(where))));
                }
            }
        }
    }

    void batchLattice_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("H");
        QTest::addColumn<int>("seed");
        QTest::newRow("2") << 2 << 0.5 << 0;
        QTest::newRow("3") << 3 << 0.01 << 1;
        QTest::newRow("17") << 17 << 1.0 << 199;
        QTest::newRow("100") << 100 << 0.1 << 0;
        QTest::newRow("257") << 257 << 0.99 << 2;
        QTest::newRow("1000") << 1000 << 0.1 << 198;
        // 4095 starts at the lattice's first corner only; 4096 holds all
        // four, the only points with a fractional part.
        QTest::newRow("4095") << 4095 << 0.5 << 1;
        QTest::newRow("4096") << 4096 << 0.99 << 0;
    }

    void batchLattice()
    {
        QFETCH(int, size);
        QFETCH(double, H);
        QFETCH(int, seed);
        const FbmBlock expected = plainBlock(reference, H, size, 12, seed);
        QCOMPARE(expected.size, size);
        FbmBlock block;
        QCOMPARE(fast.generate(H, size, 12, seed, block), FastFbmSurface::Status::Ok);
        COMPARE_BLOCKS(block, expected);
    }

    void storageCarriesNothingOver()
    {
        // Larger and smaller blocks in turn through the same block object
        // and the same scratch storage, and the first one again at the end.
        struct Case {
            int size;
            double H;
            int seed;
        };
        const Case cases[] = {{512, 0.5, 3}, {1, 0.2, 4}, {300, 0.9, 5},
                              {511, 0.5, 6}, {2, 0.7, 7}, {512, 0.5, 3}};
        FastFbmSurface surface;
        FbmBlock block;
        for (const Case &c : cases) {
            QCOMPARE(surface.generate(c.H, c.size, 9, c.seed, block), FastFbmSurface::Status::Ok);
            COMPARE_BLOCKS(block, plainBlock(reference, c.H, c.size, 9, c.seed));
        }
    }

    void sizeAboveTheLatticeIsRefused()
    {
        FbmBlock block;
        QCOMPARE(fast.generate(0.5, 8, 3, 1, block), FastFbmSurface::Status::Ok);
        const FbmBlock before = block;
        QCOMPARE(fast.generate(0.5, 9, 3, 2, block), FastFbmSurface::Status::SizeTooLarge);
        COMPARE_BLOCKS(block, before);
        QCOMPARE(fast.generate(0.5, 2, 0, 1, block), FastFbmSurface::Status::SizeTooLarge);
        QCOMPARE(fast.generate(0.5, 4097, 12, 0, block), FastFbmSurface::Status::SizeTooLarge);
        COMPARE_BLOCKS(block, before);
    }
};

QTEST_GUILESS_MAIN(TestFastFbmSurface)
#include "tst_fastfbmsurface.moc"
