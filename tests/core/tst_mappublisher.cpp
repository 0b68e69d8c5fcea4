// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mappublisher.h"

#include "tests/support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString mapName(int index)
{
    return QStringLiteral("map%1.txt").arg(index, 3, 10, QChar(u'0'));
}

} // namespace

class TestMapPublisher : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A group is named while the next one is made; when naming it fails,
    // the run must still stop where it failed: the maps before the failure
    // named and listed, none after it named, no temporary file left.
    void failureInAGroupStopsTheRunAtTheFailedMap_data()
    {
        QTest::addColumn<int>("failing");
        QTest::newRow("first group") << 10;
        QTest::newRow("last group") << 2 * int(MapPublisher::groupMaps) + 2;
    }

    void failureInAGroupStopsTheRunAtTheFailedMap()
    {
        QFETCH(int, failing);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const int total = 2 * int(MapPublisher::groupMaps) + 5;
        QList<MapRecord> written;
        FileResult failure;
        {
            MapPublisher publisher(written, true);
            for (int i = 0; i < total && !failure; ++i) {
                const QString target = dir.filePath(mapName(i));
                FinishedMap map;
                map.record.fileName = target;
                PendingFile file;
                QVERIFY(!file.create(target));
                QVERIFY(!file.write("1 \n", 3));
                QVERIFY(!file.close());
                map.files.push_back(std::move(file));
                // A folder that appears at a map's name makes its renaming fail.
                if (i == failing)
                    QVERIFY(QDir().mkpath(target + QStringLiteral("/in the way")));
                failure = publisher.add(std::move(map));
            }
            if (!failure)
                failure = publisher.flush();
        }
        QVERIFY(failure);
        QVERIFY2(failure->message().contains(mapName(failing)), qPrintable(failure->message()));
        QCOMPARE(written.size(), failing);
        QStringList expected;
        for (int i = 0; i < failing; ++i) {
            QCOMPARE(written[i].fileName, dir.filePath(mapName(i)));
            expected << mapName(i);
        }
        QCOMPARE(filesIn(dir.path()), expected);
    }
};

QTEST_GUILESS_MAIN(TestMapPublisher)
#include "tst_mappublisher.moc"
