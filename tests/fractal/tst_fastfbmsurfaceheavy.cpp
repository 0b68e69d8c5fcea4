// SPDX-License-Identifier: GPL-3.0-or-later
// The full comparison of the fast surface and of the fast batch with the
// plain ones: every map size that stresses the margins, H from nearly flat
// to smooth, seeds from both ends of a run's range. It builds a few hundred
// full lattices with the plain surface, so it carries the "heavy" label and
// stays out of the default run.
#include "fractal/fastfbmsurface.h"

#include "core/batch/batchprogress.h"
#include "fractal/fbmsurface.h"
#include "fractal/fractalmapgenerator.h"
#include "tests/fractal/samebits.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFastFbmSurfaceHeavy : public QObject {
    Q_OBJECT

    FbmSurface reference;
    FastFbmSurface fast;

private Q_SLOTS:
    void everyCombination_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : {2, 3, 17, 100, 257, 1000, 4095, 4096})
            QTest::addRow("size %d", size) << size;
    }

    void everyCombination()
    {
        QFETCH(int, size);
        FbmBlock expected;
        FbmBlock block;
        for (const double H : {0.01, 0.1, 0.5, 0.99, 1.0}) {
            for (const int seed : {0, 1, 2, 77, 198, 199}) {
                QCOMPARE(reference.generate(H, size, 12, seed), FbmSurface::Status::Ok);
                reference.copyBlock(expected);
                QCOMPARE(fast.generate(H, size, 12, seed, block), FastFbmSurface::Status::Ok);
                QByteArray where;
                QVERIFY2(sameBits(block, expected, where),
                         qPrintable(QStringLiteral("H %1, seed %2: %3")
                                        .arg(H)
                                        .arg(seed)
                                        .arg(QLatin1String(where))));
            }
        }
    }

    void batchesWriteTheSameFiles_data()
    {
        QTest::addColumn<double>("initialH");
        QTest::addColumn<double>("finalH");
        QTest::addColumn<double>("hStep");
        QTest::addColumn<int>("initialCover");
        QTest::addColumn<int>("finalCover");
        QTest::addColumn<int>("coverStep");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("replicates");
        QTest::newRow("five H, four covers, three replicates")
            << 0.1 << 0.9 << 0.2 << 20 << 80 << 20 << 64 << 3;
        QTest::newRow("large maps") << 0.5 << 0.5 << 0.1 << 30 << 70 << 20 << 1000 << 1;
        QTest::newRow("whole lattice") << 0.8 << 0.8 << 0.1 << 50 << 50 << 1 << 4096 << 1;
    }

    void batchesWriteTheSameFiles()
    {
        QFETCH(double, initialH);
        QFETCH(double, finalH);
        QFETCH(double, hStep);
        QFETCH(int, initialCover);
        QFETCH(int, finalCover);
        QFETCH(int, coverStep);
        QFETCH(int, size);
        QFETCH(int, replicates);

        QTemporaryDir dir;
        QStringList names[2];
        int engine = 0;
        for (const auto kind :
             {FractalMapGenerator::Engine::Plain, FractalMapGenerator::Engine::Fast}) {
            const QString folder = dir.filePath(QString::number(engine));
            QVERIFY(QDir().mkpath(folder));
            NullProgress progress;
            FractalBatchRequest request;
            request.hurst = {initialH, finalH, hStep};
            request.covers = {initialCover, finalCover, coverStep};
            request.shape = {size, size};
            request.replicates = replicates;
            FractalMapGenerator generator(request, kind);
            QList<MapRecord> written;
            const BatchResult result =
                generator.writeMaps(folder + QStringLiteral("/FBM_"), written, progress);
            for (const MapRecord &map : written)
                names[engine] << map.fileName;
            QCOMPARE(result.status, BatchResult::Status::Completed);
            names[engine].replaceInStrings(folder, QString());
            ++engine;
        }
        QVERIFY(!names[0].isEmpty());
        QCOMPARE(names[1], names[0]);
        for (const QString &name : names[0]) {
            QFile plain(dir.filePath(QStringLiteral("0") + name));
            QFile fastFile(dir.filePath(QStringLiteral("1") + name));
            QVERIFY(plain.open(QIODevice::ReadOnly));
            QVERIFY(fastFile.open(QIODevice::ReadOnly));
            QVERIFY2(plain.readAll() == fastFile.readAll(), qPrintable(name));
        }
    }
};

QTEST_GUILESS_MAIN(TestFastFbmSurfaceHeavy)
#include "tst_fastfbmsurfaceheavy.moc"
