// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fastfbmsurface.h"

#include "fractal/fbmsurface.h"
#include "tests/fractal/samebits.h"

#include <QTest>

namespace {

FbmBlock plainBlock(FbmSurface &surface, double H, int size, int maxLevel, int seed,
                    Generator generator = Generator::Classic)
{
    FbmBlock block;
    if (surface.generate(H, size, maxLevel, seed, generator) == FbmSurface::Status::Ok)
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
        QTest::addColumn<Generator>("generator");
        QTest::addColumn<int>("threads");
        for (int level = 0; level <= 7; ++level) {
            QTest::addRow("maxLevel %d", level) << level << Generator::Classic << 1;
            QTest::addRow("philox maxLevel %d", level) << level << Generator::Philox << 1;
            QTest::addRow("two threads maxLevel %d", level) << level << Generator::Classic << 2;
            QTest::addRow("philox two threads maxLevel %d", level)
                << level << Generator::Philox << 2;
        }
    }

    // Every crop of a lattice, centred one way or the other, touching the
    // lattice's edges or not, with the whole range of H: the margins of the
    // points computed must be right in every position. Two threads split
    // every stage here, so that the rows on either side of the split are
    // right in every position too.
    void everySizeOfSmallLattices()
    {
        QFETCH(int, maxLevel);
        QFETCH(Generator, generator);
        QFETCH(int, threads);
        const int N = 1 << maxLevel;
        fast.setThreadCount(threads, 0);
        FbmBlock block;
        for (int size = 0; size <= N; ++size) {
            for (const double H : {0.0, 0.01, 0.37, 1.0}) {
                for (const int seed : {0, 1, 199, -7}) {
                    const FbmBlock expected =
                        plainBlock(reference, H, size, maxLevel, seed, generator);
                    QCOMPARE(fast.generate(H, size, maxLevel, seed, block, generator),
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
        QTest::addColumn<Generator>("generator");
        const Generator classic = Generator::Classic;
        const Generator philox = Generator::Philox;
        QTest::newRow("2") << 2 << 0.5 << 0 << classic;
        QTest::newRow("3") << 3 << 0.01 << 1 << classic;
        QTest::newRow("17") << 17 << 1.0 << 199 << classic;
        QTest::newRow("100") << 100 << 0.1 << 0 << classic;
        QTest::newRow("257") << 257 << 0.99 << 2 << classic;
        QTest::newRow("1000") << 1000 << 0.1 << 198 << classic;
        // 4095 starts at the lattice's first corner only; 4096 holds all
        // four, the only points with a fractional part.
        QTest::newRow("4095") << 4095 << 0.5 << 1 << classic;
        QTest::newRow("4096") << 4096 << 0.99 << 0 << classic;
        QTest::newRow("philox 100") << 100 << 0.1 << 0 << philox;
        QTest::newRow("philox 1000") << 1000 << 0.7 << 198 << philox;
        QTest::newRow("philox 4096") << 4096 << 0.99 << 199 << philox;
    }

    // On the batch's lattice, with one thread and with the default split
    // between two, which only the large stages reach.
    void batchLattice()
    {
        QFETCH(int, size);
        QFETCH(double, H);
        QFETCH(int, seed);
        QFETCH(Generator, generator);
        const FbmBlock expected = plainBlock(reference, H, size, 12, seed, generator);
        QCOMPARE(expected.rows, size);
        FbmBlock block;
        fast.setThreadCount(1);
        QCOMPARE(fast.generate(H, size, 12, seed, block, generator), FastFbmSurface::Status::Ok);
        COMPARE_BLOCKS(block, expected);
        FastFbmSurface split;
        split.setThreadCount(2);
        QCOMPARE(split.generate(H, size, 12, seed, block, generator), FastFbmSurface::Status::Ok);
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
