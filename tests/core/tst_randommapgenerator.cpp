// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/rng/rand15.h"
#include "random/randommapgenerator.h"

#include "tests/support/batches.h"
#include "tests/support/fakeprogress.h"
#include "tests/support/files.h"
#include "tests/support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

RandomBatchRequest requestOf(int first = 1, int last = 100, int step = 1, int size = 4,
                             int replicates = 1)
{
    RandomBatchRequest request;
    request.covers = {first, last, step};
    request.shape = {size, size};
    request.replicates = replicates;
    return request;
}

BatchResult run(const RandomBatchRequest &request, const QString &stem, QStringList &names,
                BatchProgress &progress)
{
    return writeMaps<RandomMapGenerator>(request, stem, names, progress);
}

} // namespace

class TestRandomMapGenerator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void habitatBoundaryIsExact()
    {
        // 100 k <= 32767 c, checked against the double-precision quotients
        // for every draw and cover.
        for (int cover = 0; cover <= 100; ++cover)
            for (int k = 0; k <= 32767; ++k)
                QCOMPARE(RandomMapGenerator::isHabitat(k, cover),
                         !(double(k) / 32767.0 > double(cover) / 100.0));
    }

    void fileNameFollowsTheNamingScheme()
    {
        const RandomMapGenerator generator(requestOf(1, 100, 1, 20));
        QCOMPARE(generator.mapFileName(2, 7, QStringLiteral("out/RND_")),
                 QStringLiteral("out/RND_007_20x20_a3.txt"));
        QCOMPARE(generator.mapFileName(0, 100, QStringLiteral("RND_")),
                 QStringLiteral("RND_100_20x20_a1.txt"));
    }

    void smallestMapMatchesHandDraws()
    {
        // Seed 5 draws 54, 28693, 12255, 24449: at cover 50 a draw is habitat
        // up to 16383, so the map is habitat, matrix on both rows.
        QTemporaryDir dir;
        const QString stem = dir.filePath(QStringLiteral("RND_"));
        QStringList names;
        NullProgress progress;
        RandomBatchRequest b = requestOf(50, 50, 1, 2);
        b.output.coverValue = -1;
        b.output.matrixValue = 12;
        QVERIFY(run(b, stem, names, progress).ok());
        QCOMPARE(names, QStringList{stem + QStringLiteral("050_2x2_a1.txt")});
        QCOMPARE(readAll(names[0]), QByteArray("-1 12 \n-1 12 \n"));
    }

    void loopsVisitTheRightCovers_data()
    {
        QTest::addColumn<int>("initial");
        QTest::addColumn<int>("final");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("replicates");
        QTest::addColumn<QList<int>>("covers");
        QTest::addColumn<int>("maximum");

        QList<int> all;
        for (int c = 1; c <= 100; ++c)
            all << c;
        QTest::newRow("dialog defaults") << 1 << 100 << 1 << 1 << all << 100;
        QTest::newRow("0 to 100 by 25, 3 replicates")
            << 0 << 100 << 25 << 3
            << QList<int>{0, 0, 0, 25, 25, 25, 50, 50, 50, 75, 75, 75, 100, 100, 100} << 15;
        QTest::newRow("1 to 100 by 10 stops at 91")
            << 1 << 100 << 10 << 1 << QList<int>{1, 11, 21, 31, 41, 51, 61, 71, 81, 91} << 10;
        QTest::newRow("initial above final") << 60 << 40 << 1 << 1 << QList<int>{} << 0;
    }

    void loopsVisitTheRightCovers()
    {
        QFETCH(int, initial);
        QFETCH(int, final);
        QFETCH(int, step);
        QFETCH(int, replicates);
        QFETCH(QList<int>, covers);
        QFETCH(int, maximum);

        QTemporaryDir dir;
        const QString stem = dir.filePath(QStringLiteral("RND_"));
        QStringList names;
        FakeProgress progress;
        const RandomBatchRequest b = requestOf(initial, final, step, 2, replicates);
        QVERIFY(run(b, stem, names, progress).ok());

        QCOMPARE(progress.maximum, maximum);
        QCOMPARE(names.size(), covers.size());
        QCOMPARE(progress.labels.value(0), QStringLiteral("Calculando..."));
        for (int i = 0; i < covers.size(); ++i) {
            const QString expected =
                stem + QString::asprintf("%03d_2x2_a%d.txt", covers[i], i % replicates + 1);
            QCOMPARE(names[i], expected);
            QVERIFY(QFile::exists(expected));
            QCOMPARE(progress.labels.value(i + 1),
                     QStringLiteral("gerando para cobertura %1 amostra no.%2")
                         .arg(covers[i])
                         .arg(i % replicates + 1));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), covers.size());
    }

    void cancelAfterTheThirdMapKeepsThreeMaps()
    {
        QTemporaryDir dir;
        const QString stem = dir.filePath(QStringLiteral("RND_"));
        QStringList names;
        FakeProgress progress(3);
        const BatchResult result = run(requestOf(), stem, names, progress);
        QCOMPARE(result.status, BatchResult::Status::Canceled);
        QCOMPARE(names.size(), 3);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
        QCOMPARE(progress.values.last(), 3);
    }

    void sameSeedGivesIdenticalFiles()
    {
        QTemporaryDir a, b;
        QStringList namesA, namesB;
        NullProgress progress;
        const RandomBatchRequest batch = requestOf(0, 100, 50, 30, 2);
        QVERIFY(run(batch, a.filePath(QStringLiteral("RND_")), namesA, progress).ok());
        QVERIFY(run(batch, b.filePath(QStringLiteral("RND_")), namesB, progress).ok());
        QCOMPARE(namesA.size(), 6);
        for (int i = 0; i < namesA.size(); ++i)
            QCOMPARE(readAll(namesA[i]), readAll(namesB[i]));
        // Replicates of the same cover continue the sequence: they differ.
        QVERIFY(readAll(namesA[2]) != readAll(namesA[3]));
    }

    void mapsContinueTheBatchSequence()
    {
        // The second map of a batch starts where the first one's draws ended.
        QTemporaryDir dir;
        QStringList names;
        NullProgress progress;
        RandomBatchRequest batch = requestOf(30, 40, 10, 3, 1);
        batch.seed = 77;
        QVERIFY(run(batch, dir.filePath(QStringLiteral("RND_")), names, progress).ok());
        Rand15 rng(77);
        QByteArray expected;
        for (int cover : {30, 40}) {
            QByteArray map;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j)
                    map += RandomMapGenerator::isHabitat(rng.next(), cover) ? "1 " : "0 ";
                map += '\n';
            }
            expected += map;
        }
        QCOMPARE(readAll(names[0]) + readAll(names[1]), expected);
    }

    void differentInitialCoverShiftsTheDraws()
    {
        QTemporaryDir a, b;
        QStringList namesA, namesB;
        NullProgress progress;
        QVERIFY(run(requestOf(10, 20, 10, 20, 1), a.filePath(QStringLiteral("R")), namesA, progress)
                    .ok());
        QVERIFY(run(requestOf(20, 20, 10, 20, 1), b.filePath(QStringLiteral("R")), namesB, progress)
                    .ok());
        QVERIFY(namesA[1].endsWith(QStringLiteral("R020_20x20_a1.txt")));
        QVERIFY(namesB[0].endsWith(QStringLiteral("R020_20x20_a1.txt")));
        QVERIFY(readAll(namesA[1]) != readAll(namesB[0]));
    }

    void extremeCoversAndEqualCodes()
    {
        QTemporaryDir dir;
        NullProgress progress;
        const int size = 200;

        QStringList full;
        QVERIFY(
            run(requestOf(100, 100, 1, size, 1), dir.filePath(QStringLiteral("F")), full, progress)
                .ok());
        const QByteArray fullMap = readAll(full[0]);
        QCOMPARE(fullMap.count("1 "), size * size);
        QCOMPARE(fullMap.count('\n'), size);

        // Cover 0: habitat only where the draw was exactly 0.
        QStringList empty;
        RandomBatchRequest zero = requestOf(0, 0, 1, size, 1);
        zero.seed = 3;
        QVERIFY(run(zero, dir.filePath(QStringLiteral("Z")), empty, progress).ok());
        Rand15 rng(3);
        int zeros = 0;
        for (int i = 0; i < size * size; ++i)
            zeros += rng.next() == 0;
        QCOMPARE(int(readAll(empty[0]).count("1 ")), zeros);

        QStringList same;
        RandomBatchRequest uniform = requestOf(50, 50, 1, 10, 1);
        uniform.output.coverValue = uniform.output.matrixValue = 4;
        QVERIFY(run(uniform, dir.filePath(QStringLiteral("U")), same, progress).ok());
        QCOMPARE(readAll(same[0]), QByteArray("4 4 4 4 4 4 4 4 4 4 \n").repeated(10));
    }

    void failedWriteStopsAndKeepsEarlierMaps()
    {
        // Each 40 x 40 map of single-digit codes is 3240 bytes; after the
        // second map a 2000-byte file limit makes the third fail half-way.
        QTemporaryDir dir;
        const QString stem = dir.filePath(QStringLiteral("RND_"));
        QStringList names;
        FakeProgress progress;
        std::unique_ptr<FileSizeLimit> limit;
        progress.onValue = [&limit](int value) {
            if (value == 2)
                limit = std::make_unique<FileSizeLimit>(2000);
        };
        const BatchResult result = run(requestOf(1, 100, 1, 40, 1), stem, names, progress);
        limit.reset();
        QCOMPARE(result.status, BatchResult::Status::Failed);
        QCOMPARE(names.size(), 2);
        QVERIFY(result.message.contains(QStringLiteral("RND_003_40x40_a1.txt")));
        QVERIFY(result.message.contains(QStringLiteral("File too large")));
        // Only the complete maps exist; no temporary file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("RND_001_40x40_a1.txt"),
                              QStringLiteral("RND_002_40x40_a1.txt")}));
        for (const QString &name : names)
            QCOMPARE(readAll(name).size(), 3240);
    }

    void unopenableFileStopsTheBatch()
    {
        // A stem whose folder is a regular file cannot be written, even by root.
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QStringList names;
        NullProgress progress;
        const BatchResult result =
            run(requestOf(), blocker + QStringLiteral("/RND_"), names, progress);
        QCOMPARE(result.status, BatchResult::Status::Failed);
        QVERIFY(names.isEmpty());
        QVERIFY(result.message.contains(QStringLiteral("RND_001_4x4_a1.txt")));
    }
};

QTEST_GUILESS_MAIN(TestRandomMapGenerator)
#include "tst_randommapgenerator.moc"
