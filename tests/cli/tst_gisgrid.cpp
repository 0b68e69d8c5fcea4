// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

int run(const QString &program, const QStringList &arguments, const QString &workingDirectory,
        QByteArray *output = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // gdalinfo -stats would otherwise leave a .aux.xml file beside the grid.
    environment.insert(QStringLiteral("GDAL_PAM_ENABLED"), QStringLiteral("NO"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(300000))
        return -1;
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class TestGisGrid : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void gridHeaderAndRows()
    {
        QTemporaryDir dir;
        QCOMPARE(
            run(QStringLiteral(PW_CLI_PATH),
                {QStringLiteral("random"), QStringLiteral("--out"), QStringLiteral("g"),
                 QStringLiteral("--cover"), QStringLiteral("99:100:1"), QStringLiteral("--size"),
                 QStringLiteral("3"), QStringLiteral("--format"), QStringLiteral("asc"),
                 QStringLiteral("--cover-value"), QStringLiteral("-12"), QStringLiteral("--quiet")},
                dir.path()),
            0);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("g/RND_100_3x3_a1.asc"))),
                 QByteArray("ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                            "NODATA_value -9999\n-12 -12 -12\n-12 -12 -12\n-12 -12 -12\n"));
        // Cover 100 makes every cell habitat.
        QVERIFY(readAll(dir.filePath(QStringLiteral("g/RND_ListFragStat.fbt")))
                    .endsWith("RND_100_3x3_a1.asc\n"));
    }

    void gdalReadsTheGrid_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::newRow("random") << QStringList{"random",  "--cover",
                                               "40:40:1", "--size",
                                               "37",      "--cover-value",
                                               "7",       "--matrix-value",
                                               "-2"}
                                << "RND_040_37x37_a1.asc" << 37 << -2 << 7;
        QTest::newRow("random, wide codes")
            << QStringList{"random",        "--cover", "60:60:1",        "--size", "64",
                           "--cover-value", "-99999",  "--matrix-value", "999999"}
            << "RND_060_64x64_a1.asc" << 64 << -99999 << 999999;
        QTest::newRow("fractal") << QStringList{"fractal", "--hurst",       "0.5:0.5:0.1",
                                                "--cover", "40:40:1",       "--size",
                                                "65",      "--cover-value", "3"}
                                 << "FBM_0.50_040_00001.asc" << 65 << 0 << 3;
    }

    void gdalReadsTheGrid()
    {
        const QString gdalinfo = QStandardPaths::findExecutable(QStringLiteral("gdalinfo"));
        if (gdalinfo.isEmpty())
            QSKIP("gdalinfo is not installed (Debian package gdal-bin); the grid was not checked "
                  "with a GIS reader");
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(int, size);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QTemporaryDir dir;
        QCOMPARE(run(QStringLiteral(PW_CLI_PATH),
                     arguments + QStringList{QStringLiteral("--out"), QStringLiteral("g"),
                                             QStringLiteral("--format"), QStringLiteral("asc"),
                                             QStringLiteral("--quiet")},
                     dir.path()),
                 0);
        QByteArray info;
        QCOMPARE(run(gdalinfo, {QStringLiteral("-stats"), QStringLiteral("g/") + file}, dir.path(),
                     &info),
                 0);
        const QString text = QString::fromUtf8(info);
        QVERIFY2(text.contains(QStringLiteral("AAIGrid")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Size is %1, %1").arg(size)), qPrintable(text));
        const QRegularExpression stats(QStringLiteral("Minimum=(-?[0-9.]+), Maximum=(-?[0-9.]+)"));
        const QRegularExpressionMatch match = stats.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QCOMPARE(match.captured(1).toDouble(), double(minimum));
        QCOMPARE(match.captured(2).toDouble(), double(maximum));
        // Whole numbers stay whole numbers.
        QVERIFY2(text.contains(QStringLiteral("Type=Int32")), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestGisGrid)
#include "tst_gisgrid.moc"
