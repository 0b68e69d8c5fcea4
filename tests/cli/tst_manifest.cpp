// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapreader.h"
#include "fractal/fbmsurface.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The rows of a manifest whose fields hold no quotes, header first.
QList<QList<QByteArray>> csvRows(const QString &path)
{
    QList<QList<QByteArray>> rows;
    const QByteArray content = readAll(path);
    if (!content.endsWith('\n'))
        return rows;
    for (const QByteArray &line : content.chopped(1).split('\n'))
        rows.append(line.split(','));
    return rows;
}

LandscapeGrid mapIn(const QString &path)
{
    LandscapeGrid grid;
    if (readMap(path, grid))
        grid.clear();
    return grid;
}

} // namespace

class TestManifest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void realisedCoverIsCountedInTheFiles_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("maps");
        const auto row = [](const char *name, const char *arguments, const char *prefix,
                            const char *extension, int maps) {
            QTest::newRow(name) << QString::fromLatin1(arguments).split(QLatin1Char(' '))
                                << QString::fromLatin1(prefix) << QString::fromLatin1(extension)
                                << maps;
        };
        row("random",
            "random --cover 5:95:30 --size 23 --replicates 2 --seed -8 --cover-value -4 "
            "--matrix-value 9",
            "RND_", ".txt", 8);
        row("random grid", "random --cover 50:50:1 --size 31 --replicates 3 --format asc", "RND_",
            ".asc", 3);
        // Three covers with two replicates each, for two H values.
        row("fractal",
            "fractal --hurst 0.3:0.7:0.4 --cover 20:60:20 --size 47 --replicates 2 --cover-value "
            "-1 "
            "--matrix-value 8",
            "FBM_", ".txt", 12);
        row("fractal grid", "fractal --hurst 0.5:0.5:0.1 --cover 35:45:5 --size 30 --format asc",
            "FBM_", ".asc", 3);
    }

    void realisedCoverIsCountedInTheFiles()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, prefix);
        QFETCH(QString, extension);
        QFETCH(int, maps);
        QTemporaryDir dir;
        const CliRun run =
            runCli(arguments + QStringList{QStringLiteral("--out"), QStringLiteral("maps"),
                                           QStringLiteral("--quiet")},
                   dir.path());
        QCOMPARE(run.exitCode, 0);
        const QDir folder(dir.filePath(QStringLiteral("maps")));

        const QList<QList<QByteArray>> rows =
            csvRows(folder.filePath(prefix + QStringLiteral("manifest.csv")));
        QCOMPARE(rows.size(), 1 + maps);
        const QList<QByteArray> header = rows.first();
        const auto column = [&header](const char *name) { return header.indexOf(name); };
        QVERIFY(column("file") >= 0 && column("realised_cover") >= 0 &&
                column("cover_value") >= 0 && column("kind") >= 0);

        // The same maps as the batch list, in the same order.
        const QList<QByteArray> listed =
            readAll(folder.filePath(prefix + QStringLiteral("ListFragStat.fbt")))
                .trimmed()
                .split('\n');
        QCOMPARE(listed.size(), maps);
        for (int i = 1; i < rows.size(); ++i) {
            const QList<QByteArray> &row = rows.at(i);
            QCOMPARE(row.size(), header.size());
            QCOMPARE(QFileInfo(QString::fromLatin1(listed.at(i - 1))).fileName(),
                     QString::fromLatin1(row.at(column("file"))));
            QVERIFY(row.at(column("file")).endsWith(extension.toLatin1()));
            QCOMPARE(row.at(column("kind")), QByteArray(arguments.first().toLatin1()));

            const LandscapeGrid grid =
                mapIn(folder.filePath(QString::fromLatin1(row.at(column("file")))));
            QVERIFY(!grid.isEmpty());
            const qint32 coverValue = row.at(column("cover_value")).toInt();
            qint64 holding = 0;
            for (std::size_t r = 0; r < grid.rowCount(); ++r)
                for (const qint32 value : grid.row(r))
                    holding += value == coverValue;
            QCOMPARE(row.at(column("realised_cover")),
                     QString::asprintf("%.2f", 100.0 * double(holding) / double(grid.cellCount()))
                         .toLatin1());
        }
    }

    void fractalRowsRebuildTheirMaps()
    {
        // H, seed and threshold of a row are all it takes to make its map
        // again from the reference surface, file for file.
        QTemporaryDir dir;
        const CliRun run =
            runCli(QStringLiteral("fractal --out maps --hurst 0.6:0.6:1 --cover 30:50:10 "
                                  "--size 40 --replicates 2 --cover-value 5 --quiet")
                       .split(QLatin1Char(' ')),
                   dir.path());
        QCOMPARE(run.exitCode, 0);
        const QDir folder(dir.filePath(QStringLiteral("maps")));
        const QList<QList<QByteArray>> rows =
            csvRows(folder.filePath(QStringLiteral("FBM_manifest.csv")));
        QCOMPARE(rows.size(), 1 + 6);
        const QList<QByteArray> header = rows.first();
        const auto field = [&header](const QList<QByteArray> &row, const char *name) {
            return row.at(header.indexOf(name));
        };
        QMap<int, FbmSurface> surfaces;
        for (qsizetype i = 1; i < rows.size(); ++i) {
            const QList<QByteArray> &row = rows.at(i);
            QCOMPARE(field(row, "kind"), QByteArray("fractal"));
            QCOMPARE(field(row, "H"), QByteArray("0.60"));
            const int seed = field(row, "seed").toInt();
            QVERIFY(seed >= 0 && seed < 200);
            QCOMPARE(field(row, "file"), QString::asprintf("FBM_0.60_%03d_%05d.txt",
                                                           field(row, "requested_cover").toInt(),
                                                           field(row, "replicate").toInt())
                                             .toLatin1());
            bool ok = false;
            const double threshold = field(row, "threshold").toDouble(&ok);
            QVERIFY(ok && threshold >= 0.1 && threshold < 0.9);

            if (!surfaces.contains(seed))
                QCOMPARE(surfaces[seed].generate(0.6, 40, FbmSurface::defaultMaxLevel, seed),
                         FbmSurface::Status::Ok);
            const QString rebuilt = dir.filePath(QStringLiteral("rebuilt.txt"));
            QVERIFY(!surfaces[seed].writeCoverMap(rebuilt, threshold,
                                                  field(row, "matrix_value").toInt(),
                                                  field(row, "cover_value").toInt()));
            QVERIFY2(readAll(rebuilt) ==
                         readAll(folder.filePath(QString::fromLatin1(field(row, "file")))),
                     field(row, "file").constData());
        }
    }

    void manifestThatCannotBeWrittenFailsTheRun()
    {
        // A folder in the way of the manifest: the maps and the batch list
        // are written, the run still fails and says which file and why, and
        // leaves its record for --resume.
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("maps/RND_manifest.csv"))));
        const CliRun run =
            runCli({QStringLiteral("random"), QStringLiteral("--out"), QStringLiteral("maps"),
                    QStringLiteral("--cover"), QStringLiteral("10:20:10"), QStringLiteral("--size"),
                    QStringLiteral("4"), QStringLiteral("--quiet")},
                   dir.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("manifest not written")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("RND_manifest.csv")), qPrintable(run.err));
        const QDir folder(dir.filePath(QStringLiteral("maps")));
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden),
                 (QStringList{
                     QStringLiteral("RND_010_4x4_a1.txt"), QStringLiteral("RND_020_4x4_a1.txt"),
                     QStringLiteral("RND_ListFragStat.fbt"), QStringLiteral("RND_shard.json")}));
    }

    void unknownFormatIsRefused()
    {
        QTemporaryDir dir;
        const CliRun run =
            runCli({QStringLiteral("random"), QStringLiteral("--out"), QStringLiteral("maps"),
                    QStringLiteral("--format"), QStringLiteral("tiff")},
                   dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QStringLiteral("plain or asc")), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("maps"))));
    }
};

QTEST_GUILESS_MAIN(TestManifest)
#include "tst_manifest.moc"
