// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapcontent.h"
#include "core/grid/mapreader.h"
#include "tests/support/files.h"
#include "tests/support/grids.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

class TestMapReader : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    FileResult readBytes(const QByteArray &content, LandscapeGrid &grid)
    {
        const QString path = m_dir.filePath(QStringLiteral("map.txt"));
        writeFile(path, content);
        return readMap(path, grid);
    }

private Q_SLOTS:
    // Whatever the plain reader accepted stays as it read it, however
    // ragged; only content that cannot be a map is refused.
    void textLoadsAsThePlainReaderReadsIt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("written format") << QByteArray("1 0 \n0 1 \n");
        QTest::newRow("ragged rows") << QByteArray("1 0 0 \n1 \n0 0 0 1 \n");
        QTest::newRow("letters beside numbers") << QByteArray("a 1 \nb c \n");
        QTest::newRow("the only number ends the file") << QByteArray("x y 7");
        QTest::newRow("line of spaces") << QByteArray("   \n");
        QTest::newRow("empty lines") << QByteArray("\n\n");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("CR LF and a DOS end mark") << QByteArray("1 0 \r\n0 1 \r\n\x1a");
        QTest::newRow("Latin-1 comment") << QByteArray("mapa de S\xe3o Paulo\n+1 -0 \n");
        QTest::newRow("tabs and form feeds") << QByteArray("\t1\t \f\v0 \n");
    }

    void textLoadsAsThePlainReaderReadsIt()
    {
        QFETCH(QByteArray, content);
        LandscapeGrid grid;
        const FileResult error = readBytes(content, grid);
        QVERIFY2(!error, qPrintable(error ? error->message() : QString()));
        QCOMPARE(rowsOf(grid), parsePlain(content));
    }

    void whatIsNoMapIsRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage(4, 4, QImage::Format_Grayscale8).save(&buffer, "PNG");
        QTest::newRow("PNG") << png;
        // Far past the first block the reader takes, so the whole file is
        // looked at, not only its start.
        QByteArray late = QByteArray("1 0 \n").repeated(500000);
        late.insert(late.size() - 3, '\0');
        QTest::newRow("NUL at the end of a large map") << late;
        QTest::newRow("other control byte") << QByteArray("1 0 \x01\n");
        QTest::newRow("escape") << QByteArray("\x1b[1m1 0 \n");
        QTest::newRow("prose") << QByteArray("Dear reviewer,\nthe maps are attached.\n");
        QTest::newRow("signs and decimals only") << QByteArray("- + 0.5 1e3 12a \n");
    }

    void whatIsNoMapIsRefused()
    {
        QFETCH(QByteArray, content);
        LandscapeGrid grid;
        grid.appendRow(std::vector<qint32>{1, 2});
        const FileResult error = readBytes(content, grid);
        QVERIFY(error);
        QVERIFY2(error->reason.startsWith(QStringLiteral("not a map file")),
                 qPrintable(error->reason));
        QVERIFY(error->path.endsWith(QStringLiteral("map.txt")));
        QVERIFY(grid.isEmpty());
    }

    // The file is fed in blocks of any size; where they are cut must not
    // change the verdict.
    void blockBoundariesDoNotMatter()
    {
        const QList<QPair<QByteArray, bool>> cases = {{"ab -12 cd\n", true},  {"ab -12\n", true},
                                                      {"ab -1x2 +\n", false}, {"ab cd 3", true},
                                                      {"ab 1 \x02", false},   {"   \n ", true}};
        for (const auto &[text, isMap] : cases) {
            for (qsizetype split = 0; split <= text.size(); ++split) {
                MapContentCheck check;
                check.feed(std::string_view(text.constData(), std::size_t(split)));
                check.feed(
                    std::string_view(text.constData() + split, std::size_t(text.size() - split)));
                QVERIFY2(check.isMap() == isMap,
                         qPrintable(QStringLiteral("%1 cut at %2")
                                        .arg(QString::fromLatin1(text.toHex()))
                                        .arg(split)));
            }
        }
    }

    // A read told to stop stops between blocks, whatever the format, and
    // leaves no half map behind; one never told reads the whole map.
    void stopEndsTheReadBetweenBlocks_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("plain") << QByteArray();
        QTest::newRow("ascii grid")
            << QByteArray("ncols 1000\nnrows 1500\nxllcorner 0\nyllcorner 0\ncellsize 1\n");
    }

    void stopEndsTheReadBetweenBlocks()
    {
        QFETCH(QByteArray, header);
        // Three blocks of the readers' megabyte.
        const QByteArray row = QByteArray("1 0 ").repeated(500) + '\n';
        const QString path = m_dir.filePath(QStringLiteral("large.txt"));
        writeFile(path, header + row.repeated(1500));
        for (const int blocksBeforeStop : {0, 1, 2}) {
            int asked = 0;
            LandscapeGrid grid;
            const FileResult error = readMap(
                path, grid, [&asked, blocksBeforeStop] { return asked++ == blocksBeforeStop; });
            QVERIFY(error);
            QCOMPARE(error->reason, readStoppedReason());
            QVERIFY(grid.isEmpty());
        }
        LandscapeGrid grid;
        QVERIFY(!readMap(path, grid, [] { return false; }));
        QCOMPARE(grid.rowCount(), std::size_t(1500));
    }

    // Every control byte is told apart from the text controls (tab, line
    // ends, form feed, 0x1A) wherever it lies in a block, whether the block
    // is tested sixteen bytes at a time or byte by byte.
    void binaryBytesAreFoundAnywhereInABlock()
    {
        const QByteArray text = QByteArray("1 0 ").repeated(12);
        for (int byte = 0; byte < 0x80; ++byte) {
            const bool binary = byte < 0x20 && !QByteArray("\t\n\v\f\r\x1a").contains(char(byte));
            for (qsizetype at = 0; at < text.size(); ++at) {
                QByteArray block = text;
                block[at] = char(byte);
                MapContentCheck check;
                check.feed(std::string_view(block.constData(), std::size_t(block.size())));
                QVERIFY2(check.isBinary() == binary,
                         qPrintable(QStringLiteral("byte %1 at %2").arg(byte).arg(at)));
            }
        }
    }

    void gridForGisToolsIsNotChecked()
    {
        LandscapeGrid grid;
        const FileResult error =
            readBytes("ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 0\n", grid);
        QVERIFY(!error);
        QCOMPARE(rowsOf(grid), (Rows{{1, 0}}));
    }
};

QTEST_GUILESS_MAIN(TestMapReader)
#include "tst_mapreader.moc"
