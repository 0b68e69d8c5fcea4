// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapfilewriter.h"
#include "fractal/covercut.h"
#include "fractal/fastfbmsurface.h"
#include "fractal/fractalmapgenerator.h"
#include "random/philoxrandommap.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"
#include "tests/support/manifest.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

// A batch run as a user runs it, into a fresh folder; its manifest.
struct Batch {
    QTemporaryDir dir;
    QString folder;
    Manifest manifest{QString()};

    Batch(const QStringList &arguments, const QString &prefix)
    {
        folder = dir.filePath(QStringLiteral("maps"));
        const CliRun run = runCli(
            arguments + QStringList{QStringLiteral("--out"), folder, QStringLiteral("--quiet")});
        if (run.exitCode != 0)
            qWarning("%s", qPrintable(run.err));
        manifest = Manifest(QDir(folder).filePath(prefix + QStringLiteral("manifest.csv")));
    }
    QByteArray file(qsizetype row) const
    {
        return readAll(QDir(folder).filePath(QString::fromLatin1(manifest.field(row, "file"))));
    }
};

} // namespace

// The sampling choices for statistical studies: each does what it promises,
// checked on what a batch writes; the generators' own statistics are checked
// in their suites.
class TestSampling : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Any one map of a Philox batch is made again from its manifest row
    // alone, with nothing of the rest of the batch.
    void philoxMapsAreMadeAgainFromTheirRowAlone()
    {
        const Batch random({"random", "--generator", "philox", "--cover", "0:100:25", "--size",
                            "37", "--replicates", "3", "--seed", "-11", "--cover-value", "7",
                            "--matrix-value", "2"},
                           QStringLiteral("RND_"));
        QCOMPARE(random.manifest.rowCount(), 15);
        QVERIFY(random.manifest.has("generator") && random.manifest.has("stream"));
        QTemporaryDir dir;
        for (const qsizetype row : {0, 7, 14}) {
            const Manifest &m = random.manifest;
            QCOMPARE(m.field(row, "generator"), QByteArray("philox"));
            const int size = m.field(row, "size").toInt();
            const PhiloxRandomMap cells(quint32(m.field(row, "seed").toInt()), size,
                                        m.field(row, "requested_cover").toInt(),
                                        m.field(row, "stream").toInt());
            MapFileWriter writer(m.field(row, "matrix_value").toInt(),
                                 m.field(row, "cover_value").toInt());
            const QString again = dir.filePath(QString::number(row));
            QVERIFY(!writer.open(again, size, size));
            std::vector<std::uint8_t> line(std::size_t(size), 0);
            for (int r = 0; r < size; ++r) {
                cells.fillRow(r, line.data());
                writer.putRow(size, [&line](int c) { return line[std::size_t(c)] != 0; });
            }
            QVERIFY(!writer.commit());
            QCOMPARE(readAll(again), random.file(row));
        }
        // Cover 0 and cover 100 are exactly empty and full.
        QCOMPARE(random.manifest.field(0, "realised_cover"), QByteArray("0.00"));
        QCOMPARE(random.manifest.field(14, "realised_cover"), QByteArray("100.00"));

        const Batch fractal({"fractal", "--generator", "philox", "-H", "0.7:0.7:0.1", "--cover",
                             "20:60:40", "--size", "30", "--cut", "exact", "--first-seed", "40"},
                            QStringLiteral("FBM_"));
        QCOMPARE(fractal.manifest.rowCount(), 2);
        FastFbmSurface surface;
        FbmBlock block;
        for (qsizetype row = 0; row < 2; ++row) {
            const Manifest &m = fractal.manifest;
            QCOMPARE(surface.generate(m.field(row, "H").toDouble(), 30, 12,
                                      m.field(row, "seed").toInt(), block, Generator::Philox),
                     FastFbmSurface::Status::Ok);
            const auto cut =
                covercut::exactCutter(block).cut(m.field(row, "requested_cover").toInt());
            QCOMPARE(QByteArray::number(cut.threshold, 'g', 17), m.field(row, "threshold"));
        }
    }

    // Replicates of one H and cover never share a surface.
    void distinctSurfacesGiveEachReplicateItsOwnSurface()
    {
        const Batch batch({"fractal", "-H", "0.3:0.5:0.2", "--cover", "20:80:30", "--size", "24",
                           "--replicates", "6", "--distinct-surfaces"},
                          QStringLiteral("FBM_"));
        QCOMPARE(batch.manifest.rowCount(), 2 * 3 * 6);
        QSet<QByteArray> seen;
        for (qsizetype row = 0; row < batch.manifest.rowCount(); ++row) {
            const QByteArray surface = batch.manifest.field(row, "H") + '/' +
                                       batch.manifest.field(row, "requested_cover") + '/' +
                                       batch.manifest.field(row, "seed");
            QVERIFY2(!seen.contains(surface), surface.constData());
            seen.insert(surface);
            QCOMPARE(batch.manifest.field(row, "distinct_surfaces"), QByteArray("yes"));
        }
    }

    // Every map of an exact cut holds round(cover x cells / 100) habitat
    // cells, counted in the files.
    void exactCutsHoldExactlyTheirShare()
    {
        const int size = 33;
        const Batch batch({"fractal", "-H", "0.2:0.8:0.3", "--cover", "0:100:9", "--size",
                           QString::number(size), "--replicates", "2", "--cut", "exact"},
                          QStringLiteral("FBM_"));
        QCOMPARE(batch.manifest.rowCount(), 3 * 12 * 2);
        for (qsizetype row = 0; row < batch.manifest.rowCount(); ++row) {
            const int cover = batch.manifest.field(row, "requested_cover").toInt();
            const qint64 cells = qint64(size) * size;
            const qint64 expected = (cover * cells + 50) / 100;
            QCOMPARE(qint64(batch.file(row).count("1 ")), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestSampling)
#include "tst_sampling.moc"
