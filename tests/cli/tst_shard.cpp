// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/cli.h"
#include "tests/support/files.h"
#include "tests/support/runfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstring>

namespace {

const QString quiet = QStringLiteral("--quiet");

// The batch into `folder`, with more options.
CliRun runInto(const QStringList &batch, const QString &folder, const QStringList &more = {},
               const CliOptions &options = {})
{
    return runCli(batch + more + QStringList{QStringLiteral("--out"), folder, quiet}, options);
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Every file of the folder with its bytes, to tell that a refused run left
// it as it was. A killed run's lock goes with any run that starts after it.
QMap<QString, QByteArray> contentOf(const QString &folder)
{
    QMap<QString, QByteArray> content;
    for (const QString &name : filesIn(folder))
        if (!name.endsWith(QLatin1String(".lock")))
            content.insert(name, readAll(QDir(folder).filePath(name)));
    return content;
}

// Kills the program at once (SIGKILL, as a node that goes down) if it still
// runs. A process that has ended has no id: kill(0) would end this test's
// whole process group instead.
void killNow(QProcess &process)
{
    if (const qint64 pid = process.processId(); pid > 0 && process.state() == QProcess::Running)
        ::kill(pid_t(pid), SIGKILL);
    process.waitForFinished(30000);
}

// The files a run's journal in `folder` names so far.
qsizetype journalNames(const QString &folder)
{
    const QStringList journals = filesIn(folder).filter(QStringLiteral("run.journal"));
    if (journals.isEmpty())
        return 0;
    QByteArray text = readAll(QDir(folder).filePath(journals.first()));
    text.truncate(text.indexOf('\0') < 0 ? text.size() : text.indexOf('\0'));
    return std::max<qsizetype>(text.count('\n') - 1, 0);
}

// Starts the batch and kills it (SIGKILL, as a node that goes down) once its
// journal names `files` files; false when it ended before.
bool killAfterNaming(const QStringList &arguments, const QString &folder, int files)
{
    QProcess process;
    process.start(QStringLiteral(PW_CLI_PATH), arguments);
    if (!process.waitForStarted(10000))
        return false;
    while (process.state() == QProcess::Running) {
        if (journalNames(folder) >= files) {
            killNow(process);
            return true;
        }
        QThread::msleep(1);
    }
    return false;
}

} // namespace

class TestShard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sharesMergeIntoTheWholeRun_data()
    {
        QTest::addColumn<QStringList>("batch");
        QTest::newRow("random classic")
            << words("random --cover 10:50:10 --replicates 3 --size 20 --seed 7");
        QTest::newRow("random philox, metrics, asc")
            << words("random --cover 5:25:10 --replicates 2 --size 16 --generator philox "
                     "--metrics --format asc --post-string ;x");
        QTest::newRow("random targets")
            << words("random --cover 30,50 --replicates 2 --size 16 --generator philox "
                     "--target np=2:12");
        QTest::newRow("fractal classic ladder, metrics")
            << words("fractal --hurst 0.3:0.5:0.2 --cover 20:60:20 --replicates 2 --size 16 "
                     "--metrics");
        // One H and three cells: four and five shares leave shares empty.
        QTest::newRow("fractal classic exact")
            << words("fractal --hurst 0.5 --cover 10:50:20 --replicates 2 --size 16 --cut exact");
        QTest::newRow("fractal philox ladder, distinct surfaces")
            << words("fractal --hurst 0.2:0.8:0.3 --cover 30:50:10 --replicates 2 --size 16 "
                     "--generator philox --distinct-surfaces --surfaces 20");
        // A surface file records the cuts of every cover: shared out by H.
        QTest::newRow("fractal with surface files")
            << words("fractal --hurst 0.4:0.6:0.1 --cover 30:40:10 --size 16 --write-surfaces "
                     "--surfaces 30 --cut exact");
        QTest::newRow("fractal targets")
            << words("fractal --hurst 0.5,0.7 --cover 30,50 --replicates 2 --size 33 "
                     "--generator philox --cut exact --distinct-surfaces --target np=1:6");
        QTest::newRow("gaussian exponential")
            << words("gaussian --cover 20:60:20 --size 32 --replicates 2 --range 5:15:5");
        // Ladder cuts leave some fields without a map; each field's surface
        // file goes with its map.
        QTest::newRow("gaussian fbm ladder, surface files, table of metrics")
            << words("gaussian --cover 30,50 --size 32 --replicates 2 --model fbm --hurst 0.3,0.7 "
                     "--cut ladder --write-surfaces --metrics all");
        QTest::newRow("gaussian targets")
            << words("gaussian --cover 30,50 --size 32 --replicates 2 --model matern --nu 1.5 "
                     "--range 8 --target np=2:20");
    }

    void sharesMergeIntoTheWholeRun()
    {
        QFETCH(QStringList, batch);
        QTemporaryDir dir;
        const QString whole = dir.filePath(QStringLiteral("whole"));
        const CliRun run = runInto(batch, whole);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(filesIn(whole).size() > 4);
        for (int count = 1; count <= 5; ++count) {
            QString failure;
            const QString merged = runAndMergeShares(batch, count, dir.path(), failure);
            QVERIFY2(!merged.isEmpty(), qPrintable(failure));
            const QString difference = runDifference(whole, merged);
            QVERIFY2(difference.isEmpty(),
                     qPrintable(QStringLiteral("%1 shares: %2").arg(count).arg(difference)));
        }
        // Each share's record names the batch's own family.
        QDirIterator records(dir.path(), {QStringLiteral("*shard.json")}, QDir::Files,
                             QDirIterator::Subdirectories);
        QVERIFY(records.hasNext());
        while (records.hasNext()) {
            const QJsonObject record = QJsonDocument::fromJson(readAll(records.next())).object();
            QCOMPARE(record.value(QStringLiteral("kind")).toString(), batch.first());
        }
    }

    void mergeRefusesWhatItCannotMergeExactly()
    {
        QTemporaryDir dir;
        const QStringList batch =
            words("random --cover 10:70:20 --size 20 --replicates 2 --cover-value 1000");
        auto share = [&](const QString &name, const QString &shard, const QStringList &more = {},
                         rlim_t limit = RLIM_INFINITY) {
            CliOptions options;
            options.fileSizeLimit = limit;
            return runInto(batch, dir.filePath(name), more + QStringList{"--shard", shard}, options)
                .exitCode;
        };
        QCOMPARE(share("a", "1/2"), 0);
        QCOMPARE(share("b", "2/2"), 0);
        QCOMPARE(share("seed", "2/2", {"--seed", "6"}), 0);
        // A share stopped by a full disk has not made its part: the maps of
        // cover 70 outgrow the limit, those of cover 50 do not.
        QCOMPARE(share("full", "2/2", {}, 1540), 1);
        QVERIFY(!filesIn(dir.filePath("full")).filter("_a").isEmpty());
        // One made by another release cannot give the whole run's manifest.
        QCOMPARE(share("release", "2/2"), 0);
        const QString record = dir.filePath("release/RND_shard.json");
        QByteArray text = readAll(record);
        const qsizetype version = text.indexOf("\"version\":\"");
        QVERIFY(version > 0);
        text.insert(version + qsizetype(qstrlen("\"version\":\"")), "0.");
        writeFile(record, text);
        // A record cut short, as a plain write on a full disk would leave it.
        QCOMPARE(share("cut", "2/2"), 0);
        const QByteArray whole = readAll(dir.filePath("cut/RND_shard.json"));
        writeFile(dir.filePath("cut/RND_shard.json"), whole.left(whole.lastIndexOf(']')));

        // Shares changed after they ran, each in one way: a map edited in
        // place, a map replaced by another's bytes, a manifest value edited,
        // and a record from before records kept what the files hold.
        const auto copyOf = [&](const QString &name) {
            const QString folder = dir.filePath(name);
            QDir().mkpath(folder);
            for (const QString &file : filesIn(dir.filePath("b")))
                QFile::copy(dir.filePath("b/" + file), folder + QLatin1Char('/') + file);
            return folder;
        };
        const QStringList maps = filesIn(dir.filePath("b")).filter(QStringLiteral("_a"));
        const QString edited = copyOf(QStringLiteral("edited")) + QLatin1Char('/') + maps[0];
        QByteArray bytes = readAll(edited);
        bytes[bytes.indexOf("0 ")] = '7';
        writeFile(edited, bytes);
        const QString swapped = copyOf(QStringLiteral("swapped"));
        writeFile(swapped + QLatin1Char('/') + maps[0],
                  readAll(swapped + QLatin1Char('/') + maps[1]));
        const QString rows = copyOf(QStringLiteral("rows")) + QStringLiteral("/RND_manifest.csv");
        writeFile(rows, readAll(rows).replace(",1000,", ",1001,"));
        const QString old = copyOf(QStringLiteral("old")) + QStringLiteral("/RND_shard.json");
        QJsonObject oldRecord = QJsonDocument::fromJson(readAll(old)).object();
        QJsonArray oldMaps;
        for (const QJsonValue &map : oldRecord.value(QStringLiteral("maps")).toArray())
            oldMaps.append(QJsonArray{map[0], map[1], map[2]});
        oldRecord.insert(QStringLiteral("maps"), oldMaps);
        oldRecord.remove(QStringLiteral("surfaces"));
        writeFile(old, QJsonDocument(oldRecord).toJson(QJsonDocument::Compact));
        // Two shares of nine: the missing ones are told as ranges.
        QCOMPARE(share("five", "5/9"), 0);
        QCOMPARE(share("eight", "8/9"), 0);

        const QString out = dir.filePath(QStringLiteral("out"));
        const QStringList folders =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        auto refused = [&](const QStringList &given, const QString &reason) {
            QStringList arguments{QStringLiteral("merge"), out};
            for (const QString &folder : given)
                arguments.append(dir.filePath(folder));
            const CliRun merge = runCli(arguments);
            QVERIFY2(merge.exitCode == 2 && merge.err.contains(reason), qPrintable(merge.err));
            // Nothing half-merged is left, under OUT or beside it.
            QVERIFY(!QFileInfo::exists(out));
            QCOMPARE(
                QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                folders);
        };
        refused({"a"}, "share 2 of 2 is missing");
        refused({"five", "eight"}, "shares 1-4, 6-7, 9 of 9 are missing");
        refused({"a", "b", "b"}, "given twice");
        refused({"a", "seed"}, "different requests");
        refused({"a", "full"}, "is incomplete");
        refused({"a", "release"}, "different releases");
        refused({"a", "cut"}, "not a whole record");
        refused({"a", "edited"}, QStringLiteral("\"%1\" holds other bytes").arg(edited));
        refused({"a", "swapped"}, maps[0]);
        refused({"a", "rows"}, QStringLiteral("\"%1\" gives the map").arg(rows));
        refused({"a", "old"}, "--resume");

        QDir().mkpath(out + QStringLiteral("/x"));
        const CliRun occupied = runCli({"merge", out, dir.filePath("a"), dir.filePath("b")});
        QVERIFY2(occupied.exitCode == 2 && occupied.err.contains("not an empty folder"),
                 qPrintable(occupied.err));
        QVERIFY(QDir(out).removeRecursively());

        // What a killed merge leaves, under a process id that is alive (this
        // test's), goes with the next merge into the same folder.
        const QString leftover =
            dir.filePath(QStringLiteral(".out.merging-%1").arg(QCoreApplication::applicationPid()));
        QVERIFY(QDir().mkpath(leftover));
        writeFile(leftover + QStringLiteral("/RND_010_20x20_a1.txt"), "1 0 \n");
        writeFile(dir.filePath(QStringLiteral(".out.merging.lock")),
                  QByteArray::number(QCoreApplication::applicationPid()) + "\npatchwright-cli\n");
        const CliRun merged = runCli({"merge", out, dir.filePath("a"), dir.filePath("b")});
        QVERIFY2(merged.exitCode == 0, qPrintable(merged.err));
        QStringList withOut = QStringList(folders) << QStringLiteral("out");
        withOut.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 withOut);
        QVERIFY(QDir(out).removeRecursively());

        // A share whose map went missing after it ran.
        const QString firstMap = filesIn(dir.filePath("b")).first();
        QVERIFY(QFile::remove(dir.filePath("b/" + firstMap)));
        const CliRun broken = runCli({"merge", out, dir.filePath("a"), dir.filePath("b")});
        QVERIFY2(broken.exitCode == 2 && broken.err.contains(firstMap), qPrintable(broken.err));
        QVERIFY(!QFileInfo::exists(out));
    }

    // A run killed at random moments, and each time finished with --resume,
    // ends as the run that was never stopped, file for file; so does a
    // resumed share once merged.
    void killedRunsResumeToTheUninterruptedRun_data()
    {
        QTest::addColumn<QStringList>("batch");
        QTest::newRow("random classic")
            << words("random --cover 1:30:1 --replicates 2 --size 250 --seed 11");
        QTest::newRow("fractal classic ladder")
            << words("fractal --hurst 0.1:0.5:0.2 --cover 10:90:10 --replicates 3 --size 128");
        QTest::newRow("fractal exact, share 2/3")
            << words("fractal --hurst 0.3:0.7:0.2 --cover 10:90:20 --replicates 3 --size 128 "
                     "--cut exact --metrics=pland,enn_mn,contag --shard 2/3");
        QTest::newRow("random targets")
            << words("random --cover 20:60:20 --replicates 4 --size 128 --generator philox "
                     "--target np=20:");
        QTest::newRow("gaussian, share 1/2")
            << words("gaussian --cover 10:90:20 --replicates 3 --size 128 --range 4:12:4 "
                     "--shard 1/2");
    }

    void killedRunsResumeToTheUninterruptedRun()
    {
        QFETCH(QStringList, batch);
        QTemporaryDir dir;
        const QString whole = dir.filePath(QStringLiteral("whole"));
        QElapsedTimer timer;
        timer.start();
        const CliRun run = runInto(batch, whole, {QStringLiteral("--resume")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const qint64 runTime = std::max<qint64>(timer.elapsed(), 50);

        // Fixed, so that a failure can be replayed.
        QRandomGenerator random(30);
        for (int round = 0; round < 3; ++round) {
            const QString folder = dir.filePath(QStringLiteral("killed%1").arg(round));
            // The first start as a user starts it; then killed again while
            // it resumes, then resumed to the end.
            for (int kill = 0; kill < 2; ++kill) {
                QProcess process;
                QStringList arguments = batch + QStringList{QStringLiteral("--out"), folder, quiet};
                if (kill > 0)
                    arguments.append(QStringLiteral("--resume"));
                process.start(QStringLiteral(PW_CLI_PATH), arguments);
                QVERIFY(process.waitForStarted(10000));
                QTest::qWait(int(random.bounded(runTime)));
                killNow(process);
            }
            const CliRun resumed = runInto(batch, folder, {QStringLiteral("--resume")});
            QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
            const QString difference = runDifference(whole, folder);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        }
    }

    // A run stopped by a full disk lists what it made and records its
    // request, so that a request that differs even where only the metrics
    // see it is refused before anything is made; resumed where there is
    // room, it ends as the run that had room from the start.
    void fullDiskRunResumesToTheUninterruptedRun_data()
    {
        QTest::addColumn<QStringList>("split");
        QTest::newRow("whole") << QStringList();
        QTest::newRow("share") << QStringList{"--shard", "1/1"};
    }

    void fullDiskRunResumesToTheUninterruptedRun()
    {
        QFETCH(QStringList, split);
        QTemporaryDir dir;
        // Maps of higher covers are larger: the limit stops the run halfway.
        const QStringList batch =
            words("fractal --hurst 0.5 --cover 10:90:20 --replicates 2 --size 32 --cut exact "
                  "--cover-value 1000 --metrics") +
            split;
        const QString whole = dir.filePath(QStringLiteral("whole"));
        QCOMPARE(runInto(batch, whole).exitCode, 0);
        const QString folder = dir.filePath(QStringLiteral("full"));
        CliOptions limited;
        limited.fileSizeLimit = 3800;
        const CliRun stopped = runInto(batch, folder, {}, limited);
        QVERIFY2(stopped.exitCode == 1 && stopped.err.contains(fileTooLarge()),
                 qPrintable(stopped.err));
        QVERIFY(!filesIn(folder).filter(QStringLiteral("_00001.txt")).isEmpty());
        QVERIFY(readAll(folder + QStringLiteral("/FBM_shard.json")).contains("\"stopped\""));
        for (const auto &[more, recorded] :
             {std::pair{QStringList{"--neighbours", "4"}, "--neighbours 8"},
              std::pair{QStringList{"--cell-size", "2"}, "--cell-size 1"}}) {
            const QMap<QString, QByteArray> before = contentOf(folder);
            const CliRun other = runInto(batch, folder, more + QStringList{"--resume"});
            QVERIFY2(other.exitCode == 2 && other.err.contains(QLatin1String(recorded)),
                     qPrintable(other.err));
            QVERIFY(contentOf(folder) == before);
        }
        const CliRun resumed = runInto(batch, folder, {QStringLiteral("--resume")});
        QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
        const QString difference = runDifference(whole, folder);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // A run killed while it replaced an earlier run's maps is finished as
    // it would have ended: the earlier maps it had not reached are replaced.
    void resumedOverwriteReplacesWhatItWasToReplace()
    {
        QTemporaryDir dir;
        const QStringList batch = words("random --cover 1:40:1 --replicates 2 --size 200");
        const QString whole = dir.filePath(QStringLiteral("whole"));
        QCOMPARE(runInto(batch, whole, {"--seed", "2"}).exitCode, 0);
        const QString folder = dir.filePath(QStringLiteral("run"));
        QCOMPARE(runInto(batch, folder, {"--seed", "1"}).exitCode, 0);
        const QStringList killed =
            batch + QStringList{"--seed", "2", "--overwrite", "--out", folder, quiet};
        if (!killAfterNaming(killed, folder, 1))
            QSKIP("the run ended before it could be killed halfway");
        const CliRun resumed = runInto(batch, folder, {"--seed", "2", "--resume"});
        QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
        const QString difference = runDifference(whole, folder);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void resumeRefusesAnotherRequestsRun()
    {
        QTemporaryDir dir;
        const QStringList batch = words("random --cover 1:40:1 --replicates 2 --size 200");
        const QString folder = dir.filePath(QStringLiteral("run"));
        const auto refusedUntouched = [&](const QStringList &more, int exitCode,
                                          const char *reason) {
            const QMap<QString, QByteArray> before = contentOf(folder);
            const CliRun run = runInto(batch, folder, more + QStringList{"--resume"});
            QVERIFY2(run.exitCode == exitCode && run.err.contains(QLatin1String(reason)),
                     qPrintable(run.err));
            QVERIFY(contentOf(folder) == before);
        };

        // Killed: its journal records the request, which is compared whole.
        if (!killAfterNaming(batch + QStringList{"--seed", "3", "--out", folder, quiet}, folder, 2))
            QSKIP("the run ended before it could be killed halfway");
        refusedUntouched({"--seed", "4"}, 2, "--seed 3");
        // Told apart in the last digit a double holds.
        refusedUntouched({"--seed", "3", "--cell-size", "1.0000000000000002"}, 2, "--cell-size 1");

        // Stopped with its list and manifest: their columns and maps, then
        // each map kept and its row, are this request's or nothing changes.
        QCOMPARE(runInto(batch, folder, {"--seed", "3", "--resume"}).exitCode, 0);
        refusedUntouched({"--seed", "3", "--metrics"}, 2, "other columns");
        refusedUntouched({"--seed", "4"}, 1, "another request's run");
        QVERIFY(QFile::remove(QDir(folder).filePath(QStringLiteral("RND_ListFragStat.fbt"))));
        QVERIFY(QFile::remove(QDir(folder).filePath(QStringLiteral("RND_manifest.csv"))));
        // Maps of another size and nothing that says whose they are.
        refusedUntouched({"--seed", "3", "--size", "100"}, 2, "no record");

        // A share records its request: another share is refused by name.
        const QString share = dir.filePath(QStringLiteral("share"));
        QCOMPARE(runInto(batch, share, {"--shard", "1/2"}).exitCode, 0);
        const QMap<QString, QByteArray> before = contentOf(share);
        const CliRun otherShare = runInto(batch, share, {"--shard", "2/2", "--resume"});
        QVERIFY2(otherShare.exitCode == 2 && otherShare.err.contains("share 1/2"),
                 qPrintable(otherShare.err));
        QVERIFY(contentOf(share) == before);
    }

private:
    static QString fileTooLarge() { return QString::fromLocal8Bit(std::strerror(EFBIG)); }
};

QTEST_GUILESS_MAIN(TestShard)
#include "tst_shard.moc"
