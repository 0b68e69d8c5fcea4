// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchjob.h"
#include "gaussian/gaussianmapgenerator.h"

#include "core/grid/mapfilereader.h"
#include "tests/support/batches.h"
#include "tests/support/fakeprogress.h"
#include "tests/support/files.h"
#include "tests/support/grids.h"
#include "tests/support/manifest.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

GaussianBatchRequest smallBatch(const QString &folder)
{
    GaussianBatchRequest request;
    request.ranges = {3.0, 6.0, 3.0};
    request.covers = {10, 90, 40};
    request.shape = {30, 30};
    request.replicates = 2;
    request.seed = 17;
    request.output.folder = folder;
    request.output.prefix = QStringLiteral("g_");
    return request;
}

qint64 habitatIn(const QString &path)
{
    qint64 habitat = 0;
    for (const auto &row : parsePlain(readAll(path)))
        habitat += std::count(row.begin(), row.end(), 1);
    return habitat;
}

} // namespace

class TestGaussianMapGenerator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every range, cover and replicate gives one map, cut exactly to its
    // cover, each from its own field; the manifest says how to make it again.
    void batchWritesExactCoversAndRecordsThem()
    {
        QTemporaryDir dir;
        GaussianBatchRequest request = smallBatch(dir.path());
        request.model = CovarianceModel::Matern;
        request.nu = 1.5;
        FakeProgress progress;
        const BatchReport report = BatchJob(request).run(progress);
        QVERIFY2(!report.refused(), qPrintable(report.refusal->message.text()));
        QCOMPARE(report.result.status, BatchResult::Status::Completed);
        QCOMPARE(report.maps.size(), 2 * 3 * 2);
        QCOMPARE(progress.maximum, 12);

        const Manifest manifest(report.manifestPath);
        QVERIFY(manifest.has("model") && manifest.has("range") && manifest.has("nu"));
        QSet<QByteArray> contents;
        for (qsizetype i = 0; i < manifest.rowCount(); ++i) {
            const MapRecord &map = report.maps[i];
            const qint64 wanted = (qint64(map.requestedCover) * 900 + 50) / 100;
            QCOMPARE(habitatIn(map.fileName), wanted);
            QCOMPARE(map.habitatCells, wanted);
            QCOMPARE(manifest.field(i, "kind"), QByteArray("gaussian"));
            QCOMPARE(manifest.field(i, "model"), QByteArray("matern"));
            QCOMPARE(manifest.field(i, "nu"), QByteArray("1.50"));
            QCOMPARE(manifest.field(i, "cut"), QByteArray("exact"));
            QCOMPARE(manifest.field(i, "range"), QByteArray::number(map.axis, 'f', 2));
            contents.insert(readAll(map.fileName));
        }
        QCOMPARE(contents.size(), report.maps.size());
        QVERIFY(QFileInfo(report.maps.first().fileName)
                    .fileName()
                    .startsWith(QStringLiteral("g_matern_r3.00_010_00001")));
    }

    // A map depends on its seed, range, cover and replicate only: a batch
    // of one of them alone writes the same bytes as the larger batch did.
    void mapsAreMadeAgainAlone()
    {
        QTemporaryDir dir;
        const GaussianBatchRequest request = smallBatch(dir.filePath(QStringLiteral("all")));
        FakeProgress progress;
        const BatchReport all = BatchJob(request).run(progress);
        QCOMPARE(all.result.status, BatchResult::Status::Completed);

        GaussianBatchRequest alone = smallBatch(dir.filePath(QStringLiteral("alone")));
        alone.ranges = {6.0, 6.0, 1.0};
        alone.covers = {50, 50, 1};
        const BatchReport one = BatchJob(alone).run(progress);
        QCOMPARE(one.maps.size(), 2);
        for (const MapRecord &map : one.maps) {
            const QString name = QFileInfo(map.fileName).fileName();
            QCOMPARE(readAll(map.fileName), readAll(dir.filePath(QStringLiteral("all/") + name)));
        }
    }

    // Ladder cuts take a fixed threshold whose whole percentage is the
    // cover; fbm records its H; the written field cut at the recorded
    // threshold gives the map back.
    void ladderCutsAndSurfaces()
    {
        QTemporaryDir dir;
        GaussianBatchRequest request = smallBatch(dir.path());
        request.model = CovarianceModel::Fbm;
        request.hurst = {0.3, 0.8, 0.5};
        request.covers = {30, 60, 30};
        request.cut = FractalCut::Ladder;
        request.writeSurfaces = true;
        request.output.format = MapFormat::AsciiGrid;
        FakeProgress progress;
        const BatchReport report = BatchJob(request).run(progress);
        QCOMPARE(report.result.status, BatchResult::Status::Completed);
        QVERIFY(!report.maps.isEmpty());
        const Manifest manifest(report.manifestPath);
        for (qsizetype i = 0; i < report.maps.size(); ++i) {
            const MapRecord &map = report.maps[i];
            QCOMPARE(int(map.habitatCells * 100 / map.cellCount), map.requestedCover);
            QCOMPARE(manifest.field(i, "H"), QByteArray::number(*map.H, 'f', 2));
            QCOMPARE(manifest.field(i, "range"), QByteArray());
            QVERIFY(*map.threshold >= 0.1 && *map.threshold < 0.9);
            const QString surface = dir.filePath(map.surfaceFile);
            QList<QByteArray> lines = readAll(surface).split('\n');
            qint64 above = 0;
            for (qsizetype l = 5; l < lines.size(); ++l)
                for (const QByteArray &value : lines[l].split(' '))
                    if (!value.isEmpty() && value.toDouble() > *map.threshold)
                        ++above;
            QCOMPARE(above, map.habitatCells);
        }
        // Fewer maps than asked are reported, never silently.
        if (report.maps.size() < 2 * 2 * 2)
            QVERIFY(!report.shortfalls.isEmpty());
        else
            QVERIFY(report.shortfalls.isEmpty());
    }

    // A sweep that cannot be drawn exactly to its end is refused before
    // anything is written; so is a folder holding another family's maps
    // under the prefix.
    void refusalsWriteNothing()
    {
        QTemporaryDir dir;
        GaussianBatchRequest request = smallBatch(dir.path());
        request.model = CovarianceModel::Gaussian;
        request.ranges = {5.0, 300.0, 295.0};
        FakeProgress progress;
        const BatchReport wide = BatchJob(request).run(progress);
        QVERIFY(wide.refused());
        QVERIFY2(wide.refusal->message.text().contains(QStringLiteral("range 300.00")),
                 qPrintable(wide.refusal->message.text()));
        QVERIFY(filesIn(dir.path()).isEmpty());

        writeFile(dir.filePath(QStringLiteral("g_0.50_010_00001.txt")), "1\n");
        const BatchReport beside = BatchJob(smallBatch(dir.path())).run(progress);
        QVERIFY(beside.refused());
        QCOMPARE(beside.refusal->kind, BatchRefusal::Kind::Conflict);
        QCOMPARE(filesIn(dir.path()).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGaussianMapGenerator)
#include "tst_gaussianmapgenerator.moc"
