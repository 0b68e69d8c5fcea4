// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapfilereader.h"
#include "tests/support/files.h"
#include "tests/support/grids.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

Rows parse(const QByteArray &bytes)
{
    return parsePlain(bytes);
}

// The reader must give exactly what QString::toInt gives for any token.
qint32 qtValue(const QByteArray &token)
{
    return QString::fromLatin1(token).toInt(nullptr, 10);
}

} // namespace

class TestMapFileReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readingRules_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Rows>("expected");

        QTest::newRow("written format") << QByteArray("1 0 \n0 1 \n") << Rows{{1, 0}, {0, 1}};
        QTest::newRow("negative values") << QByteArray("-1 7 \n") << Rows{{-1, 7}};
        QTest::newRow("last value without space is dropped")
            << QByteArray("1 0 1\n") << Rows{{1, 0}};
        QTest::newRow("single value adds no row") << QByteArray("5\n1 2 \n") << Rows{{1, 2}};
        QTest::newRow("empty lines add no row") << QByteArray("\n\n1 \n\n") << Rows{{1}};
        QTest::newRow("two spaces make an empty token") << QByteArray("1  0 \n") << Rows{{1, 0, 0}};
        QTest::newRow("leading space makes an empty first token")
            << QByteArray(" 1 0 \n") << Rows{{0, 1, 0}};
        QTest::newRow("letters read as zero") << QByteArray("a 1 \n") << Rows{{0, 1}};
        QTest::newRow("empty file") << QByteArray() << Rows{};
        QTest::newRow("only empty lines") << QByteArray("\n\n\n") << Rows{};
        QTest::newRow("CR LF like LF") << QByteArray("1 0 \r\n0 1 \r\n") << Rows{{1, 0}, {0, 1}};
        QTest::newRow("CR LF without trailing space") << QByteArray("1 0\r\n") << Rows{{1}};
        QTest::newRow("last line without line break")
            << QByteArray("1 0 \n1 0 ") << Rows{{1, 0}, {1, 0}};
        QTest::newRow("ragged rows stay ragged")
            << QByteArray("1 2 3 \n4 \n") << Rows{{1, 2, 3}, {4}};
        QTest::newRow("line of spaces") << QByteArray("   \n") << Rows{{0, 0, 0}};
        QTest::newRow("range limits")
            << QByteArray("2147483647 -2147483648 \n") << Rows{{2147483647, -2147483647 - 1}};
        QTest::newRow("last token beyond the range, never used")
            << QByteArray("1 99999999999999999999\n") << Rows{{1}};
        QTest::newRow("sign and padding as toInt accepts them")
            << QByteArray("+5 \t6\t 007 -0 \n") << Rows{{5, 6, 7, 0}};
        // The toolkit's conversion reads a token as a C string, so "9" and
        // a NUL is 9.
        QTest::newRow("binary garbage")
            << QByteArray("\x01\xff \0\x80 9\0 \n", 10) << Rows{{0, 0, 9}};
    }

    void readingRules()
    {
        QFETCH(QByteArray, text);
        QFETCH(Rows, expected);
        QCOMPARE(parse(text), expected);
    }

    // A number beyond the 32-bit codes would merge two classes whatever it
    // read as: the file is refused at its line and column.
    void numbersBeyondTheCodesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("place");
        QTest::newRow("one above") << QByteArray("1 2147483648 \n") << "line 1, column 2 ";
        QTest::newRow("one below") << QByteArray("0 \n1 -2147483649 0 \n") << "line 2, column 2 ";
        QTest::newRow("twenty digits")
            << QByteArray("1 0 \n\n0 1 99999999999999999999 \n") << "line 3, column 3 ";
        QTest::newRow("then NUL") << QByteArray("12345678901\0 \n", 14) << "line 1, column 1 ";
    }

    void numbersBeyondTheCodesAreRefused()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, place);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.txt"));
        writeFile(path, text);
        LandscapeGrid grid;
        const FileResult error = MapFileReader::read(path, grid);
        QVERIFY(error);
        QVERIFY2(error->reason.contains(place), qPrintable(error->reason));
        QVERIFY(error->path.endsWith(QStringLiteral("big.txt")));
    }

    void blockBoundariesDoNotMatter()
    {
        for (const QByteArray &text : {QByteArray("12 -34 +5 abc 4294967296 \n\n7 8\r\n 9 10 "),
                                       QByteArray("12 -34 +5 abc 2147483647 \n\n7 8\r\n 9 10 ")}) {
            LandscapeGrid whole;
            MapFileReader wholeReader(whole);
            wholeReader.feed(std::string_view(text.constData(), std::size_t(text.size())));
            wholeReader.finish();
            for (int split = 0; split <= text.size(); ++split) {
                LandscapeGrid grid;
                MapFileReader reader(grid);
                reader.feed(std::string_view(text.constData(), std::size_t(split)));
                reader.feed(
                    std::string_view(text.constData() + split, std::size_t(text.size() - split)));
                reader.finish();
                QCOMPARE(rowsOf(grid), rowsOf(whole));
                QCOMPARE(reader.failure(), wholeReader.failure());
            }
        }
    }

    void tokensMatchQtConversion()
    {
        // Random tokens over an alphabet chosen to hit every branch of the
        // number rules; each is checked against the toolkit's own conversion.
        static const char alphabet[] = "0123456789+-\t\r\v\fa.x\xa0\x85\0";
        QRandomGenerator rng(20261207);
        for (int i = 0; i < 20000; ++i) {
            QByteArray token;
            const int length = rng.bounded(1, 14);
            for (int j = 0; j < length; ++j)
                token += alphabet[rng.bounded(int(sizeof alphabet - 1))];
            const QByteArray line = token + " x\n";
            LandscapeGrid grid;
            MapFileReader reader(grid);
            reader.feed(std::string_view(line.constData(), std::size_t(line.size())));
            reader.finish();
            const bool beyond =
                plainReference(std::string_view(line.constData(), std::size_t(line.size())))
                    .beyondRange.has_value();
            if (beyond != reader.failure().has_value() ||
                (!beyond && (grid.rowCount() != 1 || grid.at(0, 0) != qtValue(token))))
                QFAIL(
                    qPrintable(QStringLiteral("token %1").arg(QString::fromLatin1(token.toHex()))));
        }
    }

    void readsFileWithUnicodePath()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.filePath(QStringLiteral("São Paulo 北京"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/mapa.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1 0 \n0 1 \n");
        file.close();

        LandscapeGrid grid;
        QVERIFY(!MapFileReader::read(path, grid).has_value());
        QCOMPARE(rowsOf(grid), (Rows{{1, 0}, {0, 1}}));
    }

    void missingFileEmptiesGridAndSaysWhy()
    {
        QTemporaryDir dir;
        LandscapeGrid grid;
        grid.appendRow(std::vector<qint32>{1, 2});
        const QString path = dir.filePath(QStringLiteral("gone.txt"));
        const FileResult error = MapFileReader::read(path, grid);
        QVERIFY(error.has_value());
        QVERIFY(grid.isEmpty());
        QVERIFY(error->path.endsWith(QStringLiteral("gone.txt")));
        QVERIFY(!error->reason.isEmpty());
    }

    void largeFileReadsAcrossBlocks()
    {
        // Several megabytes so the file reader crosses its block size.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const int size = 1200;
        QByteArray line;
        for (int c = 0; c < size; ++c)
            line += (c % 3 == 0) ? "-12 " : "7 ";
        line += '\n';
        for (int r = 0; r < size; ++r)
            file.write(line);
        file.close();

        LandscapeGrid grid;
        QVERIFY(!MapFileReader::read(path, grid).has_value());
        QCOMPARE(grid.rowCount(), std::size_t(size));
        for (std::size_t r = 0; r < grid.rowCount(); r += 97) {
            QCOMPARE(grid.row(r).size(), std::size_t(size));
            QCOMPARE(grid.at(r, 0), -12);
            QCOMPARE(grid.at(r, size - 1), 7);
        }
    }
};

QTEST_GUILESS_MAIN(TestMapFileReader)
#include "tst_mapfilereader.moc"
