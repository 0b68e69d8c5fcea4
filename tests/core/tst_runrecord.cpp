// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/runrecord.h"

#include "tests/support/files.h"
#include "tests/support/filesizelimit.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

ShareRecord shareOf(int maps)
{
    ShareRecord record;
    record.run = {QStringLiteral("fractal"),
                  QStringLiteral("2/3"),
                  QStringLiteral("1.0.0"),
                  {QStringLiteral("hurst=0.1:0.9:0.1"), QStringLiteral("post_string=\"a\",b")}};
    record.complete = true;
    for (int i = 0; i < maps; ++i) {
        const QString file =
            QStringLiteral("FBM,\"é\"_0.10_%1.txt").arg(i, 5, 10, QLatin1Char('0'));
        const QString surface = i % 2 ? QStringLiteral("FBM_0.10_surface_00000.asc") : QString();
        record.maps.push_back({qint64(i) * 128 + 3, file, surface, fingerprintOf(file.toUtf8()),
                               surface.isEmpty() ? Fingerprint{} : fingerprintOf("surface"),
                               fingerprintOf(QByteArray::number(i)),
                               i % 3 ? Fingerprint{} : fingerprintOf(QByteArray::number(-i))});
    }
    return record;
}

} // namespace

class TestRunRecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shareRecordReadsBackWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("FBM_shard.json"));
        const ShareRecord written = shareOf(1000);
        QVERIFY(!writeShareRecord(path, written));
        const auto read = readShareRecord(path);
        if (const auto *error = std::get_if<QString>(&read))
            QFAIL(qPrintable(*error));
        const ShareRecord &back = std::get<ShareRecord>(read);
        QVERIFY(back.run.differencesFrom(written.run).isEmpty());
        QCOMPARE(back.run.version, written.run.version);
        QVERIFY(back.complete);
        QCOMPARE(back.maps.size(), written.maps.size());
        for (std::size_t i = 0; i < back.maps.size(); ++i) {
            QCOMPARE(back.maps[i].position, written.maps[i].position);
            QCOMPARE(back.maps[i].file, written.maps[i].file);
            QCOMPARE(back.maps[i].surface, written.maps[i].surface);
            QCOMPARE(back.maps[i].content, written.maps[i].content);
            QCOMPARE(back.maps[i].surfaceContent, written.maps[i].surfaceContent);
            QCOMPARE(back.maps[i].row.hash, written.maps[i].row.hash);
            QCOMPARE(back.maps[i].measures.hash, written.maps[i].measures.hash);
        }

        // Cut anywhere before its last line feed, it is no record, not a
        // shorter one.
        const QByteArray text = readAll(path);
        for (const qsizetype cut : {text.size() - 2, text.size() / 2, qsizetype(10)}) {
            writeFile(path, text.left(cut));
            QVERIFY2(std::holds_alternative<QString>(readShareRecord(path)),
                     qPrintable(QString::number(cut)));
        }
    }

    // The disk fills up while the record is written: the name holds the
    // record it held before, whole, or none; never the part that fitted.
    void aRecordThatDoesNotFitLeavesNoPartOfIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("FBM_shard.json"));
        const ShareRecord large = shareOf(2000);
        {
            FileSizeLimit limit(4096);
            const FileResult error = writeShareRecord(path, large);
            QVERIFY(error && error->path.contains(QStringLiteral("FBM_shard.json")));
        }
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

        ShareRecord small = shareOf(3);
        small.complete = false;
        QVERIFY(!writeShareRecord(path, small));
        const QByteArray before = readAll(path);
        {
            FileSizeLimit limit(4096);
            QVERIFY(writeShareRecord(path, large, OnDisk::DontWait));
        }
        QCOMPARE(readAll(path), before);
        QVERIFY(!std::get<ShareRecord>(readShareRecord(path)).complete);
    }

    void differencesNameWhatAnotherRequestGives()
    {
        const RunRecord mine{QStringLiteral("random"),
                             QString(),
                             QStringLiteral("1.0.0"),
                             {QStringLiteral("seed=5"), QStringLiteral("metrics=")}};
        RunRecord other = mine;
        other.version = QStringLiteral("0.9.0");
        // Another release is no other request: its maps are compared.
        QVERIFY(mine.differencesFrom(other).isEmpty());
        other.request = {QStringLiteral("seed=6"), QStringLiteral("metrics=on")};
        other.shard = QStringLiteral("1/2");
        QCOMPARE(mine.differencesFrom(other),
                 (QStringList{QStringLiteral("share 1/2"), QStringLiteral("--seed 6"),
                              QStringLiteral("--metrics on")}));
        const auto line = RunRecord::fromJsonLine(other.toJsonLine());
        QVERIFY(line && line->differencesFrom(other).isEmpty());
        QVERIFY(!RunRecord::fromJsonLine(other.toJsonLine().chopped(2)));
        QVERIFY(!RunRecord::fromJsonLine("FBM_0.10_030_00001.txt"));
    }
};

QTEST_GUILESS_MAIN(TestRunRecord)
#include "tst_runrecord.moc"
