// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchoptions.h"
#include "core/batch/classcut.h"
#include "core/batch/mapfamily.h"
#include "core/batch/rangeparser.h"
#include "core/grid/mapreader.h"
#include "random/randommapgenerator.h"
#include "tests/support/batches.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rangeParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("step");
        QTest::newRow("plain") << "1:100:1" << true << 1 << 100 << 1;
        QTest::newRow("signs") << "-5:+7:2" << true << -5 << 7 << 2;
        QTest::newRow("two parts") << "1:100" << false << 0 << 0 << 0;
        QTest::newRow("four parts") << "1:2:3:4" << false << 0 << 0 << 0;
        QTest::newRow("empty part") << "1::3" << false << 0 << 0 << 0;
        QTest::newRow("decimal") << "1.5:2:1" << false << 0 << 0 << 0;
        QTest::newRow("spaces") << "1: 2:3" << false << 0 << 0 << 0;
        QTest::newRow("overflow") << "99999999999:1:1" << false << 0 << 0 << 0;
        QTest::newRow("plus minus") << "+-1:1:1" << false << 0 << 0 << 0;
        QTest::newRow("non-ascii digit") << QStringLiteral("１:2:3") << false << 0 << 0 << 0;
    }

    void rangeParsing()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto range = parseIntRange(text);
        QCOMPARE(range.has_value(), valid);
        if (valid) {
            QFETCH(int, first);
            QFETCH(int, last);
            QFETCH(int, step);
            QCOMPARE(range->first, first);
            QCOMPARE(range->last, last);
            QCOMPARE(range->step, step);
        }
    }

    void doubleRangeParsing()
    {
        const auto range = parseDoubleRange(u"0.1:0.9:0.1");
        QVERIFY(range.has_value());
        QCOMPARE(range->first, 0.1);
        QCOMPARE(range->step, 0.1);
        QVERIFY(!parseDoubleRange(u"0.1:nan:0.1").has_value());
        // Exponents are numbers, as Python and R write them.
        QCOMPARE(parseDoubleRange(u"1e-1:1:1")->first, 0.1);
        QVERIFY(!parseDoubleRange(u"0,1:1:1").has_value());
    }

    void usageErrorsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "Usage";
        QTest::newRow("unknown command") << QStringList{"squares"} << "unknown command";
        QTest::newRow("unknown option")
            << QStringList{"random", "--out", "x", "--colour"} << "colour";
        QTest::newRow("missing out") << QStringList{"random"} << "--out";
        QTest::newRow("malformed cover")
            << QStringList{"random", "--out", "x", "--cover", "1-100"} << "FIRST:LAST:STEP";
        QTest::newRow("cover first above 99")
            << QStringList{"random", "--out", "x", "--cover", "100:100:1"} << "first cover";
        QTest::newRow("cover last 0")
            << QStringList{"random", "--out", "x", "--cover", "0:0:1"} << "last cover";
        QTest::newRow("cover step 0")
            << QStringList{"random", "--out", "x", "--cover", "1:5:0"} << "cover step";
        QTest::newRow("size 1") << QStringList{"random", "--out", "x", "--size", "1"} << "map size";
        QTest::newRow("size text")
            << QStringList{"random", "--out", "x", "--size", "ten"} << "--size";
        QTest::newRow("replicates 0")
            << QStringList{"random", "--out", "x", "--replicates", "0"} << "replicates";
        QTest::newRow("seed too large")
            << QStringList{"random", "--out", "x", "--seed", "1000000"} << "seed";
        QTest::newRow("cover value too large")
            << QStringList{"random", "--out", "x", "--cover-value", "100000"} << "habitat code";
        QTest::newRow("equal codes")
            << QStringList{"random", "--out", "x", "--cover-value", "3", "--matrix-value", "3"}
            << "both 3";
        QTest::newRow("stray argument") << QStringList{"random", "--out", "x", "extra"} << "extra";
        QTest::newRow("old H option")
            << QStringList{"fractal", "--out", "x", "--h", "0.5:0.5:0.1"} << "--hurst";
        QTest::newRow("fractal too large")
            << QStringList{"fractal", "--out", "x", "-H", "0.5:0.5:0.1", "--size", "4097"}
            << "4096";
    }

    void usageErrorsExitWithTwo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const CliRun run = runCli(arguments, dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        // A refused request writes nothing at all.
        QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    void helpDocumentsTheOptions()
    {
        // Every option of the batch description, in each family's command's
        // help, and every family in the list of commands.
        const QString commands = runCli({QStringLiteral("--help")}).out;
        for (const MapFamily *family : mapFamilies()) {
            QVERIFY2(commands.contains(QLatin1String(family->word())), family->word());
            const CliRun run = runCli({QLatin1String(family->word()), QStringLiteral("--help")});
            QCOMPARE(run.exitCode, 0);
            for (const BatchOption &option : family->options())
                QVERIFY2(run.out.contains(QStringLiteral("--") + option.cliName()), option.key);
            // It ends with examples.
            const QString examples = run.out.section(QStringLiteral("Examples:\n"), 1);
            QVERIFY(!examples.isEmpty());
        }
        // Every argument a command's usage names stands whole in its help.
        for (const char *command : {"merge", "render", "scan", "metrics"}) {
            const QString text = runCli({QLatin1String(command), QStringLiteral("--help")}).out;
            const QString arguments = text.section(QStringLiteral("Arguments:\n"), 1);
            for (QString name : text.section(QLatin1Char('\n'), 0, 0).split(QLatin1Char(' ')))
                if (name.remove(QStringLiteral("...")).isUpper() && name.size() > 1)
                    QVERIFY2(arguments.contains(QStringLiteral("  ") + name + QLatin1Char(' ')),
                             qPrintable(QLatin1String(command) + QLatin1Char(' ') + name));
        }
        // A bare --surfaces is neither a count nor --write-surfaces.
        QTemporaryDir dir;
        const CliRun bare =
            runCli({"fractal", "--out", "o", "--surfaces", "--size", "9"}, dir.path());
        QCOMPARE(bare.exitCode, 2);
        QVERIFY2(bare.err.contains(QStringLiteral("--write-surfaces")), qPrintable(bare.err));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("o"))));
        // A reference system without an origin says where the map then lies.
        const CliRun placed = runCli({"random", "--out", "g", "--size", "4", "--cover", "50",
                                      "--format", "tif", "--crs", "EPSG:3035", "--quiet"},
                                     dir.path());
        QCOMPARE(placed.exitCode, 0);
        QVERIFY2(placed.err.contains(QStringLiteral("--origin")), qPrintable(placed.err));
        // So does an option the request's other choices leave unused.
        const CliRun unused = runCli({"gaussian", "--out", "u", "--size", "16", "--cover", "50",
                                      "--range", "3", "--nu", "2", "--quiet"},
                                     dir.path());
        QCOMPARE(unused.exitCode, 0);
        QVERIFY2(unused.err.contains(QStringLiteral("warning: --nu")), qPrintable(unused.err));
        // -h is help in every command, also where -H is a value.
        for (const char *command : {"random", "fractal", "render"}) {
            const CliRun shortHelp = runCli({QLatin1String(command), QStringLiteral("-h")});
            QCOMPARE(shortHelp.exitCode, 0);
            QVERIFY2(shortHelp.out.startsWith(QStringLiteral("Usage:")), command);
        }
        QVERIFY(runCli({QStringLiteral("fractal"), QStringLiteral("-h")})
                    .out.contains(QStringLiteral("--hurst")));
    }

    // On a terminal the line counts maps, not the surfaces they are cut
    // from, and speaks the command line's language.
    void progressCountsMaps()
    {
        QTemporaryDir dir;
        CliOptions options;
        options.workingDirectory = dir.path();
        options.terminal = true;
        const CliRun fractal = runCli({"fractal", "--out", "f", "--size", "9", "--hurst", "0.5",
                                       "--cover", "10:90:20", "--replicates", "3"},
                                      options);
        QCOMPARE(fractal.exitCode, 0);
        const int written = int(
            QDir(dir.filePath(QStringLiteral("f"))).entryList({QStringLiteral("*.txt")}).size());
        // The terminal turns each line feed into \r\n; the last drawing is
        // the last piece that counts anything.
        QString last;
        for (const QString &piece : fractal.err.split(QLatin1Char('\r')))
            if (piece.contains(QStringLiteral(" maps")))
                last = piece;
        QVERIFY2(last.startsWith(QStringLiteral("%1/15 maps").arg(written)), qPrintable(last));
        QVERIFY(!fractal.err.contains(QStringLiteral("Calculando")));
        // Redirected, it says nothing while it works.
        options.terminal = false;
        const CliRun quiet = runCli({"random", "--out", "r", "--size", "4"}, options);
        QVERIFY(!quiet.err.contains(QStringLiteral("maps")));
        // A search whose maps are rarely kept counts its draws, and a pilot
        // sample its maps.
        options.terminal = true;
        const CliRun search =
            runCli({"random", "--out", "t", "--size", "8", "--cover", "50", "--generator", "philox",
                    "--target", "np=1000:", "--max-draws", "3000"},
                   options);
        QVERIFY2(search.err.contains(QStringLiteral("(3000 drawn)")), qPrintable(search.err));
        const CliRun scan = runCli({"scan", "random", "--samples", "50", "--size", "8"}, options);
        QVERIFY2(scan.err.contains(QStringLiteral("50/50 maps")), qPrintable(scan.err));
        options.terminal = false;
        // A resumed run tells the maps it kept from those it made.
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("r/RND_050_4x4_a1.txt"))));
        const CliRun resumed = runCli({"random", "--out", "r", "--size", "4", "--resume"}, options);
        QVERIFY2(
            resumed.out.startsWith(QStringLiteral("99 maps were complete and kept, 1 written")),
            qPrintable(resumed.out + resumed.err));
    }

    // One value and a list are sweeps too, named as a range's maps are.
    void sweepsAsValuesAndLists()
    {
        QTemporaryDir dir;
        QCOMPARE(runCli({"random", "--out", "r", "--cover", "10,25,50", "--size", "4", "--quiet"},
                        dir.path())
                     .exitCode,
                 0);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("r"))).entryList({QStringLiteral("*.txt")}),
                 (QStringList{"RND_010_4x4_a1.txt", "RND_025_4x4_a1.txt", "RND_050_4x4_a1.txt"}));
        QCOMPARE(runCli({"fractal", "--out", "f", "--cover", "50", "--hurst", "0.3,0.45", "--size",
                         "9", "--cut", "exact", "--quiet"},
                        dir.path())
                     .exitCode,
                 0);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("f"))).entryList({QStringLiteral("*.txt")}),
                 (QStringList{"FBM_0.30_050_00001.txt", "FBM_0.45_050_00001.txt"}));
        const CliRun down = runCli({"random", "--out", "d", "--cover", "50,40"}, dir.path());
        QCOMPARE(down.exitCode, 2);
        QVERIFY2(down.err.contains(QStringLiteral("increase")), qPrintable(down.err));
    }

    void batchMatchesTheCoreAndListsAbsolutePaths()
    {
        QTemporaryDir dir;
        const CliRun run =
            runCli({"random", "--out", "maps", "--cover", "0:100:25", "--size", "12",
                    "--replicates", "3", "--seed", "-42", "--post-string", ";a;b", "--quiet"},
                   dir.path());
        QCOMPARE(run.exitCode, 0);
        const QString folder = QDir(dir.path()).filePath(QStringLiteral("maps"));

        // The same batch through the core, as the GUI runs it.
        QTemporaryDir reference;
        QStringList names;
        NullProgress progress;
        RandomBatchRequest request;
        request.covers = {0, 100, 25};
        request.shape = {12, 12};
        request.replicates = 3;
        request.seed = -42;
        QVERIFY(writeMaps<RandomMapGenerator>(request, reference.filePath(QStringLiteral("RND_")),
                                              names, progress)
                    .ok());
        QCOMPARE(names.size(), 15);
        QByteArray expectedList;
        for (const QString &name : names) {
            const QString fileName = QFileInfo(name).fileName();
            QCOMPARE(readAll(QDir(folder).filePath(fileName)), readAll(name));
            expectedList += QDir(folder).filePath(fileName).toLatin1() + ";a;b\n";
        }
        QCOMPARE(readAll(QDir(folder).filePath(QStringLiteral("RND_ListFragStat.fbt"))),
                 expectedList);

        // Without waiting for the disk, the list and manifest are named
        // through another path; they and the folder must come out the same.
        const CliRun unsynced = runCli({"random", "--out", "unsynced", "--cover", "0:100:25",
                                        "--size", "12", "--replicates", "3", "--seed", "-42",
                                        "--post-string", ";a;b", "--quiet", "--no-sync"},
                                       dir.path());
        QCOMPARE(unsynced.exitCode, 0);
        const QString unsyncedFolder = QDir(dir.path()).filePath(QStringLiteral("unsynced"));
        QCOMPARE(filesIn(unsyncedFolder), filesIn(folder));
        for (const QString &name : filesIn(folder)) {
            QByteArray expected = readAll(QDir(folder).filePath(name));
            expected.replace(folder.toLatin1(), unsyncedFolder.toLatin1());
            QCOMPARE(readAll(QDir(unsyncedFolder).filePath(name)), expected);
        }
    }

    void settingsComeFromConfigFile()
    {
        QTemporaryDir dir;
        QFile config(QDir(dir.path()).filePath(QStringLiteral("config.txt")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("MY_\n;post\nF_\n\n7\n-3\n");
        config.close();
        const CliRun run = runCli(
            {"random", "--out", "o", "--cover", "0:100:100", "--size", "2", "--quiet"}, dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("o/MY_100_2x2_a1.txt"))),
                 QByteArray("7 7 \n7 7 \n"));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("o/MY_ListFragStat.fbt"))),
                 QDir(dir.path()).filePath(QStringLiteral("o/MY_000_2x2_a1.txt")).toLatin1() +
                     ";post\n" +
                     QDir(dir.path()).filePath(QStringLiteral("o/MY_100_2x2_a1.txt")).toLatin1() +
                     ";post\n");

        // Options win over the file.
        const CliRun overridden = runCli({"random", "--out", "p", "--cover", "0:100:100", "--size",
                                          "2", "--prefix", "X", "--cover-value", "9", "--quiet"},
                                         dir.path());
        QCOMPARE(overridden.exitCode, 0);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("p/X100_2x2_a1.txt"))),
                 QByteArray("9 9 \n9 9 \n"));
    }

    void folderThatCannotBeCreatedFails()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const CliRun run = runCli({"random", "--out", "file/sub", "--quiet"}, dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QStringLiteral("sub")), qPrintable(run.err));
    }

    void writeFailureStopsWithPathAndReason()
    {
        // With habitat written as -99999 the maps grow with their cover: the
        // cover-0 map fits under a 300-byte file limit, the cover-50 map not.
        QTemporaryDir dir;
        CliOptions limited;
        limited.workingDirectory = dir.path();
        limited.fileSizeLimit = 300;
        const CliRun run = runCli({"random", "--out", "m", "--cover", "0:100:50", "--size", "10",
                                   "--cover-value", "-99999", "--quiet"},
                                  limited);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("RND_050_10x10_a1.txt")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("File too large")), qPrintable(run.err));
        const QDir out(dir.filePath(QStringLiteral("m")));
        QCOMPARE(out.entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("RND_000_10x10_a1.txt"),
                              QStringLiteral("RND_ListFragStat.fbt"),
                              QStringLiteral("RND_manifest.csv")}));
        QCOMPARE(readAll(out.filePath(QStringLiteral("RND_ListFragStat.fbt"))),
                 out.filePath(QStringLiteral("RND_000_10x10_a1.txt")).toLatin1() + '\n');
    }

    // A surface of few levels (many ties) with a NoData hole, in a plain mask
    // that leaves out its first column: the classes take exact counts of the
    // cells inside both, in the order of the values, and the map keeps the
    // surface's place.
    // Every batch is refused before it writes anything, with a reason, for
    // classes, masks and compositions it cannot make.
    void batchesRefuseBadClassesAndMasks_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QStringList philox{"random", "--generator", "philox"};
        QString many;
        for (int i = 0; i < 64; ++i)
            many += QStringLiteral("1.5,");
        many += QStringLiteral("4");
        QTest::newRow("missing mask") << philox + QStringList{"--mask", "@/none.asc"};
        QTest::newRow("fifo mask") << philox + QStringList{"--mask", "@/fifo"};
        QTest::newRow("device mask") << philox + QStringList{"--mask", "/dev/zero"};
        QTest::newRow("mask of no cell") << philox + QStringList{"--mask", "@/empty.asc"};
        QTest::newRow("mask value alone") << philox + QStringList{"--mask-value", "0"};
        QTest::newRow("negative share") << philox + QStringList{"--proportions", "110,-10"};
        QTest::newRow("NaN share") << philox + QStringList{"--proportions", "nan,50"};
        QTest::newRow("sum not 100") << philox + QStringList{"--proportions", "50,40"};
        QTest::newRow("65 classes") << philox + QStringList{"--proportions", many};
        QTest::newRow("values short")
            << philox + QStringList{"--proportions", "50,50", "--class-values", "1,2,3"};
        QTest::newRow("values repeat")
            << philox + QStringList{"--proportions", "40,30,30", "--class-values", "1,2,1"};
        QTest::newRow("value is NoData")
            << philox +
                   QStringList{"--proportions", "40,30,30", "--format", "asc", "--nodata", "3"};
        QTest::newRow("float composition")
            << philox + QStringList{"--proportions-of", "@/float.asc"};
        QTest::newRow("65-class composition")
            << philox + QStringList{"--proportions-of", "@/many.txt"};
        QTest::newRow("both shares")
            << philox + QStringList{"--proportions", "50,50", "--proportions-of", "@/mask.asc"};
        QTest::newRow("metrics of classes")
            << philox + QStringList{"--proportions", "40,30,30", "--metrics"};
        QTest::newRow("bare target on classes")
            << philox + QStringList{"--proportions", "40,30,30", "--target", "np=:5"};
        QTest::newRow("metrics in a mask")
            << philox + QStringList{"--mask", "@/mask.asc", "--metrics"};
        QTest::newRow("classic classes") << QStringList{"random", "--proportions", "40,30,30"};
        QTest::newRow("ladder classes") << QStringList{"fractal", "--proportions", "40,30,30"};
        QTest::newRow("ladder in a mask") << QStringList{"fractal", "--mask", "@/mask.asc"};
        QTest::newRow("side too long") << QStringList{"fractal", "--size", "9000x10"};
    }

    void batchesRefuseBadClassesAndMasks()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        const QString at = dir.path();
        // A template every family can fill (12 x 10, one cell outside), and
        // grids that must be refused.
        const QByteArray header = "ncols 10\nnrows 12\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "NODATA_value -9999\n";
        QByteArray inside;
        QByteArray empty;
        for (int r = 0; r < 12; ++r) {
            inside += (r == 5 ? "-9999" : "1") + QByteArray(" 1 2 1 1 1 1 1 1 1\n");
            empty += QByteArray(" -9999").repeated(10) + '\n';
        }
        writeFile(at + QStringLiteral("/mask.asc"), header + inside);
        writeFile(at + QStringLiteral("/empty.asc"), header + empty);
        writeFile(at + QStringLiteral("/float.asc"),
                  header + QByteArray(inside).replace("2", "2.5"));
        QByteArray many;
        for (int code = 0; code < 65; ++code)
            many += QByteArray::number(code) + ' ';
        writeFile(at + QStringLiteral("/many.txt"), many + '\n');
        QVERIFY(mkfifo(QFile::encodeName(at + QStringLiteral("/fifo")).constData(), 0600) == 0);
        for (QString &argument : arguments)
            argument.replace(QLatin1Char('@'), at);
        const QString out = at + QStringLiteral("/out");
        const CliRun run = runCli(arguments + QStringList{"--out", out});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QLatin1String(": ")), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(out));
    }

    void classifyCutsInsideTheStudyArea()
    {
        QTemporaryDir dir;
        constexpr int rows = 7;
        constexpr int columns = 13;
        QByteArray surface = "ncols 13\nnrows 7\nxllcorner 500\nyllcorner 200\ncellsize 25\n"
                             "NODATA_value -1\n";
        QByteArray mask;
        std::vector<double> values;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                const double value = r == 3 && c > 4 && c < 9 ? -1.0 : double((r * 7 + c * 3) % 5);
                values.push_back(value);
                surface += QByteArray::number(value) + (c + 1 < columns ? " " : "\n");
                mask += c == 0 ? "0 " : "1 ";
            }
            mask += '\n';
        }
        writeFile(dir.filePath(QStringLiteral("s.asc")), surface);
        writeFile(dir.filePath(QStringLiteral("m.txt")), mask);
        const QString out = dir.filePath(QStringLiteral("k.asc"));
        const QStringList base{"classify",       dir.filePath(QStringLiteral("s.asc")),
                               "--proportions",  "40,25,20,10,5",
                               "--class-values", "3,1,4,15,9",
                               "--mask",         dir.filePath(QStringLiteral("m.txt")),
                               "--mask-value",   "0",
                               "--out",          out};
        const CliRun run = runCli(base);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(readAll(out).contains("xllcorner 500\nyllcorner 200\ncellsize 25\n"));
        LandscapeGrid grid;
        MapFileInfo info;
        QVERIFY(!readMap(out, grid, {}, &info));
        const std::vector<qint32> codes{3, 1, 4, 15, 9};
        std::vector<qint64> counts(codes.size(), 0);
        qint64 inside = 0;
        // The highest value of each class must lie at or below the lowest
        // of the next: ranking by value, whatever the codes.
        std::vector<double> lowest(codes.size(), 1e9), highest(codes.size(), -1e9);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const double value = values[std::size_t(r * columns + c)];
                const qint32 code = grid.at(std::size_t(r), std::size_t(c));
                if (c == 0 || value < 0) {
                    QCOMPARE(double(code), *info.noData);
                    continue;
                }
                ++inside;
                const auto k =
                    std::size_t(std::find(codes.begin(), codes.end(), code) - codes.begin());
                QVERIFY(k < codes.size());
                ++counts[k];
                lowest[k] = std::min(lowest[k], value);
                highest[k] = std::max(highest[k], value);
            }
        const std::vector<double> shares{40, 25, 20, 10, 5};
        QCOMPARE(counts, classCounts(shares, inside));
        for (std::size_t k = 0; k + 1 < codes.size(); ++k)
            QVERIFY(counts[k] == 0 || counts[k + 1] == 0 || highest[k] <= lowest[k + 1]);

        // Refused before anything is written: an existing map, a mask of
        // another shape, codes that repeat.
        QCOMPARE(runCli(base).exitCode, 2);
        writeFile(dir.filePath(QStringLiteral("m.txt")), "1 1\n1 1\n");
        QStringList other = base;
        other.last() = dir.filePath(QStringLiteral("other.asc"));
        QCOMPARE(runCli(other).exitCode, 2);
        other[5] = QStringLiteral("3,1,4,15,3");
        QCOMPARE(runCli(other).exitCode, 2);
        QVERIFY(!QFile::exists(other.last()));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
