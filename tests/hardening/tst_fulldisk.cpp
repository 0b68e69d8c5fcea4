// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/hardening/batchfolder.h"
#include "tests/hardening/tmpfsmount.h"

#include "tests/support/cli.h"
#include "tests/support/files.h"
#include "tests/support/runfolders.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QString listName = QStringLiteral("ListFragStat.fbt");

QString noSpaceText()
{
    return QString::fromLocal8Bit(std::strerror(ENOSPC));
}

QString fileTooLargeText()
{
    return QString::fromLocal8Bit(std::strerror(EFBIG));
}

qint64 freeBytes(const QString &path)
{
    struct statvfs fs = {};
    if (::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

// Takes all but `leave` bytes of the file system holding `folder`, the way
// another program filling the disk during a run would.
bool fillLeaving(const QString &folder, qint64 leave)
{
    const qint64 take = freeBytes(folder) - leave;
    if (take <= 0)
        return true;
    const int fd =
        ::open(QFile::encodeName(QDir(folder).filePath(QStringLiteral("filler"))).constData(),
               O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::posix_fallocate(fd, 0, off_t(take)) == 0;
    ::close(fd);
    return ok;
}

bool isStopped(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    // The state follows the command name, which is in parentheses.
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) == "T";
}

struct Outcome {
    bool finishedEarly = false;
    int exitCode = -1;
    QString err;
};

// Starts the command line and, as soon as it has passed its checks and
// opened its journal, stops it, lets the disk fill up to `leave` free bytes
// and lets it go on into the full disk.
Outcome runIntoFullDisk(const QStringList &arguments, const QString &outFolder,
                        const QString &diskRoot, qint64 leave)
{
    Outcome outcome;
    QProcess cli;
    cli.start(QStringLiteral(PW_CLI_PATH), arguments);
    if (!cli.waitForStarted())
        return outcome;
    while (QDir(outFolder).entryList({QStringLiteral("*run.journal")}, QDir::Files).isEmpty()) {
        if (cli.waitForFinished(0))
            break;
        QThread::usleep(100);
    }
    if (cli.state() == QProcess::NotRunning) {
        outcome.finishedEarly = true;
        return outcome;
    }
    ::kill(pid_t(cli.processId()), SIGSTOP);
    while (!isStopped(cli.processId()))
        QThread::usleep(100);
    fillLeaving(diskRoot, leave);
    ::kill(pid_t(cli.processId()), SIGCONT);
    cli.waitForFinished(120000);
    outcome.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    outcome.err = QString::fromLocal8Bit(cli.readAllStandardError());
    return outcome;
}

// Runs the command line with every file it writes limited to `bytes`, the
// per-file stand-in for a full disk where no file system can be mounted.
CliRun runWithFileSizeLimit(const QStringList &arguments, rlim_t bytes)
{
    CliOptions options;
    options.fileSizeLimit = bytes;
    return runCli(arguments, options);
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

// A disk that fills up during a run stops it at the map that did not fit:
// the command says which file and why and exits with 1, every map on disk is
// whole, nothing half-written or temporary is left, and the batch list names
// exactly the maps that are there.
class TestFullDisk : public QObject {
    Q_OBJECT

private:
    // `failedMap` matches the name of the map the run stopped at.
    void checkStoppedRun(int exitCode, const QString &err, const QString &outFolder,
                         const QString &prefix, const QString &failedMap, int size,
                         qint32 matrixValue, qint32 coverValue, const QString &reason)
    {
        QCOMPARE(exitCode, 1);
        const QRegularExpression failedPath(
            QRegularExpression::escape(QDir::toNativeSeparators(outFolder) + QDir::separator()) +
            failedMap + QStringLiteral(": ") + QRegularExpression::escape(reason));
        QVERIFY2(failedPath.match(err).hasMatch(), qPrintable(err));
        QVERIFY2(!err.contains(QLatin1String("batch list not written")), qPrintable(err));

        const BatchFolder folder(outFolder, size, matrixValue, coverValue);
        QVERIFY2(folder.brokenMaps.isEmpty(), qPrintable(folder.brokenMaps.join(u'\n')));
        QVERIFY2(folder.temporaries.isEmpty(), qPrintable(folder.temporaries.join(u'\n')));
        QVERIFY(!folder.completeMaps.isEmpty());
        const QStringList listed =
            BatchFolder::listedMaps(QDir(outFolder).filePath(prefix + listName), QString());
        QCOMPARE(sorted(listed), folder.completeMaps);
    }

private Q_SLOTS:
    void randomBatchOnAFullTmpfs()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        // Twenty maps of 2 MB fit on the empty file system, so the run is
        // not refused up front; the disk then fills while it runs.
        TmpfsMount mount(disk, qint64(48) << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs (%1); "
                                            "randomBatchOverTheFileSizeLimit covers the same "
                                            "failure")
                                 .arg(mount.error())));
        const QString out = disk + QStringLiteral("/maps");
        const Outcome outcome = runIntoFullDisk(
            {"random", "--out", out, "--cover", "1:20:1", "--size", "1000", "--quiet"}, out, disk,
            qint64(3) << 20);
        QVERIFY2(!outcome.finishedEarly, "the batch ended before the disk could be filled");
        checkStoppedRun(outcome.exitCode, outcome.err, out, QStringLiteral("RND_"),
                        QStringLiteral("RND_0\\d\\d_1000x1000_a1\\.txt"), 1000, 0, 1,
                        noSpaceText());
    }

    // A share stopped by a full disk is not taken for a finished one: its
    // record is whole and says it stopped, or is not there. Once there is
    // room, --resume makes it the share that never stopped.
    void shareOnAFullTmpfsResumesToTheWholeShare()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, qint64(48) << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs (%1); tst_shard stops a share "
                                            "at a file-size limit instead")
                                 .arg(mount.error())));
        const QStringList share{"random", "--cover", "1:20:1", "--size",
                                "1000",   "--shard", "1/1",    "--quiet"};
        const QString out = disk + QStringLiteral("/share");
        const Outcome outcome =
            runIntoFullDisk(share + QStringList{"--out", out}, out, disk, qint64(3) << 20);
        QVERIFY2(!outcome.finishedEarly, "the share ended before the disk could be filled");
        QVERIFY2(outcome.exitCode == 1 && outcome.err.contains(noSpaceText()),
                 qPrintable(outcome.err));
        const QString record = out + QStringLiteral("/RND_shard.json");
        if (QFileInfo::exists(record)) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(readAll(record), &error);
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
            QCOMPARE(document[QStringLiteral("state")].toString(), QStringLiteral("stopped"));
        }
        const CliRun merge = runCli({"merge", dir.filePath(QStringLiteral("merged")), out});
        QCOMPARE(merge.exitCode, 2);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("merged"))));

        QVERIFY(QFile::remove(disk + QStringLiteral("/filler")));
        const CliRun resumed = runCli(share + QStringList{"--out", out, "--resume"});
        QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
        const QString whole = dir.filePath(QStringLiteral("whole"));
        QCOMPARE(runCli(share + QStringList{"--out", whole}).exitCode, 0);
        const QString difference = runDifference(whole, out);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // A merge onto another file system copies: a copy that does not fit
    // says the system's reason and leaves nothing, and what a stopped
    // merge left there goes with the next merge, which then fits.
    void mergeOntoAnotherFileSystem()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, qint64(2) << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(mount.error())));
        const QStringList batch{"random", "--cover",      "10:90:10", "--size",
                                "200",    "--replicates", "2",        "--quiet"};
        QStringList merge{"merge", disk + QStringLiteral("/out")};
        for (const char *share : {"1/2", "2/2"}) {
            const QString folder = dir.filePath(QString::fromLatin1(share).left(1));
            QCOMPARE(runCli(batch + QStringList{"--shard", share, "--out", folder}).exitCode, 0);
            merge.append(folder);
        }
        QVERIFY(fillLeaving(disk, qint64(1) << 20));
        const CliRun full = runCli(merge);
        QVERIFY2(full.exitCode == 1 && full.err.contains(noSpaceText()), qPrintable(full.err));
        QCOMPARE(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("filler")});

        // A merge killed while it copied: its folder holds most of a copy.
        QVERIFY(QFile::remove(disk + QStringLiteral("/filler")));
        const QString leftover = disk + QStringLiteral("/.out.merging-1");
        QVERIFY(QDir().mkpath(leftover));
        writeFile(leftover + QStringLiteral("/RND_010_200x200_a1.txt"),
                  QByteArray(qint64(1200) << 10, '0'));
        const CliRun merged = runCli(merge);
        QVERIFY2(merged.exitCode == 0, qPrintable(merged.err));
        QCOMPARE(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("out")});
    }

    void fractalBatchOnAFullTmpfs()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, qint64(64) << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs (%1); "
                                            "fractalBatchOverTheFileSizeLimit covers the same "
                                            "failure")
                                 .arg(mount.error())));
        const QString out = disk + QStringLiteral("/maps");
        const Outcome outcome =
            runIntoFullDisk({"fractal", "--out", out, "--hurst", "0.5:0.5:0.1", "--cover",
                             "10:90:10", "--replicates", "3", "--size", "1000", "--quiet"},
                            out, disk, qint64(3) << 20);
        QVERIFY2(!outcome.finishedEarly, "the batch ended before the disk could be filled");
        checkStoppedRun(outcome.exitCode, outcome.err, out, QStringLiteral("FBM_"),
                        QStringLiteral("FBM_0\\.50_0\\d0_0000\\d\\.txt"), 1000, 0, 1,
                        noSpaceText());
    }

    // The room for the batch list and the manifest is the run's before its
    // first map: a disk that fills to its last kilobytes during the run
    // still takes them, and they describe exactly the maps on it.
    void recordsFitOnADiskFilledDuringTheRun()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, qint64(20) << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(mount.error())));
        const QString out = disk + QStringLiteral("/maps");
        const Outcome outcome = runIntoFullDisk({"random", "--out", out, "--cover", "1:100:1",
                                                 "--size", "100", "--format", "tif", "--quiet"},
                                                out, disk, 120000);
        QVERIFY2(!outcome.finishedEarly, "the batch ended before the disk could be filled");
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains(noSpaceText()), qPrintable(outcome.err));
        QVERIFY2(!outcome.err.contains(QLatin1String("not written")), qPrintable(outcome.err));
        const QStringList maps = QDir(out).entryList({QStringLiteral("*.tif")}, QDir::Files);
        QVERIFY(!maps.isEmpty());
        QStringList listed;
        for (const QString &path : BatchFolder::listedMaps(
                 QDir(out).filePath(QStringLiteral("RND_") + listName), QString()))
            listed << QFileInfo(path).fileName();
        QCOMPARE(sorted(listed), maps);
        QCOMPARE(readAll(QDir(out).filePath(QStringLiteral("RND_manifest.csv"))).count('\n'),
                 maps.size() + 1);
    }

    void randomBatchOverTheFileSizeLimit()
    {
        // With habitat written as -99999 the maps grow with their cover: up
        // to cover 40 they stay under 4000 bytes, from cover 50 on not.
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        const CliRun run =
            runWithFileSizeLimit({"random", "--out", out, "--cover", "0:100:10", "--size", "30",
                                  "--cover-value", "-99999", "--quiet"},
                                 4000);
        checkStoppedRun(run.exitCode, run.err, out, QStringLiteral("RND_"),
                        QStringLiteral("RND_050_30x30_a1\\.txt"), 30, 0, -99999,
                        fileTooLargeText());
        QCOMPARE(BatchFolder(out, 30, 0, -99999).completeMaps.size(), 5);
    }

    void fractalBatchOverTheFileSizeLimit()
    {
        // With matrix cells written as -999999 a cut grows as its cover
        // falls, and the cuts of a surface come in falling cover: the first
        // ones fit under the limit, a later one does not.
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        const CliRun run = runWithFileSizeLimit({"fractal", "--out", out, "--hurst", "0.5:0.5:0.1",
                                                 "--cover", "10:90:10", "--size", "40",
                                                 "--matrix-value", "-999999", "--quiet"},
                                                8000);
        checkStoppedRun(run.exitCode, run.err, out, QStringLiteral("FBM_"),
                        QStringLiteral("FBM_0\\.50_0\\d0_00001\\.txt"), 40, -999999, 1,
                        fileTooLargeText());
    }

    void batchListThatDoesNotFitIsReportedAndNoStaleListRemains()
    {
        // 303 tiny maps fit under the limit, their batch list does not. The
        // earlier run's list is removed before its maps are replaced, so it
        // cannot be taken for a list of the new ones.
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("maps"));
        QVERIFY(QDir().mkpath(out));
        const QString list = QDir(out).filePath(QStringLiteral("RND_") + listName);
        {
            QFile old(list);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old list\n");
        }
        const CliRun run =
            runWithFileSizeLimit({"random", "--out", out, "--cover", "0:100:1", "--size", "2",
                                  "--replicates", "3", "--quiet", "--overwrite"},
                                 8000);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QLatin1String("batch list not written")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QDir::toNativeSeparators(list)), qPrintable(run.err));
        QVERIFY2(run.err.contains(fileTooLargeText()), qPrintable(run.err));

        const BatchFolder folder(out, 2, 0, 1);
        QCOMPARE(folder.completeMaps.size(), 303);
        QVERIFY(folder.brokenMaps.isEmpty());
        QVERIFY2(folder.temporaries.isEmpty(), qPrintable(folder.temporaries.join(u'\n')));
        QVERIFY(!QFile::exists(list));
    }
};

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
