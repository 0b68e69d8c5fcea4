// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/asciigridreader.h"
#include "core/grid/mapfilereader.h"
#include "core/grid/mapfilewriter.h"
#include "tests/support/files.h"
#include "tests/support/grids.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

// Writes habitat where the pattern says so and returns the cells written.
Rows writeMap(MapFileWriter &writer, const QString &path, int rows, int columns, qint32 matrixValue,
              qint32 coverValue)
{
    Rows cells;
    if (writer.open(path, rows, columns))
        return cells;
    for (int r = 0; r < rows; ++r) {
        std::vector<qint32> row;
        for (int c = 0; c < columns; ++c) {
            const bool habitat = (c * 7 + r) % 3 == 0;
            writer.putCell(habitat);
            row.push_back(habitat ? coverValue : matrixValue);
        }
        writer.endRow();
        cells.push_back(row);
    }
    return cells;
}

} // namespace

Q_DECLARE_METATYPE(MapFileWriter::Format)

class TestAsciiGrid : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layoutOfBothFormats_data()
    {
        QTest::addColumn<MapFileWriter::Format>("format");
        QTest::addColumn<qint32>("matrixValue");
        QTest::addColumn<qint32>("coverValue");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray header = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
        QTest::newRow("plain") << MapFileWriter::Format::Plain << 0 << 1
                               << QByteArray("1 0 0 \n0 0 1 \n");
        QTest::newRow("grid") << MapFileWriter::Format::AsciiGrid << 0 << 1
                              << header + "1 0 0\n0 0 1\n";
        QTest::newRow("grid, negative and wide codes")
            << MapFileWriter::Format::AsciiGrid << -999999 << 12
            << header + "12 -999999 -999999\n-999999 -999999 12\n";
    }

    void layoutOfBothFormats()
    {
        QFETCH(MapFileWriter::Format, format);
        QFETCH(qint32, matrixValue);
        QFETCH(qint32, coverValue);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map") + MapFileWriter::extension(format));
        MapFileWriter writer(matrixValue, coverValue, format);
        QVERIFY(!writer.open(path, 2, 3));
        const bool cells[2][3] = {{true, false, false}, {false, false, true}};
        for (const auto &row : cells) {
            for (const bool habitat : row)
                writer.putCell(habitat);
            writer.endRow();
        }
        QCOMPARE(writer.cellCount(), qint64(6));
        QCOMPARE(writer.habitatCellCount(), qint64(2));
        QVERIFY(!writer.commit());
        QCOMPARE(readAll(path), expected);
    }

    void rowsEndCleanlyAcrossBufferFlushes_data()
    {
        QTest::addColumn<MapFileWriter::Format>("format");
        QTest::newRow("plain") << MapFileWriter::Format::Plain;
        QTest::newRow("grid") << MapFileWriter::Format::AsciiGrid;
    }

    void rowsEndCleanlyAcrossBufferFlushes()
    {
        // Rows of 1.4 MB, so the buffer is flushed in the middle of rows and
        // at a different place in each.
        QFETCH(MapFileWriter::Format, format);
        const int rows = 3;
        const int columns = 200003;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wide"));
        MapFileWriter writer(-99999, 12345, format);
        const Rows cells = writeMap(writer, path, rows, columns, -99999, 12345);
        QCOMPARE(int(cells.size()), rows);
        qint64 habitat = 0;
        for (const auto &row : cells)
            for (const qint32 value : row)
                habitat += value == 12345;
        QCOMPARE(writer.cellCount(), qint64(rows) * columns);
        QCOMPARE(writer.habitatCellCount(), habitat);
        QVERIFY(!writer.commit());

        LandscapeGrid grid;
        if (format == MapFileWriter::Format::AsciiGrid) {
            QVERIFY(AsciiGridReader::isAsciiGrid(readAll(path)));
            QVERIFY(!AsciiGridReader::read(path, grid));
            const QList<QByteArray> lines = readAll(path).split('\n');
            // Five header lines, the rows, and nothing after the last line feed.
            QCOMPARE(lines.size(), 5 + rows + 1);
            QVERIFY(lines.last().isEmpty());
            for (int r = 0; r < rows; ++r) {
                const QByteArray &line = lines.at(5 + r);
                QVERIFY(!line.startsWith(' ') && !line.endsWith(' '));
                QVERIFY(!line.contains("  "));
                QCOMPARE(line.count(' '), columns - 1);
            }
        } else {
            QVERIFY(!AsciiGridReader::isAsciiGrid(readAll(path)));
            QVERIFY(!MapFileReader::read(path, grid));
        }
        QVERIFY(rowsOf(grid) == cells);
    }

    // A row handed over as bytes is the same text, and the same counts, as
    // the row put a cell at a time: with one-character codes, which are
    // made many at a time, and with longer ones; rows of every length
    // around the width of a block, and rows crossing the buffer's end.
    void rowsOfBytesAreTheRowsOfCells()
    {
        QTemporaryDir dir;
        for (const auto format : {MapFileWriter::Format::Plain, MapFileWriter::Format::AsciiGrid}) {
            for (const auto &[matrix, cover] : {std::pair{0, 1}, {9, 5}, {0, -1}, {10, 1}}) {
                for (const int columns : {1, 7, 8, 9, 17, 600001}) {
                    MapFileWriter bytes(matrix, cover, format);
                    MapFileWriter cells(matrix, cover, format);
                    const QString a = dir.filePath(QStringLiteral("bytes"));
                    const QString b = dir.filePath(QStringLiteral("cells"));
                    QVERIFY(!bytes.open(a, 3, columns) && !cells.open(b, 3, columns));
                    std::vector<std::uint8_t> row(std::size_t(columns), 0);
                    for (int r = 0; r < 3; ++r) {
                        for (int c = 0; c < columns; ++c) {
                            row[std::size_t(c)] = (c * 7 + r) % 3 == 0 ? 1 : 0;
                            cells.putCell(row[std::size_t(c)] != 0);
                        }
                        cells.endRow();
                        bytes.putCells(row.data(), columns);
                    }
                    QCOMPARE(bytes.habitatCellCount(), cells.habitatCellCount());
                    QCOMPARE(bytes.cellCount(), cells.cellCount());
                    QVERIFY(!bytes.commit() && !cells.commit());
                    QVERIFY2(readAll(a) == readAll(b),
                             qPrintable(QStringLiteral("%1 columns, codes %2 and %3")
                                            .arg(columns)
                                            .arg(matrix)
                                            .arg(cover)));
                }
            }
        }
    }

    void countsStartAgainWithEveryFile()
    {
        QTemporaryDir dir;
        MapFileWriter writer(0, 1, MapFileWriter::Format::AsciiGrid);
        writeMap(writer, dir.filePath(QStringLiteral("a.asc")), 4, 4, 0, 1);
        QVERIFY(!writer.commit());
        writeMap(writer, dir.filePath(QStringLiteral("b.asc")), 2, 3, 0, 1);
        QCOMPARE(writer.cellCount(), qint64(6));
        // (c * 7 + r) % 3 == 0 holds for (0, 0) and (1, 2) only.
        QCOMPARE(writer.habitatCellCount(), qint64(2));
        QVERIFY(!writer.commit());
    }

    void gridNeedsItsExtent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.asc"));
        MapFileWriter writer(0, 1, MapFileWriter::Format::AsciiGrid);
        const FileResult error = writer.open(path);
        QVERIFY(error);
        QVERIFY(error->message().contains(QStringLiteral("x.asc")));
        QVERIFY(writer.commit());
        QVERIFY(!QFile::exists(path));
    }

    void headerVariants_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("as written")
            << QByteArray("ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 0\n0 -3\n");
        QTest::newRow("any case and order, centres and no-data")
            << QByteArray("NROWS 2\nNCOLS 2\nxllcenter 0.5\nYllCenter 0.5\nCELLSIZE 30\n"
                          "NODATA_value -9999\n1 0\n0 -3\n");
        QTest::newRow("CR LF, tabs and a missing last line feed")
            << QByteArray("ncols\t2\r\nnrows 2\r\ncellsize 1\r\n1\t0\r\n0 -3");
        QTest::newRow("values spread over lines")
            << QByteArray("ncols 2\nnrows 2\n1\n0 0\n\n  -3   \n");
        QTest::newRow("leading blank lines and a plus sign")
            << QByteArray("\n\n  ncols 2\nnrows 2\n+1 0 0 -3\n");
    }

    void headerVariants()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("g.asc"));
        writeFile(path, content);
        QVERIFY(AsciiGridReader::isAsciiGrid(readAll(path)));
        LandscapeGrid grid;
        const FileResult error = AsciiGridReader::read(path, grid);
        QVERIFY2(!error, error ? qPrintable(error->message()) : "");
        QVERIFY(rowsOf(grid) == (Rows{{1, 0}, {0, -3}}));
    }

    void malformedGridsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no nrows") << QByteArray("ncols 2\n1 0\n") << "nrows";
        QTest::newRow("zero columns") << QByteArray("ncols 0\nnrows 2\n") << "ncols";
        QTest::newRow("columns not a number") << QByteArray("ncols two\nnrows 2\n") << "two";
        QTest::newRow("too few values") << QByteArray("ncols 2\nnrows 2\n1 0\n0\n") << "3 of its 4";
        QTest::newRow("too many values")
            << QByteArray("ncols 2\nnrows 2\n1 0\n0 1\n1\n") << "more values";
        QTest::newRow("decimal value")
            << QByteArray("ncols 2\nnrows 2\n1 0\n0.5 1\n") << "row 2, column 1 holds '0.5'";
        QTest::newRow("value beyond 32 bits")
            << QByteArray("ncols 1\nnrows 1\n2147483648\n") << "row 1, column 1 holds '2147483648'";
        QTest::newRow("twenty digits")
            << QByteArray("ncols 3\nnrows 2\n1 0 1\n0 1 99999999999999999999\n")
            << "row 2, column 3 holds '99999999999999999999'";
        QTest::newRow("unknown entry")
            << QByteArray("ncols 1\nnrows 1\nprojection utm\n1\n") << "projection";
        QTest::newRow("entry without value") << QByteArray("ncols 1\nnrows") << "nrows";
        QTest::newRow("endless token")
            << QByteArray("ncols 1\nnrows 1\n") + QByteArray(100000, '7') << "more than 64";
    }

    void malformedGridsAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.asc"));
        writeFile(path, content);
        LandscapeGrid grid;
        const FileResult error = AsciiGridReader::read(path, grid);
        QVERIFY(error);
        QVERIFY2(error->reason.contains(reason), qPrintable(error->reason));
        QVERIFY(error->path.endsWith(QStringLiteral("bad.asc")));
        QVERIFY(grid.isEmpty());
    }

    void onlyGridsAreRecognised_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("grid");
        QTest::newRow("grid") << QByteArray("ncols 3\n") << true;
        QTest::newRow("upper case after blanks") << QByteArray(" \n\tNCOLS\t3") << true;
        QTest::newRow("rows first") << QByteArray("nrows 3\nncols 3\n") << true;
        QTest::newRow("plain map") << QByteArray("1 0 \n0 1 \n") << false;
        QTest::newRow("longer word") << QByteArray("ncolsx 3\n") << false;
        QTest::newRow("word alone") << QByteArray("ncols") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void onlyGridsAreRecognised()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, grid);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f"));
        writeFile(path, content);
        QCOMPARE(AsciiGridReader::isAsciiGrid(readAll(path)), grid);
        QVERIFY(!AsciiGridReader::isAsciiGrid(readAll(dir.filePath(QStringLiteral("missing")))));
    }

    void missingFileSaysWhy()
    {
        QTemporaryDir dir;
        LandscapeGrid grid;
        const FileResult error =
            AsciiGridReader::read(dir.filePath(QStringLiteral("gone.asc")), grid);
        QVERIFY(error);
        QVERIFY(error->path.endsWith(QStringLiteral("gone.asc")));
        QVERIFY(!error->reason.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAsciiGrid)
#include "tst_asciigrid.moc"
