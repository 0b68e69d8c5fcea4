// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/metricscsv.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"
#include "tests/support/manifest.h"

#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <gdal_priv.h>
#include <sys/stat.h>

namespace {

CliRun metrics(const QStringList &arguments, const QString &workingDirectory)
{
    return runCli(QStringList{QStringLiteral("metrics")} + arguments, workingDirectory);
}

// The table without its file column, which names each format's file.
QStringList withoutFiles(const QString &table)
{
    QStringList rows;
    for (const QString &line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        rows.append(line.section(QLatin1Char(','), 1));
    return rows;
}

// One metric of every file a table measures, by file: `row` is what
// follows the file ("landscape,NA,contag").
QHash<QString, double> metricOfFiles(const QString &table, QLatin1String row)
{
    QHash<QString, double> values;
    for (const QString &line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.section(QLatin1Char(','), 1, 3) == row)
            values.insert(line.section(QLatin1Char(','), 0, 0),
                          line.section(QLatin1Char(','), 4).toDouble());
    return values;
}

} // namespace

class TestMetricsCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The same map as a batch writes it in each format, and a grid with a
    // cell size and NoData cells in its header, measure as the engine
    // measures their codes.
    void everyFormatMeasuresItsCodes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QStringList tables;
        for (const char *format : {"plain", "asc", "tif"}) {
            const CliRun batch = runCli(
                {QStringLiteral("random"), QStringLiteral("--out"), QString::fromLatin1(format),
                 QStringLiteral("--cover"), QStringLiteral("45"), QStringLiteral("--size"),
                 QStringLiteral("60"), QStringLiteral("--format"), QString::fromLatin1(format),
                 QStringLiteral("--quiet"), QStringLiteral("--cell-size"), QStringLiteral("30"),
                 QStringLiteral("--metrics"), QStringLiteral("all")},
                dir.path());
            QVERIFY2(batch.exitCode == 0, qPrintable(batch.err));
            const QString map = QDir(dir.filePath(QString::fromLatin1(format)))
                                    .entryList({QStringLiteral("RND_045_*")})
                                    .value(0);
            QStringList arguments{QString::fromLatin1(format) + QLatin1Char('/') + map};
            // The plain format has no header to give the cell size.
            if (qstrcmp(format, "plain") == 0)
                arguments << QStringLiteral("--cell-size") << QStringLiteral("30");
            const CliRun run = metrics(arguments, dir.path());
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            tables.append(withoutFiles(run.out).join(QLatin1Char('\n')));
            // The batch's own table holds the same rows, followed by the
            // map's cover and replicate.
            QStringList batchRows;
            for (const QString &row : withoutFiles(QString::fromUtf8(readAll(dir.filePath(
                     QString::fromLatin1(format) + QStringLiteral("/RND_metrics.csv"))))))
                batchRows.append(row.section(QLatin1Char(','), 0, -3));
            QCOMPARE(batchRows.join(QLatin1Char('\n')), tables.last());
            // The manifest's metrics, taken from the table's measuring, are
            // those a batch without the table measures on its own.
            if (qstrcmp(format, "plain") == 0) {
                const CliRun alone = runCli(
                    {QStringLiteral("random"), QStringLiteral("--out"), QStringLiteral("alone"),
                     QStringLiteral("--cover"), QStringLiteral("45"), QStringLiteral("--size"),
                     QStringLiteral("60"), QStringLiteral("--quiet"), QStringLiteral("--cell-size"),
                     QStringLiteral("30"), QStringLiteral("--metrics")},
                    dir.path());
                QVERIFY2(alone.exitCode == 0, qPrintable(alone.err));
                QCOMPARE(readAll(dir.filePath(QStringLiteral("plain/RND_manifest.csv"))),
                         readAll(dir.filePath(QStringLiteral("alone/RND_manifest.csv"))));
            }
        }
        QCOMPARE(tables[1], tables[0]);
        QCOMPARE(tables[2], tables[0]);
        QVERIFY(tables[0].contains(QLatin1String("landscape,NA,ta,324\n")));

        writeFile(dir.filePath(QStringLiteral("holes.asc")),
                  "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 10\nNODATA_value -1\n"
                  "1 1 -1 2\n-1 3 3 2\n1 1 2 2\n");
        const CliRun run =
            metrics({QStringLiteral("holes.asc"), QStringLiteral("--neighbours"),
                     QStringLiteral("4"), QStringLiteral("--out"), QStringLiteral("holes.csv")},
                    dir.path());
        QVERIFY2(run.exitCode == 0 && run.out.isEmpty(), qPrintable(run.err));
        MetricOptions options;
        options.neighbours = 4;
        options.cellSize = 10;
        options.noData = -1;
        QByteArray expected = metricsCsvHeader();
        appendMetricsCsv(expected, QStringLiteral("holes.asc"),
                         measureLandscape(std::vector<qint32>{1, 1, -1, 2, -1, 3, 3, 2, 1, 1, 2, 2},
                                          3, 4, options));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("holes.csv"))), expected);
    }

    // A target on a landscape metric keeps the first draws whose maps meet
    // it as this command measures them, and scan reports any metric as this
    // command measures the same draws.
    void targetsAndScanReadAnyMetric()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QStringList shape{"--cover", "40", "--size", "24", "--seed", "3"};
        const QStringList batch =
            QStringList{"random", "--generator", "philox", "--quiet", "--prefix", "T_"} + shape;
        const double low = 3;
        const CliRun kept =
            runCli(batch + QStringList{"--out", "kept", "--replicates", "3", "--target",
                                       QStringLiteral("contag=%1:").arg(low)},
                   dir.path());
        QVERIFY2(kept.exitCode == 0, qPrintable(kept.err));
        const Manifest chosen(dir.filePath(QStringLiteral("kept/T_manifest.csv")));
        QCOMPARE(chosen.rowCount(), 3);
        const int draws = chosen.field(0, "cell_draws").toInt();
        // Replicate k of the same request without targets is draw k.
        const CliRun all = runCli(batch + QStringList{"--out", "all", "--replicates",
                                                      QString::number(std::max(draws, 4))},
                                  dir.path());
        QVERIFY2(all.exitCode == 0, qPrintable(all.err));
        const Manifest every(dir.filePath(QStringLiteral("all/T_manifest.csv")));
        QStringList files;
        for (qsizetype i = 0; i < every.rowCount(); ++i)
            files.append(QStringLiteral("all/") + QString::fromUtf8(every.field(i, "file")));
        for (qsizetype i = 0; i < chosen.rowCount(); ++i)
            files.append(QStringLiteral("kept/") + QString::fromUtf8(chosen.field(i, "file")));
        const CliRun measured = metrics(files, dir.path());
        QVERIFY2(measured.exitCode == 0, qPrintable(measured.err));
        const QHash<QString, double> contag =
            metricOfFiles(measured.out, QLatin1String("landscape,NA,contag"));
        QList<QByteArray> passing;
        for (qsizetype i = 0; i < every.rowCount() && passing.size() < 3; ++i)
            if (contag.value(files[i]) >= low)
                passing.append(every.field(i, "replicate"));
        QList<QByteArray> keptDraws;
        for (qsizetype i = 0; i < chosen.rowCount(); ++i) {
            keptDraws.append(chosen.field(i, "draw"));
            QVERIFY(contag.value(files[every.rowCount() + i]) >= low);
        }
        QCOMPARE(keptDraws, passing);
        QVERIFY2(draws > 3, "the target rejects no draw");

        const CliRun scan = runCli(QStringList{"scan", "random", "--csv", "--samples", "4",
                                               "--metrics", "contag,0:pland,np"} +
                                       shape,
                                   dir.path());
        QVERIFY2(scan.exitCode == 0, qPrintable(scan.err));
        const QStringList lines = scan.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QStringList header = lines[0].split(QLatin1Char(','));
        const QStringList figures = lines[1].split(QLatin1Char(','));
        for (const auto &[name, row] :
             {std::pair{"contag", "landscape,NA,contag"}, std::pair{"0:pland", "class,0,pland"},
              std::pair{"np", "class,1,np"}}) {
            const QHash<QString, double> values = metricOfFiles(measured.out, QLatin1String(row));
            double sum = 0;
            for (int i = 0; i < 4; ++i)
                sum += values.value(files[i]);
            const double mean =
                figures.value(header.indexOf(QLatin1String(name) + QLatin1String("_mean")))
                    .toDouble();
            QVERIFY2(std::abs(mean - sum / 4) < 1e-5 * std::max(1.0, std::abs(mean)), name);
        }
        QCOMPARE(runCli({"scan", "random", "--metrics", "patches"}, dir.path()).exitCode, 2);
    }

    // What cannot be measured is refused with the path and the reason, and
    // a table that is not complete is never written.
    void refusesWhatIsNoMapOfClasses()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const CliRun surfaces =
            runCli({QStringLiteral("fractal"), QStringLiteral("--out"), QStringLiteral("."),
                    QStringLiteral("--hurst"), QStringLiteral("0.5"), QStringLiteral("--cover"),
                    QStringLiteral("30"), QStringLiteral("--size"), QStringLiteral("33"),
                    QStringLiteral("--write-surfaces"), QStringLiteral("--format"),
                    QStringLiteral("tif"), QStringLiteral("--quiet")},
                   dir.path());
        QVERIFY2(surfaces.exitCode == 0, qPrintable(surfaces.err));
        const QString surface =
            QDir(dir.path()).entryList({QStringLiteral("*_surface_*")}).value(0);
        writeFile(dir.filePath(QStringLiteral("map.txt")), "1 2 2 \n1 1 2 \n");
        writeFile(dir.filePath(QStringLiteral("fraction.txt")), "1 2 2 \n1 0.5 2 \n");
        writeFile(dir.filePath(QStringLiteral("ragged.txt")), "1 2 2 \n1 2 \n");
        writeFile(dir.filePath(QStringLiteral("heights.asc")),
                  "ncols 2\nnrows 1\ncellsize 1\n0.25 0.5\n");
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(),
                         0600) == 0);
        // Codes that count something, one per cell.
        QByteArray counts;
        for (int r = 0; r < 101; ++r) {
            for (int c = 0; c < 100; ++c)
                counts += QByteArray::number(r * 100 + c) + ' ';
            counts += '\n';
        }
        writeFile(dir.filePath(QStringLiteral("counts.txt")), counts);
        // Cells 30 wide and 20 high.
        GDALAllRegister();
        GDALDatasetUniquePtr oblong(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
            QFile::encodeName(dir.filePath(QStringLiteral("oblong.tif"))).constData(), 2, 2, 1,
            GDT_Byte, nullptr));
        double transform[6] = {0, 30, 0, 40, 0, -20};
        QVERIFY(oblong && oblong->SetGeoTransform(transform) == CE_None);
        oblong.reset();
        const struct {
            QString file;
            QString reason;
        } refused[] = {
            {surface, QStringLiteral("floating-point")},
            {QStringLiteral("heights.asc"), QStringLiteral("'0.25', which is not a 32-bit whole")},
            {QStringLiteral("fraction.txt"), QStringLiteral("row 2, cell 2 is not a whole")},
            {QStringLiteral("ragged.txt"), QStringLiteral("rows differ in length")},
            {QStringLiteral("fifo"), QStringLiteral("not a regular file")},
            {QStringLiteral("counts.txt"), QStringLiteral("more than 10000 different codes")},
            {QStringLiteral("oblong.tif"), QStringLiteral("cells are 30 x 20 map units")}};
        writeFile(dir.filePath(QStringLiteral("table.csv")), "kept\n");
        for (const auto &[file, reason] : refused) {
            // The map that can be measured comes first: its rows must not
            // reach the file.
            const CliRun run = metrics({QStringLiteral("map.txt"), file, QStringLiteral("--out"),
                                        QStringLiteral("table.csv")},
                                       dir.path());
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains(file) && run.err.contains(reason), qPrintable(run.err));
            QCOMPARE(readAll(dir.filePath(QStringLiteral("table.csv"))), QByteArray("kept\n"));
        }

        const CliRun unknown = metrics({QStringLiteral("map.txt"), QStringLiteral("--metrics"),
                                        QStringLiteral("np,contagion")},
                                       dir.path());
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY2(unknown.err.contains(QLatin1String("'contagion'")) &&
                     unknown.err.contains(QLatin1String("contag,")),
                 qPrintable(unknown.err));
        const CliRun overMap = metrics(
            {QStringLiteral("map.txt"), QStringLiteral("--out"), QStringLiteral("./map.txt")},
            dir.path());
        QCOMPARE(overMap.exitCode, 2);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("map.txt"))), QByteArray("1 2 2 \n1 1 2 \n"));
    }
};

QTEST_GUILESS_MAIN(TestMetricsCommand)
#include "tst_metricscommand.moc"
