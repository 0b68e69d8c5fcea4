// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/hardening/batchfolder.h"

#include "tests/support/files.h"

#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString cli = QStringLiteral(PW_CLI_PATH);

// Waits until the run has named at least `count` maps in `folder`; its
// lock and temporary files do not count.
bool waitForFiles(QProcess &process, const QString &folder, int count)
{
    for (int i = 0; i < 30000; ++i) {
        if (QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files).size() >= count)
            return true;
        if (process.waitForFinished(0))
            return false;
        QThread::usleep(500);
    }
    return false;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

// A run that is killed leaves every map either complete or absent; a run
// asked to stop by SIGINT or SIGTERM finishes the map it is writing, lists
// what it wrote and exits with 128 + the signal's number.
class TestInterruptedRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedRunLeavesOnlyCompleteMaps_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("namedTemporaries");
        for (bool named : {false, true})
            for (int delay : {0, 60, 180})
                QTest::newRow(qPrintable(
                    QStringLiteral("%1 temporaries, after %2 ms")
                        .arg(named ? QStringLiteral("named") : QStringLiteral("system's"))
                        .arg(delay)))
                    << delay << named;
    }

    void killedRunLeavesOnlyCompleteMaps()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, namedTemporaries);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        // A finished earlier run in the same folder: the killed run replaces
        // some of its maps, which is where a finished temporary file is
        // briefly linked under its own name before it takes the map's.
        QProcess earlier;
        earlier.start(cli, {"random", "--out", out, "--cover", "1:10:1", "--replicates", "2",
                            "--size", "150", "--seed", "1", "--quiet"});
        QVERIFY(earlier.waitForFinished(60000));
        QCOMPARE(earlier.exitCode(), 0);
        const QString listPath = QDir(out).filePath(QStringLiteral("RND_ListFragStat.fbt"));
        const QByteArray earlierList = readAll(listPath);
        QHash<QByteArray, QByteArray> earlierMaps;
        for (const QByteArray &line : earlierList.split('\n'))
            if (!line.isEmpty())
                earlierMaps.insert(line, readAll(QFile::decodeName(line)));

        QProcess run;
        if (namedTemporaries) {
            // Where the system has no unnamed temporary files, QSaveFile
            // writes under the target's name plus six letters or digits.
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PW_NO_TMPFILE_PATH));
            const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               asan + QStringLiteral(":verify_asan_link_order=0"));
            run.setProcessEnvironment(environment);
        }
        run.start(cli, {"random", "--out", out, "--cover", "1:100:1", "--replicates", "50",
                        "--size", "150", "--seed", "2", "--quiet", "--overwrite"});
        QVERIFY(run.waitForStarted());
        QThread::msleep(std::size_t(delayMs));
        run.kill();
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);

        const BatchFolder folder(out, 150, 0, 1);
        QVERIFY2(folder.brokenMaps.isEmpty(), qPrintable(folder.brokenMaps.join(u'\n')));
        QVERIFY(folder.completeMaps.size() >= 20);
        // The earlier run's list goes before its first map is replaced, so a
        // list still there names the earlier maps as they were. Whatever
        // else is left is a temporary file, partial or whole, named after
        // its target plus six letters or digits, so it cannot be taken for a
        // map, the killed run's lock, or the earlier list and manifest.
        if (QFile::exists(listPath)) {
            QCOMPARE(readAll(listPath), earlierList);
            for (auto map = earlierMaps.cbegin(); map != earlierMaps.cend(); ++map)
                QVERIFY(readAll(QFile::decodeName(map.key())) == map.value());
        }
        QVERIFY2(folder.others.size() <= 3, qPrintable(folder.others.join(u'\n')));
    }

    // An --overwrite run killed halfway leaves new maps beside old ones
    // under the same kind of names; the next run tells them apart, and the
    // next --overwrite also clears what the killed run left half-made.
    void killedOverwriteIsToldApartFromTheEarlierRun()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        const QStringList batch{"random",  "--out",  out,   "--cover",
                                "1:100:1", "--size", "150", "--quiet"};
        QProcess earlier;
        earlier.start(cli, batch + QStringList{"--seed", "1"});
        QVERIFY(earlier.waitForFinished(60000));
        QCOMPARE(earlier.exitCode(), 0);
        QHash<QString, QByteArray> earlierMaps;
        for (const QString &map : BatchFolder(out, 150, 0, 1).completeMaps)
            earlierMaps.insert(map, readAll(map));
        QCOMPARE(earlierMaps.size(), 100);

        QProcess killed;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PW_NO_TMPFILE_PATH));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) +
                               QStringLiteral(":verify_asan_link_order=0"));
        killed.setProcessEnvironment(environment);
        killed.start(cli, batch + QStringList{"--seed", "2", "--overwrite"});
        QVERIFY(killed.waitForStarted());
        // Killed once a tenth of the maps are new. A map takes its name by a
        // rename, so a new one is a new inode: looking costs a stat, not a
        // read of every map, and the run cannot finish while the test looks.
        QHash<QString, ino_t> earlierInodes;
        const auto inodeOf = [](const QString &path) {
            struct stat info {};
            return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
        };
        for (auto map = earlierMaps.cbegin(); map != earlierMaps.cend(); ++map)
            earlierInodes.insert(map.key(), inodeOf(map.key()));
        const auto rewritten = [&] {
            QStringList changed;
            for (auto map = earlierInodes.cbegin(); map != earlierInodes.cend(); ++map)
                if (inodeOf(map.key()) != map.value())
                    changed << QFileInfo(map.key()).fileName();
            return changed;
        };
        while (rewritten().size() < 10 && !killed.waitForFinished(0))
            QThread::usleep(200);
        killed.kill();
        QVERIFY(killed.waitForFinished(30000));
        QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
        const QStringList changed = rewritten();
        QVERIFY(changed.size() >= 10 && changed.size() < 100);

        QProcess refused;
        refused.start(cli, batch);
        QVERIFY(refused.waitForFinished(60000));
        QCOMPARE(refused.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(refused.readAllStandardError());
        // The journal names each map just before it takes its name, so a
        // kill between the two counts one map too many, never one too few.
        const QRegularExpression counts(
            QStringLiteral("did not finish: (\\d+) maps.* (\\d+) files"));
        const QRegularExpressionMatch said = counts.match(err);
        QVERIFY2(said.hasMatch(), qPrintable(err));
        const int own = said.captured(1).toInt();
        QVERIFY2(own == changed.size() || own == changed.size() + 1, qPrintable(err));
        QCOMPARE(said.captured(2).toInt(), 100 - own);

        QProcess again;
        again.start(cli, batch + QStringList{"--cover", "1:3:1", "--overwrite"});
        QVERIFY(again.waitForFinished(60000));
        QCOMPARE(again.exitCode(), 0);
        const BatchFolder after(out, 150, 0, 1);
        QVERIFY2(after.temporaries.isEmpty(), qPrintable(after.temporaries.join(u'\n')));
        QCOMPARE(after.others, (QStringList{out + QStringLiteral("/RND_ListFragStat.fbt"),
                                            out + QStringLiteral("/RND_manifest.csv")}));
    }

    void stopSignalFinishesTheMapAndListsTheRun_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("size");
        QTest::newRow("random, SIGINT") << "random" << int(SIGINT) << 600;
        QTest::newRow("random, SIGTERM") << "random" << int(SIGTERM) << 600;
        QTest::newRow("fractal, SIGTERM") << "fractal" << int(SIGTERM) << 256;
    }

    void stopSignalFinishesTheMapAndListsTheRun()
    {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        const bool random = command == QLatin1String("random");
        QStringList arguments{command,
                              "--out",
                              out,
                              "--cover",
                              "1:100:1",
                              "--replicates",
                              "20",
                              "--size",
                              QString::number(size),
                              "--post-string",
                              ";x",
                              "--quiet"};
        if (!random)
            arguments << "--hurst"
                      << "0.1:0.9:0.1";
        QProcess run;
        run.start(cli, arguments);
        QVERIFY(waitForFiles(run, out, 3));
        ::kill(pid_t(run.processId()), signal);
        QVERIFY(run.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 128 + signal);
        QVERIFY2(err.contains(QStringLiteral("stopped by signal %1").arg(signal)), qPrintable(err));

        const BatchFolder folder(out, size, 0, 1);
        QVERIFY2(folder.brokenMaps.isEmpty(), qPrintable(folder.brokenMaps.join(u'\n')));
        QVERIFY2(folder.temporaries.isEmpty(), qPrintable(folder.temporaries.join(u'\n')));
        QVERIFY(folder.completeMaps.size() >= 3);
        QVERIFY(folder.completeMaps.size() < 2000);
        const QString list =
            QDir(out).filePath((random ? QStringLiteral("RND_") : QStringLiteral("FBM_")) +
                               QStringLiteral("ListFragStat.fbt"));
        QCOMPARE(sorted(BatchFolder::listedMaps(list, QStringLiteral(";x"))), folder.completeMaps);
        QVERIFY2(
            err.contains(QString::number(folder.completeMaps.size()) + QStringLiteral(" maps")),
            qPrintable(err));
    }

    void secondSignalStopsAtOnce()
    {
        // Maps of 32 MB take long enough that a second Ctrl-C arrives while
        // the first map is still being written; the user gets the prompt
        // back at once and the half-written map never appears.
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        QProcess run;
        run.start(cli, {"random", "--out", out, "--cover", "1:100:1", "--size", "4000", "--quiet"});
        QVERIFY(run.waitForStarted());
        while (!QFileInfo::exists(out) && !run.waitForFinished(0))
            QThread::usleep(200);
        ::kill(pid_t(run.processId()), SIGINT);
        QThread::msleep(5);
        ::kill(pid_t(run.processId()), SIGINT);
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);

        const BatchFolder folder(out, 4000, 0, 1);
        QVERIFY(folder.brokenMaps.isEmpty());
        QVERIFY(folder.completeMaps.size() <= 1);
    }
};

QTEST_GUILESS_MAIN(TestInterruptedRun)
#include "tst_interruptedrun.moc"
