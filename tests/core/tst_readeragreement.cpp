// SPDX-License-Identifier: GPL-3.0-or-later
// The text readers take written maps in bulk and everything else byte by
// byte. Both ways must give the same grid, and the same refusal, for any
// file: the seeds of the map reader's fuzzer, maps as the writer leaves
// them, and such maps broken in the places a bulk path could get wrong.
#include "core/grid/asciigridreader.h"
#include "core/grid/mapfilereader.h"
#include "tests/support/files.h"
#include "tests/support/grids.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Whole rows of written one-digit cells, so that some rows are long enough
// for the bulk path and others end inside its sixteen-byte steps.
QByteArray writtenRows(QRandomGenerator &rng, int rows, int maxColumns)
{
    QByteArray text;
    for (int r = 0; r < rows; ++r) {
        const int columns = rng.bounded(0, maxColumns + 1);
        for (int c = 0; c < columns; ++c) {
            text += char('0' + rng.bounded(10));
            text += ' ';
        }
        text += '\n';
    }
    return text;
}

// Breaks a written map where a step of sixteen bytes can straddle the
// break: pieces put in between its bytes, and bytes put in place of its
// digits and spaces, so that a one-character token can be anything.
QByteArray damaged(QRandomGenerator &rng, QByteArray text, int breaks)
{
    static const QByteArray pieces[] = {
        "12 ",  "-7 ", "+3 ",         "\t",           "\r", "  ", "\n",  QByteArray("\0", 1),
        "\xff", "x",   "2147483648 ", "-2147483649 ", "9",  "-",  " \n", "00000000000000000001 "};
    static const char bytes[] = "x-+\t\r\n\v\f/:\xff\x80 0123456789";
    for (int i = 0; i < breaks && !text.isEmpty(); ++i) {
        const qsizetype at = rng.bounded(text.size());
        if (rng.bounded(2) == 0)
            text[at] = bytes[rng.bounded(int(sizeof bytes))];
        else
            text.insert(at, pieces[rng.bounded(int(std::size(pieces)))]);
    }
    return text;
}

QByteArray asciiGrid(int rows, int columns, const QByteArray &cells)
{
    return "ncols " + QByteArray::number(columns) + "\nnrows " + QByteArray::number(rows) +
           "\nxllcorner 0\nyllcorner 0\ncellsize 1\n" + cells;
}

struct Outcome {
    Rows rows;
    QString failure;
};

Outcome outcome(const LandscapeGrid &grid, const FileResult &result)
{
    return {rowsOf(grid), result ? result->reason : QString()};
}

} // namespace

class TestReaderAgreement : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The file as read from disk in the readers' own blocks, against the
    // same bytes handed over a few at a time.
    void comparePlain(const QByteArray &bytes, const QString &what)
    {
        const QString path = m_dir.filePath(QStringLiteral("map.txt"));
        writeFile(path, bytes);
        const PlainMap expected =
            plainReference(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        const auto check = [&](const LandscapeGrid &grid, const FileResult &result) {
            if (expected.beyondRange)
                return result && namesPlace(result->reason, *expected.beyondRange);
            return !result && rowsOf(grid) == expected.rows;
        };
        LandscapeGrid fast;
        const FileResult fastResult = MapFileReader::read(path, fast);
        QVERIFY2(check(fast, fastResult), qPrintable(what));
        for (const qint64 most : {1, 7, 15}) {
            TrickleDevice device(bytes, most);
            LandscapeGrid plain;
            const FileResult plainResult = MapFileReader::read(device, path, plain);
            QVERIFY2(check(plain, plainResult), qPrintable(what));
        }
    }

    void compareGrid(const QByteArray &bytes, const QString &what)
    {
        const QString path = m_dir.filePath(QStringLiteral("map.asc"));
        writeFile(path, bytes);
        LandscapeGrid fast;
        const Outcome fastOutcome = outcome(fast, AsciiGridReader::read(path, fast));
        for (const qint64 most : {1, 15}) {
            TrickleDevice device(bytes, most);
            LandscapeGrid plain;
            const Outcome plainOutcome = outcome(
                plain, AsciiGridReader::read(device, QDir::toNativeSeparators(path), plain));
            QVERIFY2(fastOutcome.failure == plainOutcome.failure,
                     qPrintable(what + QStringLiteral(": ") + fastOutcome.failure +
                                QStringLiteral(" / ") + plainOutcome.failure));
            QVERIFY2(fastOutcome.rows == plainOutcome.rows, qPrintable(what));
        }
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void fuzzSeeds()
    {
        const QDir seeds(QStringLiteral(PW_FUZZ_CORPUS_DIR "/mapfilereader"));
        const QStringList names = seeds.entryList(QDir::Files);
        QVERIFY(!names.isEmpty());
        for (const QString &name : names) {
            const QByteArray bytes = readAll(seeds.filePath(name));
            comparePlain(bytes, name);
            // The same bytes as the cells of a grid, wherever they stop.
            compareGrid(asciiGrid(3, 5, bytes), name);
        }
    }

    void writtenAndDamagedPlainMaps()
    {
        QRandomGenerator rng(24);
        for (int round = 0; round < 60; ++round) {
            const QByteArray written = writtenRows(rng, rng.bounded(1, 40), 120);
            comparePlain(written, QStringLiteral("written %1").arg(round));
            comparePlain(damaged(rng, written, rng.bounded(1, 12)),
                         QStringLiteral("damaged %1").arg(round));
        }
    }

    void writtenAndDamagedGrids()
    {
        QRandomGenerator rng(23);
        for (int round = 0; round < 60; ++round) {
            const int rows = rng.bounded(1, 12);
            const int columns = rng.bounded(1, 70);
            QByteArray cells;
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c)
                    cells += char('0' + rng.bounded(10)) + QByteArray(" ");
                cells += '\n';
            }
            // The header may promise more or fewer cells than follow.
            const int claimedRows = rows + rng.bounded(-1, 2);
            compareGrid(asciiGrid(rows, columns, cells), QStringLiteral("written %1").arg(round));
            compareGrid(asciiGrid(std::max(claimedRows, 1), columns, cells),
                        QStringLiteral("miscounted %1").arg(round));
            compareGrid(asciiGrid(rows, columns, damaged(rng, cells, rng.bounded(1, 16))),
                        QStringLiteral("damaged %1").arg(round));
        }
    }

    void mapsLargerThanABlock()
    {
        // Megabytes, so that the readers' blocks end inside rows and steps.
        QRandomGenerator rng(4096);
        const QByteArray written = writtenRows(rng, 700, 2000);
        comparePlain(written, QStringLiteral("large written"));
        comparePlain(damaged(rng, written, 200), QStringLiteral("large damaged"));
        QByteArray cells;
        for (int i = 0; i < 1000 * 1000; ++i)
            cells += char('0' + (i * 7 % 10)) + QByteArray(i % 1000 == 999 ? " \n" : " ");
        compareGrid(asciiGrid(1000, 1000, cells), QStringLiteral("large grid"));
        compareGrid(asciiGrid(1000, 1000, damaged(rng, cells, 50)),
                    QStringLiteral("large damaged grid"));
    }
};

QTEST_GUILESS_MAIN(TestReaderAgreement)
#include "tst_readeragreement.moc"
