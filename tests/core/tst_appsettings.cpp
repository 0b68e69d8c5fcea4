// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/appsettings.h"

#include "tests/support/filesizelimit.h"
#include <QFile>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

AppSettings sentinel()
{
    AppSettings s;
    s.randomPrefix = QStringLiteral("old-r");
    s.randomPostString = QStringLiteral("old-rp");
    s.fractalPrefix = QStringLiteral("old-f");
    s.fractalPostString = QStringLiteral("old-fp");
    s.coverValue = 77;
    s.matrixValue = 88;
    return s;
}

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("config.txt"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write fixture");
        file.write(content);
        return path;
    }

private Q_SLOTS:
    void parsingRules_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("cover");
        QTest::addColumn<int>("matrix");

        QTest::newRow("complete file") << QByteArray("RND_\n;x\nFBM_\n;y\n2\n-3\n")
                                       << QStringList{"RND_", ";x", "FBM_", ";y"} << 2 << -3;
        QTest::newRow("spaces are part of the texts")
            << QByteArray("  a \n\t\nb \n\n5\n6\n") << QStringList{"  a ", "\t", "b ", ""} << 5
            << 6;
        QTest::newRow("both numbers on one line")
            << QByteArray("a\nb\nc\nd\n4 9") << QStringList{"a", "b", "c", "d"} << 4 << 9;
        QTest::newRow("numbers on any later lines, plus sign")
            << QByteArray("a\nb\nc\nd\n\n  +4\n\n\t9\n") << QStringList{"a", "b", "c", "d"} << 4
            << 9;
        QTest::newRow("digits followed by letters set only the cover")
            << QByteArray("a\nb\nc\nd\n12abc\n5\n") << QStringList{"a", "b", "c", "d"} << 12 << 88;
        QTest::newRow("cover beyond 32 bits sets neither")
            << QByteArray("a\nb\nc\nd\n2147483648\n5\n") << QStringList{"a", "b", "c", "d"} << 77
            << 88;
        QTest::newRow("int limits")
            << QByteArray("a\nb\nc\nd\n-2147483648\n2147483647\n")
            << QStringList{"a", "b", "c", "d"} << int(-2147483647 - 1) << 2147483647;
        QTest::newRow("cover not a number")
            << QByteArray("a\nb\nc\nd\nx\n5\n") << QStringList{"a", "b", "c", "d"} << 77 << 88;
        QTest::newRow("matrix missing")
            << QByteArray("a\nb\nc\nd\n3\n") << QStringList{"a", "b", "c", "d"} << 3 << 88;
        QTest::newRow("lone sign fails")
            << QByteArray("a\nb\nc\nd\n-\n5\n") << QStringList{"a", "b", "c", "d"} << 77 << 88;
        QTest::newRow("two lines, last without line feed repeats")
            << QByteArray("first\nsecond") << QStringList{"first", "second", "second", "second"}
            << 77 << 88;
        QTest::newRow("two lines with final line feed leave the rest empty")
            << QByteArray("first\nsecond\n") << QStringList{"first", "second", "", ""} << 77 << 88;
        QTest::newRow("empty file") << QByteArray() << QStringList{"", "", "", ""} << 77 << 88;
        QTest::newRow("windows line ends") << QByteArray("a\r\nb\r\nc\r\nd\r\n1\r\n0\r\n")
                                           << QStringList{"a", "b", "c", "d"} << 1 << 0;
        QTest::newRow("latin-1 text")
            << QByteArray("S\xe3o_\nb\nc\nd\n1\n0\n")
            << QStringList{QStringLiteral("São_"), "b", "c", "d"} << 1 << 0;
        QTest::newRow("text holding a NUL is not taken")
            << QByteArray("ab\0cd\nb\nc\nd\n1\n0\n", 16) << QStringList{"old-r", "b", "c", "d"} << 1
            << 0;
    }

    void parsingRules()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, texts);
        QFETCH(int, cover);
        QFETCH(int, matrix);

        AppSettings s = sentinel();
        loadConfig(s, writeFile(content));
        QCOMPARE(
            (QStringList{s.randomPrefix, s.randomPostString, s.fractalPrefix, s.fractalPostString}),
            texts);
        QCOMPARE(s.coverValue, cover);
        QCOMPARE(s.matrixValue, matrix);
    }

    void missingFileGivesEmptyTextsAndKeepsNumbers()
    {
        AppSettings s = sentinel();
        QVERIFY(!loadConfig(s, m_dir.filePath(QStringLiteral("absent.txt"))));
        QVERIFY(s.randomPrefix.isEmpty() && s.fractalPostString.isEmpty());
        QCOMPARE(s.coverValue, 77);
        QCOMPARE(s.matrixValue, 88);
    }

    void directoryIsTreatedAsMissing()
    {
        AppSettings s = sentinel();
        // Read like a missing file, but said.
        const auto problem = loadConfig(s, m_dir.path());
        QVERIFY(problem && problem->contains(QStringLiteral("folder")));
        QVERIFY(s.randomPrefix.isEmpty());
        QCOMPARE(s.coverValue, 77);
    }

    void saveThenLoadRoundTrips()
    {
        AppSettings saved;
        saved.randomPrefix = QStringLiteral(" RND é ");
        saved.randomPostString = QString();
        saved.fractalPrefix = QStringLiteral("FBM_");
        saved.fractalPostString = QStringLiteral(";1;2");
        saved.coverValue = -99999;
        saved.matrixValue = 999999;
        const QString path = m_dir.filePath(QStringLiteral("roundtrip.txt"));
        QVERIFY(!saveConfig(saved, path).has_value());

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(" RND \xe9 \n\nFBM_\n;1;2\n-99999\n999999\n"));

        AppSettings loaded = sentinel();
        loadConfig(loaded, path);
        QCOMPARE(loaded, saved);
    }

    void unwritableLocationIsReported()
    {
        const QString path = m_dir.filePath(QStringLiteral("no/such/folder/config.txt"));
        const FileResult error = saveConfig(AppSettings{}, path);
        QVERIFY(error.has_value());
        QVERIFY(error->path.endsWith(QStringLiteral("config.txt")));
        QVERIFY(!error->reason.isEmpty());
    }

    void failedSaveKeepsThePreviousFile()
    {
        // A file-size limit makes the write fail half-way, as a full disk
        // would, even for root; the old file must stay whole.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.txt"));
        AppSettings first;
        first.randomPrefix = QStringLiteral("keep");
        QVERIFY(!saveConfig(first, path).has_value());

        AppSettings second;
        second.randomPrefix = QString(200, QLatin1Char('x'));
        FileResult error;
        {
            FileSizeLimit limit(16);
            error = saveConfig(second, path);
        }
        QVERIFY(error.has_value());
        QVERIFY(!error->reason.isEmpty());
        AppSettings loaded;
        loadConfig(loaded, path);
        QCOMPARE(loaded.randomPrefix, QStringLiteral("keep"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("config.txt")});
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
