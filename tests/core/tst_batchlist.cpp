// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchlist.h"
#include "core/files/outputpaths.h"

#include "tests/support/files.h"
#include "tests/support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestBatchList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linesArePathThenPostString()
    {
        QTemporaryDir dir;
        const QString prefix = dir.filePath(QStringLiteral("RND_"));
        const QStringList names{QStringLiteral("/m/a.txt"), QStringLiteral("/m/b.txt")};
        QVERIFY(!writeBatchList(names, prefix, QStringLiteral(";x;1")).has_value());
        QCOMPARE(readAll(prefix + QStringLiteral("ListFragStat.fbt")),
                 QByteArray("/m/a.txt;x;1\n/m/b.txt;x;1\n"));

        QVERIFY(!writeBatchList(names, prefix, QString()).has_value());
        QCOMPARE(readAll(prefix + QStringLiteral("ListFragStat.fbt")),
                 QByteArray("/m/a.txt\n/m/b.txt\n"));
    }

    void emptyRunEmptiesAnEarlierList()
    {
        QTemporaryDir dir;
        const QString prefix = dir.filePath(QStringLiteral("P"));
        QVERIFY(!writeBatchList({QStringLiteral("x")}, prefix, QString()).has_value());
        QVERIFY(!writeBatchList({}, prefix, QString()).has_value());
        QVERIFY(QFile::exists(prefix + QStringLiteral("ListFragStat.fbt")));
        QCOMPARE(readAll(prefix + QStringLiteral("ListFragStat.fbt")), QByteArray());
    }

    // Each path is written as the file system names the file, so that the
    // line opens it; the post-string stays Latin-1, as config.txt keeps it.
    void pathsAreTheFileSystemsBytesAndThePostStringLatin1()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("北京"));
        QVERIFY(QDir().mkpath(folder));
        const QString prefix = folder + QStringLiteral("/São_");
        QVERIFY(!writeBatchList({QStringLiteral("/São/m.txt")}, prefix, QStringLiteral(" é"))
                     .has_value());
        QCOMPARE(readAll(prefix + QStringLiteral("ListFragStat.fbt")),
                 QByteArray("/S\xc3\xa3o/m.txt \xe9\n"));
    }

    void failureKeepsThePreviousList()
    {
        QTemporaryDir dir;
        const QString prefix = dir.filePath(QStringLiteral("P"));
        const QString list = prefix + QStringLiteral("ListFragStat.fbt");
        QVERIFY(!writeBatchList({QStringLiteral("old")}, prefix, QString()).has_value());
        FileResult error;
        {
            FileSizeLimit limit(10);
            error = writeBatchList({QString(100, QLatin1Char('n'))}, prefix, QString());
        }
        QVERIFY(error.has_value());
        QCOMPARE(error->path, QDir::toNativeSeparators(list));
        QCOMPARE(readAll(list), QByteArray("old\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // A viewer reads back the maps a list names, whatever the post-string
    // holds, in the list's order, also when the list moved with its maps.
    void readingGivesTheMapsInTheirOrder()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        const QStringList maps{folder.filePath(QStringLiteral("São b.txt")),
                               folder.filePath(QStringLiteral("a.asc")),
                               folder.filePath(QStringLiteral("c.tif"))};
        for (const QString &map : maps)
            writeFile(map, "1 0 \n");
        const QString prefix = folder.filePath(QStringLiteral("P"));
        // A post-string that itself looks like a map name must not be taken
        // for part of the path, nor cut it short.
        QVERIFY(!writeBatchList(maps, prefix, QStringLiteral(" x.txt;é")).has_value());
        QStringList read;
        QVERIFY(!readBatchList(batchListFileName(prefix), read).has_value());
        QCOMPARE(read, maps);

        // Moved elsewhere with its maps, the list finds them beside itself;
        // a map that is nowhere is still listed, so that opening it says so.
        const QDir moved(dir.filePath(QStringLiteral("moved")));
        QVERIFY(QDir().mkpath(moved.path()));
        QVERIFY(QFile::copy(maps[1], moved.filePath(QStringLiteral("a.asc"))));
        writeFile(moved.filePath(QStringLiteral("PListFragStat.fbt")),
                  "/nowhere/a.asc;1\r\n\n/nowhere/gone.txt\nrelative.txt\n");
        writeFile(moved.filePath(QStringLiteral("relative.txt")), "1 \n");
        QVERIFY(!readBatchList(moved.filePath(QStringLiteral("PListFragStat.fbt")), read));
        QCOMPARE(read, QStringList({moved.filePath(QStringLiteral("a.asc")),
                                    QStringLiteral("/nowhere/gone.txt"),
                                    moved.filePath(QStringLiteral("relative.txt"))}));

        const auto missing = readBatchList(folder.filePath(QStringLiteral("none.fbt")), read);
        QVERIFY(missing.has_value());
        QVERIFY(missing->path.endsWith(QStringLiteral("none.fbt")));
        QVERIFY(read.isEmpty());
    }

    // What is not a list file is refused without being waited on, and a
    // line longer than a path and a post-string can be is refused by its
    // number rather than read whole.
    void whatIsNoListIsRefused()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo.fbt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString zero = dir.filePath(QStringLiteral("zero.fbt"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        const QString long3 = dir.filePath(QStringLiteral("long.fbt"));
        writeFile(long3, "a.txt\nb.txt\n" + QByteArray(1 << 20, 'x') + "\nc.txt\n");
        for (const auto &[path, said] :
             {std::pair{fifo, "pipe"}, std::pair{zero, "device"}, std::pair{long3, "line 3"}}) {
            QStringList read;
            const FileResult refused = readBatchList(path, read);
            QVERIFY2(refused && refused->reason.contains(QLatin1String(said)) &&
                         refused->path == path,
                     refused ? qPrintable(refused->message()) : qPrintable(path));
            QVERIFY(read.isEmpty());
        }
    }

    void nameStemJoinsWithTheNativeSeparator()
    {
        const QString sep = QDir::separator();
        QCOMPARE(nameStem(QStringLiteral("/data/maps"), QStringLiteral("RND_")),
                 QDir::toNativeSeparators(QStringLiteral("/data/maps")) + sep +
                     QStringLiteral("RND_"));
        // A trailing separator in the folder does not double up.
        QCOMPARE(nameStem(QStringLiteral("/data/maps/"), QStringLiteral("X")),
                 QDir::toNativeSeparators(QStringLiteral("/data/maps")) + sep +
                     QStringLiteral("X"));
    }

    void outputFolderRules()
    {
        QTemporaryDir dir;
        QVERIFY(prepareOutputFolder(QString()).has_value());
        QVERIFY(prepareOutputFolder(QStringLiteral("   ")).has_value());

        const QString nested = dir.filePath(QStringLiteral("a/b/c"));
        QVERIFY(!prepareOutputFolder(nested).has_value());
        QVERIFY(QFileInfo(nested).isDir());

        const QString file = dir.filePath(QStringLiteral("plain"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const auto notAFolder = prepareOutputFolder(file);
        QVERIFY(notAFolder.has_value());
        QVERIFY(notAFolder->contains(QStringLiteral("plain")));
        const auto underAFile = prepareOutputFolder(file + QStringLiteral("/sub"));
        QVERIFY(underAFile.has_value());
        QVERIFY(underAFile->contains(QStringLiteral("sub")));
    }
};

QTEST_GUILESS_MAIN(TestBatchList)
#include "tst_batchlist.moc"
