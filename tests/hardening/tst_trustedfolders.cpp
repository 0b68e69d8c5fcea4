// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapreader.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

namespace {

// Every line of the batch list names an existing file, byte for byte.
QStringList missingListedFiles(const QString &list, const QByteArray &postString)
{
    QStringList missing;
    for (const QByteArray &line : readAll(list).split('\n')) {
        if (line.isEmpty())
            continue;
        const QByteArray path = line.chopped(postString.size());
        if (!line.endsWith(postString) || !QFileInfo::exists(QFile::decodeName(path)))
            missing << QString::fromUtf8(line);
    }
    return missing;
}

QStringList small(const QString &command, const QString &out)
{
    QStringList arguments{command,
                          QStringLiteral("--out"),
                          out,
                          QStringLiteral("--size"),
                          QStringLiteral("8"),
                          QStringLiteral("--quiet")};
    arguments << QStringLiteral("--cover")
              << (command == QLatin1String("random") ? QStringLiteral("10:30:10")
                                                     : QStringLiteral("20:40:20"));
    if (command == QLatin1String("fractal"))
        arguments << QStringLiteral("-H") << QStringLiteral("0.5:0.5:0.1");
    return arguments;
}

} // namespace

// What a run may write, where, and over what: the rules that keep a user's
// folders trustworthy whatever the options, the settings or the folder hold.
class TestTrustedFolders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hostileNamesAreRefusedBeforeAnythingIsWritten_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("message");
        QTest::newRow("prefix leading up")
            << QStringList{"--prefix", "../ESC_"} << QByteArray() << "separator";
        QTest::newRow("prefix into a sub-folder")
            << QStringList{"--prefix", "sub/X_"} << QByteArray() << "separator";
        QTest::newRow("prefix with dots")
            << QStringList{"--prefix", "..X_"} << QByteArray() << "\"..\"";
        QTest::newRow("prefix with a line break")
            << QStringList{"--prefix", "A\nB"} << QByteArray() << "control character";
        QTest::newRow("prefix from config.txt")
            << QStringList{} << QByteArray("../ESC_\n\n\n\n1\n0\n") << "separator";
        QTest::newRow("post-string with a line break")
            << QStringList{"--post-string", ";a\n;b"} << QByteArray() << "line break";
        QTest::newRow("post-string beyond Latin-1")
            << QStringList{"--post-string", QStringLiteral(";森")} << QByteArray() << "Latin-1";
        QTest::newRow("names longer than the file system takes")
            << QStringList{"--prefix", QString(241, QLatin1Char('P'))} << QByteArray()
            << "allows 255 bytes";
        QTest::newRow("reversed covers")
            << QStringList{"--cover", "50:10:1"} << QByteArray() << "above the last";
        QTest::newRow("codes from config.txt out of range")
            << QStringList{} << QByteArray("R_\n\nF_\n\n123456789\n0\n") << "config.txt";
    }

    void hostileNamesAreRefusedBeforeAnythingIsWritten()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, config);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString work = dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work + QStringLiteral("/out")));
        // An earlier run's list, which a refused run must leave alone.
        writeFile(work + QStringLiteral("/out/RND_ListFragStat.fbt"), "earlier\n");
        if (!config.isEmpty())
            writeFile(work + QStringLiteral("/config.txt"), config);
        const CliRun run =
            runCli(QStringList{"random", "--out", "out", "--size", "4"} + options, work);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(filesIn(work + QStringLiteral("/out")),
                 QStringList{QStringLiteral("RND_ListFragStat.fbt")});
        QCOMPARE(readAll(work + QStringLiteral("/out/RND_ListFragStat.fbt")), "earlier\n");
        QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                 config.isEmpty() ? 1 : 2);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("work")});
    }

    void listsNameExistingFilesWhateverTheCharacters_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("random") << "random";
        QTest::newRow("fractal") << "fractal";
    }

    void listsNameExistingFilesWhateverTheCharacters()
    {
        QFETCH(QString, command);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("Données/森林"));
        const CliRun run = runCli(small(command, out) +
                                  QStringList{"--prefix", "forêt森_", "--post-string", ";é"});
        QCOMPARE(run.exitCode, 0);
        const QString list = out + QStringLiteral("/forêt森_ListFragStat.fbt");
        QVERIFY(readAll(list).count('\n') >= 2);
        const QStringList missing = missingListedFiles(list, QByteArray(";\xe9"));
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u'\n')));
    }

    void argumentThatCannotBeDecodedIsRefused()
    {
        QTemporaryDir dir;
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start(QStringLiteral("bash"),
                    {QStringLiteral("-c"),
                     QStringLiteral("exec \"$0\" random --out $'bad\\xff' --size 4 --quiet"),
                     QStringLiteral(PW_CLI_PATH)});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.exitCode(), 2);
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void onlyRegularFilesAreReadAsMaps()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("pipe.txt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Each would block or never end if it were read; each is refused at
        // once, by the core and by the command line alike.
        for (const QString &path : {fifo, QStringLiteral("/dev/zero"), dir.path()}) {
            LandscapeGrid grid;
            const FileResult error = readMap(path, grid);
            QVERIFY2(error && error->reason.contains(QStringLiteral("not a regular file")),
                     qPrintable(path));
            const CliRun run = runCli({"render", path, "--out", dir.filePath("x.png")});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains(QStringLiteral("not a regular file")), qPrintable(run.err));
        }
    }

    void renderNeverReplacesAMapOrANonRegularFile()
    {
        QTemporaryDir dir;
        const QString map = dir.filePath(QStringLiteral("keep.txt"));
        writeFile(map, "1 0 \n0 1 \n");
        const QString png = dir.filePath(QStringLiteral("a.png"));
        writeFile(png, "1 1 \n1 1 \n");
        const QString fifo = dir.filePath(QStringLiteral("out.png"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QList<QStringList> refused = {
            {map, "--out", map},
            {map, png, "--out", dir.path()},
            {map, "--out", fifo},
            {map, "--out", "/dev/null"},
        };
        for (const QStringList &arguments : refused) {
            const CliRun run = runCli(QStringList{"render"} + arguments);
            QCOMPARE(run.exitCode, 2);
        }
        QCOMPARE(readAll(map), QByteArray("1 0 \n0 1 \n"));
        QCOMPARE(readAll(png), QByteArray("1 1 \n1 1 \n"));
        QVERIFY(QFileInfo(fifo).isFile() == false && QFileInfo::exists(fifo));
    }

    void rerunsAreRefusedUnlessAskedAndThenLeaveNoStaleList()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        QCOMPARE(runCli({"random", "--out", out, "--cover", "10:90:10", "--size", "4", "--quiet"})
                     .exitCode,
                 0);
        const QStringList before = filesIn(out);

        const QStringList again{"random", "--out", out, "--cover", "10:30:10", "--size", "4"};
        const CliRun refused = runCli(again);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(QStringLiteral("11 files of an earlier run")),
                 qPrintable(refused.err));
        QCOMPARE(filesIn(out), before);

        const CliRun replaced = runCli(again + QStringList{"--overwrite"});
        QCOMPARE(replaced.exitCode, 0);
        // Six older maps stay, named in no list; the new list names three.
        QVERIFY2(replaced.err.contains(QStringLiteral("6 maps of the earlier run")),
                 qPrintable(replaced.err));
        QCOMPARE(readAll(out + QStringLiteral("/RND_ListFragStat.fbt")).count('\n'), 3);
        QCOMPARE(filesIn(out), before);
    }

    void randomAndFractalRunsNeverShareAList()
    {
        // An empty config.txt gives both kinds the empty prefix.
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("config.txt")), QByteArray());
        QCOMPARE(
            runCli(small(QStringLiteral("random"), QStringLiteral("out")), dir.path()).exitCode, 0);
        for (const QStringList &extra : {QStringList{}, QStringList{"--overwrite"}}) {
            const CliRun run =
                runCli(small(QStringLiteral("fractal"), QStringLiteral("out")) + extra, dir.path());
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.contains(QStringLiteral("share their batch list")),
                     qPrintable(run.err));
        }
    }

    void oneRunAtATimePerFolderAndPrefix()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        const QStringList slow{"random", "--out",        out,  "--cover", "1:100:1", "--size",
                               "400",    "--replicates", "50", "--quiet"};
        const auto lockOf = [](const QString &folder) {
            return folder + QStringLiteral("/RND_ListFragStat.fbt.lock");
        };
        const auto startSlow = [&](QProcess &process, const QString &folder) {
            process.start(QStringLiteral(PW_CLI_PATH),
                          QStringList(slow).replaceInStrings(out, folder));
            for (int i = 0; i < 2000 && !QFileInfo::exists(lockOf(folder)); ++i)
                QThread::msleep(5);
        };
        QProcess first;
        startSlow(first, out);
        const QString lock = lockOf(out);
        const CliRun second = runCli(slow + QStringList{"--overwrite"});
        QCOMPARE(second.exitCode, 2);
        QVERIFY2(second.err.contains(QStringLiteral("process %1").arg(first.processId())),
                 qPrintable(second.err));

        // A lock whose process was killed is free, and the next run goes,
        // even when the killed run's process id has since gone to another
        // live run, as it may on a machine that starts many.
        first.kill();
        QVERIFY(first.waitForFinished(30000));
        QVERIFY(QFileInfo::exists(lock));
        QProcess other;
        startSlow(other, dir.filePath(QStringLiteral("other")));
        QByteArray held = readAll(lock);
        held.replace(0, held.indexOf('\n'), QByteArray::number(other.processId()));
        writeFile(lock, held);
        const CliRun afterReuse =
            runCli(small(QStringLiteral("random"), out) + QStringList{"--overwrite"});
        other.kill();
        QVERIFY(other.waitForFinished(30000));
        QVERIFY2(afterReuse.exitCode == 0, qPrintable(afterReuse.err));
        QVERIFY(!QFileInfo::exists(lock));

        // Killed between creating its lock and writing its process there, a
        // run leaves an empty lock no process holds: the next run takes it.
        // One that names no process is no run's lock, and is refused.
        writeFile(lock, QByteArray());
        QCOMPARE(runCli(small(QStringLiteral("random"), out) + QStringList{"--overwrite"}).exitCode,
                 0);
        QVERIFY(!QFileInfo::exists(lock));
        writeFile(lock, "not a lock\n");
        const CliRun foreign =
            runCli(small(QStringLiteral("random"), out) + QStringList{"--overwrite"});
        QVERIFY2(foreign.exitCode == 2 && foreign.err.contains(QStringLiteral("names no process")),
                 qPrintable(foreign.err));
    }

    void linksAtTheRunsNamesAreNeverFollowed()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const QString outside = dir.filePath(QStringLiteral("precious.txt"));
        writeFile(outside, "precious\n");
        for (const char *name : {"RND_010_4x4_a1.txt", "RND_ListFragStat.fbt"}) {
            const QString link = QDir(out).filePath(QLatin1String(name));
            QVERIFY(QFile::link(outside, link));
            const CliRun run = runCli({"random", "--out", out, "--cover", "10:10:1", "--size", "4",
                                       "--quiet", "--overwrite"});
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.contains(QStringLiteral("symbolic link")), qPrintable(run.err));
            QCOMPARE(readAll(outside), QByteArray("precious\n"));
            QVERIFY(QFile::remove(link));
        }
    }

    void unreadableConfigIsReportedAndTheDefaultsUsed()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.txt")));
        const CliRun run =
            runCli(small(QStringLiteral("random"), QStringLiteral("out")), dir.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QStringLiteral("config.txt")), qPrintable(run.err));
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("out/RND_ListFragStat.fbt"))));
    }

    void fractalShortfallSaysWhichCoversAndWhy()
    {
        QTemporaryDir dir;
        const CliRun run = runCli({"fractal", "--out", dir.filePath("out"), "-H", "0.5:0.5:0.1",
                                   "--cover", "90:100:10", "--size", "16"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QStringLiteral("cover 100 fell short at every H")),
                 qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestTrustedFolders)
#include "tst_trustedfolders.moc"
