// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchjob.h"
#include "fractal/fractalmapgenerator.h"

#include "fractal/covercut.h"
#include "fractal/fbmsurface.h"
#include "tests/support/batches.h"
#include "tests/support/fakeprogress.h"
#include "tests/support/files.h"
#include "tests/support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>

namespace {

FbmBlock makeBlock(int size, std::vector<double> values)
{
    FbmBlock block;
    block.setSquare(size);
    block.values.assign(values.begin(), values.end());
    return block;
}

// The values in the smallest square block that holds them, the rest 0.
FbmBlock squareBlock(std::vector<double> values)
{
    int size = 0;
    while (std::size_t(size + 1) * std::size_t(size + 1) < values.size())
        ++size;
    values.resize(std::size_t(size + 1) * std::size_t(size + 1), 0.0);
    return makeBlock(size, std::move(values));
}

// The text a map of this block cut at t must hold, spelled out cell by cell.
QByteArray expectedMap(const FbmBlock &block, double t, int below, int above)
{
    QByteArray text;
    for (int r = 0; r < block.rows; ++r) {
        for (int c = 0; c < block.columns; ++c)
            text += QByteArray::number(block.at(r, c) > t ? above : below) + ' ';
        text += '\n';
    }
    return text;
}

// The request these tests start from: one H, every cover a threshold can
// reach, maps of 8 cells a side.
FractalBatchRequest requestOf()
{
    FractalBatchRequest request;
    request.hurst = {0.5, 0.5, 0.1};
    request.covers = {0, 99, 1};
    request.shape = {8, 8};
    return request;
}

BatchResult run(const FractalBatchRequest &request, const QString &baseName, QStringList &names,
                BatchProgress &progress)
{
    return writeMaps<FractalMapGenerator>(request, baseName, names, progress);
}

QString label(const char *h, int sample)
{
    return QStringLiteral("gerando para h=") + QLatin1String(h) + QStringLiteral(" amostra no.") +
           QString::number(sample);
}

} // namespace

Q_DECLARE_METATYPE(FractalBatchRequest)

class TestFractalMapGenerator : public QObject {
    Q_OBJECT

    // Surfaces built here to check a run against are all built in one
    // object: the first touch of a fresh 134 MB lattice costs more than a
    // surface.
    FbmSurface reference;

private Q_SLOTS:
    void coverFraction_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<std::vector<double>>("values");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("pct");

        const std::vector<double> quarter{0.0, 0.5, 0.5, 1.0};
        QTest::newRow("value equal to the threshold is matrix")
            << 1 << quarter << 0.5 << 0.25 << 25;
        QTest::newRow("just below it is habitat") << 1 << quarter << 0.4999 << 0.75 << 75;
        QTest::newRow("nothing above the maximum") << 1 << quarter << 1.0 << 0.0 << 0;
        QTest::newRow("everything above a negative threshold")
            << 1 << quarter << -0.1 << 1.0 << 100;
        // The last row and column are measured although no file holds them.
        QTest::newRow("last column counts")
            << 1 << std::vector<double>{0, 1, 0, 1} << 0.5 << 0.5 << 50;
        QTest::newRow("nine points, five above")
            << 2 << std::vector<double>{0, .1, .2, .3, .4, .5, .6, .7, 1} << 0.3 << 5.0 / 9 << 55;
    }

    void coverFraction()
    {
        QFETCH(int, size);
        QFETCH(std::vector<double>, values);
        QFETCH(double, threshold);
        QFETCH(double, fraction);
        QFETCH(int, pct);
        const double measured = covercut::coverFraction(makeBlock(size, values), threshold);
        QCOMPARE(measured, fraction);
        QCOMPARE(covercut::coverPercent(measured), pct);
    }

    void thresholdsAccumulateByAddition()
    {
        const auto ladder = covercut::thresholds();
        QCOMPARE(ladder.size(), std::size_t(80));
        QCOMPARE(ladder.front(), 0.1);
        for (std::size_t k = 1; k < ladder.size(); ++k) {
            QVERIFY(ladder[k] > ladder[k - 1]);
            QVERIFY(std::abs(ladder[k] - (0.1 + 0.01 * double(k))) < 1e-12);
        }
        // Repeated addition drifts from the decimal values; these are the
        // IEEE sums 0.1 + 0.01 + ... worked out independently.
        QCOMPARE(std::bit_cast<quint64>(ladder[5]), std::bit_cast<quint64>(0.15000000000000002));
        QCOMPARE(std::bit_cast<quint64>(ladder[79]), std::bit_cast<quint64>(0.8900000000000007));
    }

    void aboveCountsMatchEightyScans_data()
    {
        QTest::addColumn<FbmBlock>("block");
        const auto ladder = covercut::thresholds();

        // Each threshold itself (matrix: not strictly above) and its two
        // neighbouring doubles, which fall on either side of the cut.
        std::vector<double> edges{0.0, 1.0};
        for (const double t : ladder) {
            edges.push_back(t);
            edges.push_back(std::nextafter(t, 0.0));
            edges.push_back(std::nextafter(t, 1.0));
        }
        QTest::newRow("values on the thresholds") << squareBlock(edges);
        // Where the decimal value and the drifted threshold differ.
        std::vector<double> decimals;
        for (int k = 0; k <= 100; ++k)
            decimals.push_back(k / 100.0);
        QTest::newRow("whole percentages") << squareBlock(decimals);
        QTest::newRow("all equal") << makeBlock(2, std::vector<double>(9, 0.5));
        // What a flat block's rescale gives; it is above no threshold.
        QTest::newRow("not a number") << makeBlock(1, {std::nan(""), 0.95, std::nan(""), 0.05});
        const double infinity = std::numeric_limits<double>::infinity();
        QTest::newRow("outside 0..1")
            << makeBlock(2, {-0.5, 2.0, 0.0, 1.0, -infinity, infinity, 0.5, 0.1, 0.89});
        FbmSurface surface;
        QCOMPARE(surface.generate(0.3, 100, 9, 11), FbmSurface::Status::Ok);
        FbmBlock real;
        surface.copyBlock(real);
        QTest::newRow("a surface") << real;
    }

    void aboveCountsMatchEightyScans()
    {
        QFETCH(FbmBlock, block);
        const auto ladder = covercut::thresholds();
        const auto above = covercut::aboveCounts(block);
        const double pointCount = double(block.values.size());
        for (std::size_t k = 0; k < ladder.size(); ++k) {
            qint64 count = 0;
            for (const double v : block.values)
                count += v > ladder[k] ? 1 : 0;
            QCOMPARE(above[k], count);
            QCOMPARE(std::bit_cast<quint64>(double(above[k]) / pointCount),
                     std::bit_cast<quint64>(covercut::coverFraction(block, ladder[k])));
        }
    }

    void mapFileHoldsTheTopLeftCut_data()
    {
        QTest::addColumn<int>("below");
        QTest::addColumn<int>("above");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("0 and 1") << 0 << 1 << QByteArray("1 0 \n0 1 \n");
        QTest::newRow("negative and multi-digit codes")
            << -1 << 12 << QByteArray("12 -1 \n-1 12 \n");
        QTest::newRow("equal codes") << 3 << 3 << QByteArray("3 3 \n3 3 \n");
    }

    void mapFileHoldsTheTopLeftCut()
    {
        QFETCH(int, below);
        QFETCH(int, above);
        QFETCH(QByteArray, text);
        // The value equal to the threshold (0.5) is written as matrix; the
        // last row and column, all above it, are not written.
        const FbmBlock block = makeBlock(2, {0.9, 0.5, 1.0, 0.1, 0.7, 1.0, 1.0, 1.0, 1.0});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cut.txt"));
        QVERIFY(!covercut::writeCoverMap(block, path, 0.5, below, above));
        QCOMPARE(readAll(path), text);
    }

    void surfaceWritesItsOwnBlock()
    {
        FbmSurface surface;
        QCOMPARE(surface.generate(0.5, 6, 3, 2), FbmSurface::Status::Ok);
        FbmBlock block;
        surface.copyBlock(block);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("surface.txt"));
        QVERIFY(!surface.writeCoverMap(path, 0.4, 7, 8));
        QCOMPARE(readAll(path), expectedMap(block, 0.4, 7, 8));
        QCOMPARE(readAll(path).count('\n'), 6);
    }

    void unwritableMapNamesThePath()
    {
        QTemporaryDir dir;
        // A folder that is a regular file cannot be written, even by root.
        const QString notAFolder = dir.filePath(QStringLiteral("plain"));
        QFile plain(notAFolder);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString path = notAFolder + QStringLiteral("/map.txt");
        const FileResult error =
            covercut::writeCoverMap(makeBlock(1, {0, 1, 0, 1}), path, 0.5, 0, 1);
        QVERIFY(error);
        QCOMPARE(error->path, QDir::toNativeSeparators(path));
        QVERIFY(!error->reason.isEmpty());
        QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("plain")});
    }

    void namesAndLabelsIgnoreTheLocale_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<double>("H");
        QTest::addColumn<int>("cover");
        QTest::addColumn<int>("replicate");
        QTest::addColumn<QString>("name");
        QTest::newRow("first replicate") << QStringLiteral("maps/FBM_") << 0.5 << 30 << 1
                                         << QStringLiteral("maps/FBM_0.50_030_00001.txt");
        QTest::newRow("accumulated H") << QStringLiteral("maps\\FBM_") << 0.30000000000000004 << 5
                                       << 12345 << QStringLiteral("maps\\FBM_0.30_005_12345.txt");
        QTest::newRow("H rounds up")
            << QStringLiteral("F") << 0.999 << 100 << 200 << QStringLiteral("F1.00_100_00200.txt");
    }

    void namesAndLabelsIgnoreTheLocale()
    {
        QFETCH(QString, base);
        QFETCH(double, H);
        QFETCH(int, cover);
        QFETCH(int, replicate);
        QFETCH(QString, name);
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QString built = FractalMapGenerator::mapFileName(base, H, cover, replicate);
        const QString text = FractalMapGenerator::progressLabel(0.5, 0);
        QLocale::setDefault(saved);
        QCOMPARE(built, name);
        QCOMPARE(text, QStringLiteral("gerando para h=0.50 amostra no.1"));
    }

    // The covers a threshold cut can give, against every count of block
    // points above a threshold that a surface of each size can have.
    void reachableCoversAreExactlyThoseOfSomeCount()
    {
        for (int size = 1; size <= 160; ++size) {
            const qint64 n = qint64(size + 1) * (size + 1);
            std::array<bool, 101> counted{};
            for (qint64 k = 1; k < n; ++k)
                counted[std::size_t(covercut::coverPercent(double(k) / double(n)))] = true;
            QVERIFY2(covercut::reachableCovers(size, size) == counted,
                     qPrintable(QString::number(size)));
        }
        QVERIFY(!covercut::reachableCovers(4096, 4096)[100]);
        QVERIFY(covercut::reachableCovers(4096, 4096)[99]);
    }

    void refusedRunWritesNothing_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("coverStep");
        QTest::addColumn<QString>("message");
        QTest::newRow("above 4096")
            << 4097 << 1
            << QStringLiteral(
                   "fractal maps can be at most 4096 cells per side; 4097 was requested");
        QTest::newRow("no cells") << 0 << 1 << QString();
        QTest::newRow("no cover step") << 8 << 0 << QString();
    }

    void refusedRunWritesNothing()
    {
        QFETCH(int, size);
        QFETCH(int, coverStep);
        QFETCH(QString, message);
        QTemporaryDir dir;
        FractalBatchRequest b = requestOf();
        b.shape = {size, size};
        b.covers.step = coverStep;
        b.output.folder = dir.filePath(QStringLiteral("out"));
        FakeProgress progress;
        const BatchReport report = BatchJob(b).run(progress);
        QVERIFY(report.refused());
        QCOMPARE(report.refusal->kind, BatchRefusal::Kind::Request);
        if (!message.isEmpty())
            QCOMPARE(report.refusal->message.text(), message);
        QVERIFY(!report.refusal->message.text().isEmpty());
        QVERIFY(report.maps.isEmpty());
        QVERIFY(progress.labels.isEmpty());
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void initialHAboveTheLimitBuildsNothing()
    {
        QTemporaryDir dir;
        FractalBatchRequest b = requestOf();
        b.hurst.first = 0.9;
        b.hurst.last = 0.5;
        QStringList names;
        FakeProgress progress;
        const BatchResult result = run(b, dir.filePath(QStringLiteral("FBM_")), names, progress);
        QCOMPARE(result.status, BatchResult::Status::Completed);
        QVERIFY(names.isEmpty());
        QCOMPARE(progress.maximum, 0);
        QCOMPARE(progress.labels, QStringList{QStringLiteral("Calculando...")});
        QCOMPARE(progress.values, QList<int>{0});
        QVERIFY(filesIn(dir.path()).isEmpty());
    }

    void finalCoverBelowInitialBuildsNoSurface()
    {
        // 0.1 to 0.9 in steps of 0.3 visits 1.0 as well, since the limit is
        // finalH + hStep / 2.
        QTemporaryDir dir;
        FractalBatchRequest b = requestOf();
        b.hurst.first = 0.1;
        b.hurst.last = 0.9;
        b.hurst.step = 0.3;
        b.covers.first = 50;
        b.covers.last = 40;
        QStringList names;
        FakeProgress progress;
        const BatchResult result = run(b, dir.filePath(QStringLiteral("FBM_")), names, progress);
        QCOMPARE(result.status, BatchResult::Status::Completed);
        QVERIFY(names.isEmpty());
        QVERIFY(filesIn(dir.path()).isEmpty());
        QCOMPARE(progress.maximum, 800);
        QCOMPARE(progress.labels, QStringList{QStringLiteral("Calculando...")});
        QCOMPARE(progress.values, (QList<int>{0, 200, 400, 600, 800}));
    }

    void singleCoverStopsOnceItIsDone()
    {
        // One replicate of cover 50 per H. The seed that first yields it is
        // found here with the surface and the sweep alone; the run must
        // move on to the next H without building another surface.
        FractalBatchRequest b = requestOf();
        b.hurst.first = 0.5;
        b.hurst.last = 0.6;
        b.covers.first = b.covers.last = 50;
        b.shape = {10, 10};
        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("FBM_"));
        QStringList names;
        FakeProgress progress;
        QCOMPARE(run(b, base, names, progress).status, BatchResult::Status::Completed);

        QStringList expectedLabels{QStringLiteral("Calculando...")};
        QList<int> expectedValues{0};
        QStringList expectedNames;
        const auto ladder = covercut::thresholds();
        int hIndex = 0;
        for (const double H : {0.5, 0.6}) {
            const QByteArray h = QByteArray::number(H, 'f', 2);
            FbmBlock block;
            int seed = 0;
            double cut = -1;
            for (; seed < FractalMapGenerator::seedsPerH && cut < 0; ++seed) {
                QCOMPARE(reference.generate(H, b.shape.rows, 12, seed), FbmSurface::Status::Ok);
                reference.copyBlock(block);
                for (const double t : ladder) {
                    if (covercut::coverPercent(covercut::coverFraction(block, t)) == 50) {
                        cut = t;
                        break;
                    }
                }
                expectedLabels << label(h.constData(), seed + 1);
                expectedValues << hIndex * 200 + seed + 1;
            }
            QVERIFY2(cut >= 0, "no seed gives cover 50; choose another size");
            expectedValues << (hIndex + 1) * 200;
            const QString name = base + QLatin1String(h) + QStringLiteral("_050_00001.txt");
            expectedNames << name;
            QCOMPARE(readAll(name), expectedMap(block, cut, 0, 1));
            ++hIndex;
        }
        QCOMPARE(names, expectedNames);
        QCOMPARE(progress.labels, expectedLabels);
        QCOMPARE(progress.values, expectedValues);
        QCOMPARE(progress.maximum, 400);
        QCOMPARE(filesIn(dir.path()).size(), 2);
    }

    void cancelDuringTheFirstSurfaceKeepsItsMaps_data()
    {
        QTest::addColumn<int>("initialCover");
        QTest::addColumn<int>("finalCover");
        QTest::addColumn<int>("coverStep");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("replicates");
        // With every cover 0..99 requested 200 times, every one of the 80
        // cuts is accepted. A 5 x 5 block has few distinct covers, so
        // neighbouring thresholds must repeat a cover and number it on.
        QTest::newRow("every cover") << 0 << 99 << 1 << 4 << 200;
        QTest::newRow("every tenth cover from 3") << 3 << 93 << 10 << 9 << 200;
        // 80 cuts over at most 26 covers: some cover comes up a third time
        // and must be passed over.
        QTest::newRow("two replicates") << 0 << 99 << 1 << 4 << 2;
    }

    void cancelDuringTheFirstSurfaceKeepsItsMaps()
    {
        QFETCH(int, initialCover);
        QFETCH(int, finalCover);
        QFETCH(int, coverStep);
        QFETCH(int, size);
        QFETCH(int, replicates);
        FractalBatchRequest b = requestOf();
        b.hurst.last = 0.9;
        b.covers.first = initialCover;
        b.covers.last = finalCover;
        b.covers.step = coverStep;
        b.shape = {size, size};
        b.replicates = replicates;
        b.output.matrixValue = 2;
        b.output.coverValue = 9;
        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("FBM_"));
        QStringList names;
        FakeProgress progress(1);
        QCOMPARE(run(b, base, names, progress).status, BatchResult::Status::Canceled);
        QCOMPARE(progress.labels, (QStringList{QStringLiteral("Calculando..."), label("0.50", 1)}));
        QCOMPARE(progress.values, (QList<int>{0, 1}));
        QCOMPARE(progress.maximum, 5 * 200);

        QCOMPARE(reference.generate(0.5, b.shape.rows, 12, 0), FbmSurface::Status::Ok);
        FbmBlock block;
        reference.copyBlock(block);
        QStringList expectedNames;
        QList<QByteArray> expectedTexts;
        int counts[101] = {};
        bool repeated = false;
        bool capped = false;
        for (const double t : covercut::thresholds()) {
            const int pct = covercut::coverPercent(covercut::coverFraction(block, t));
            if (pct > finalCover || pct < initialCover || (pct - initialCover) % coverStep != 0)
                continue;
            if (counts[pct] >= replicates) {
                capped = true;
                continue;
            }
            const int n = ++counts[pct];
            repeated = repeated || n > 1;
            expectedNames << base + QString::asprintf("0.50_%03d_%05d.txt", pct, n);
            expectedTexts << expectedMap(block, t, 2, 9);
        }
        QVERIFY(repeated);
        if (replicates < 80) {
            QVERIFY(capped);
        } else if (coverStep == 1) {
            QCOMPARE(expectedNames.size(), 80);
        } else {
            // Some cuts must fall between the requested covers, or the row
            // would not test the step.
            QVERIFY(!expectedNames.isEmpty() && expectedNames.size() < 80);
        }
        QCOMPARE(names, expectedNames);
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(readAll(names[i]), expectedTexts[i]);
        QCOMPARE(filesIn(dir.path()).size(), names.size());
    }

    void unwritableMapStopsTheRun_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("disk full") << false;
        QTest::newRow("read-only folder") << true;
    }

    void unwritableMapStopsTheRun()
    {
        QFETCH(bool, readOnly);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("maps"));
        QVERIFY(QDir().mkpath(folder));
        const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        if (readOnly) {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
            QFile probe(folder + QStringLiteral("/probe"));
            const bool ignored = probe.open(QIODevice::WriteOnly);
            probe.remove();
            QFile::setPermissions(folder, writable);
            if (ignored)
                QSKIP("folder permissions do not bind this user");
        }

        // The first surface's 80 maps are written; the world changes before
        // the second surface's first map.
        FractalBatchRequest b = requestOf();
        b.replicates = 200;
        QList<MapRecord> written;
        QStringList namesBefore;
        std::unique_ptr<FileSizeLimit> limit;
        FakeProgress progress;
        progress.onValue = [&](int value) {
            if (value != 1)
                return;
            for (const MapRecord &map : written)
                namesBefore << map.fileName;
            if (readOnly)
                QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
            else
                limit = std::make_unique<FileSizeLimit>(64);
        };
        FractalMapGenerator generator(b);
        const BatchResult result =
            generator.writeMaps(folder + QStringLiteral("/FBM_"), written, progress);
        limit.reset();
        QStringList names;
        for (const MapRecord &map : written)
            names << map.fileName;
        QFile::setPermissions(folder, writable);

        // Maps are named a group at a time, so some of the first surface's
        // may still be unnamed when the world changes; they are complete and
        // are named before the run stops.
        QCOMPARE(result.status, BatchResult::Status::Failed);
        QCOMPARE(names.size(), 80);
        QCOMPARE(names.mid(0, namesBefore.size()), namesBefore);
        for (const MapRecord &map : written)
            QCOMPARE(map.seed, 0);
        const QString failedPath = result.message.section(QStringLiteral(": "), 0, 0);
        QVERIFY2(
            failedPath.startsWith(QDir::toNativeSeparators(folder + QStringLiteral("/FBM_0.50_"))),
            qPrintable(result.message));
        QVERIFY(failedPath.endsWith(QStringLiteral(".txt")));
        QVERIFY(!result.message.section(QStringLiteral(": "), 1).isEmpty());
        QVERIFY(!QFile::exists(failedPath));
        // Nothing but the complete maps: no partial map, no temporary file.
        QCOMPARE(filesIn(folder).size(), 80);
        for (const QString &name : names)
            QCOMPARE(readAll(name).count('\n'), b.shape.rows);
    }

    void enginesWriteTheSameRun_data()
    {
        QTest::addColumn<FractalBatchRequest>("batch");
        QTest::addColumn<int>("cancelAt");
        FractalBatchRequest early = requestOf();
        early.hurst.first = 0.3;
        early.hurst.last = 0.7;
        early.hurst.step = 0.4;
        early.covers.first = 40;
        early.covers.last = 60;
        early.covers.step = 10;
        early.replicates = 2;
        early.output.matrixValue = -3;
        early.output.coverValue = 12;
        QTest::newRow("every H left early") << early << -1;
        FractalBatchRequest none = early;
        none.covers.first = 60;
        none.covers.last = 40;
        QTest::newRow("no cover wanted") << none << -1;
        FractalBatchRequest many = requestOf();
        many.hurst.last = 0.9;
        many.shape = {4, 4};
        many.replicates = 200;
        QTest::newRow("cancelled while the worker is ahead") << many << 3;
    }

    // The same run with both engines: same result, same progress, same names
    // in the same order, and files equal byte for byte.
    void enginesWriteTheSameRun()
    {
        QFETCH(FractalBatchRequest, batch);
        QFETCH(int, cancelAt);
        QTemporaryDir dir;
        struct Outcome {
            BatchResult result;
            QStringList names;
            QStringList labels;
            QList<int> values;
            int maximum = -1;
            QList<QByteArray> texts;
        } outcome[2];
        const FractalMapGenerator::Engine engines[2] = {FractalMapGenerator::Engine::Plain,
                                                        FractalMapGenerator::Engine::Fast};
        for (int e = 0; e < 2; ++e) {
            const QString folder = dir.filePath(QString::number(e));
            QVERIFY(QDir().mkpath(folder));
            FakeProgress progress(cancelAt);
            FractalMapGenerator generator(batch, engines[e]);
            QList<MapRecord> written;
            outcome[e].result =
                generator.writeMaps(folder + QStringLiteral("/FBM_"), written, progress);
            for (const MapRecord &map : written)
                outcome[e].names << map.fileName;
            outcome[e].labels = progress.labels;
            outcome[e].values = progress.values;
            outcome[e].maximum = progress.maximum;
            for (const QString &name : outcome[e].names)
                outcome[e].texts << readAll(name);
            QCOMPARE(filesIn(folder).size(), outcome[e].names.size());
            outcome[e].names.replaceInStrings(folder, QString());
        }
        QCOMPARE(outcome[1].result.status, outcome[0].result.status);
        QCOMPARE(outcome[1].names, outcome[0].names);
        QCOMPARE(outcome[1].labels, outcome[0].labels);
        QCOMPARE(outcome[1].values, outcome[0].values);
        QCOMPARE(outcome[1].maximum, outcome[0].maximum);
        for (qsizetype i = 0; i < outcome[0].texts.size(); ++i)
            QVERIFY2(outcome[1].texts[i] == outcome[0].texts[i], qPrintable(outcome[0].names[i]));
        if (batch.covers.last >= batch.covers.first)
            QVERIFY(!outcome[0].names.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFractalMapGenerator)
#include "tst_fractalmapgenerator.moc"
