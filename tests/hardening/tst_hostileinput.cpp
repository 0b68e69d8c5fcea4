// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapfilereader.h"
#include "core/grid/mapreader.h"
#include "settings/appsettings.h"
#include "tests/hardening/processmemory.h"
#include "tests/support/files.h"
#include "tests/support/grids.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <array>
#include <vector>

namespace {

Rows parse(const QByteArray &bytes)
{
    return parsePlain(bytes);
}

// Streams `total` bytes of `pattern` through a reader in blocks of 1 MiB and
// returns how far the resident size rose above where it started.
qint64 residentGrowthWhileFeeding(LandscapeGrid &grid, char pattern, qint64 total)
{
    const QByteArray block(1 << 20, pattern);
    const qint64 before = ProcessMemory::residentBytes();
    qint64 peak = before;
    MapFileReader reader(grid);
    for (qint64 fed = 0; fed < total; fed += block.size()) {
        reader.feed(std::string_view(block.constData(), std::size_t(block.size())));
        peak = std::max(peak, ProcessMemory::residentBytes());
    }
    reader.finish();
    return std::max(peak, ProcessMemory::residentBytes()) - before;
}

void writeRepeated(const QString &path, const QList<QPair<char, qint64>> &runs)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    for (const auto &[byte, count] : runs) {
        const QByteArray block(1 << 20, byte);
        for (qint64 left = count; left > 0; left -= block.size())
            file.write(block.constData(), std::min<qint64>(left, block.size()));
    }
}

// Lowers the address space limit for as long as it lives.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_AS, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_AS, &limit);
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &m_old); }
    AddressSpaceLimit(const AddressSpaceLimit &) = delete;
    AddressSpaceLimit &operator=(const AddressSpaceLimit &) = delete;

private:
    rlimit m_old{};
};

// A TIFF of a few hundred bytes whose one strip of bytes claims to be
// `columns` x `rows` cells: what a reader believes before it reads.
QByteArray tiffDeclaring(quint32 columns, quint32 rows)
{
    QByteArray bytes("II*\0", 4);
    auto put16 = [&bytes](quint16 v) { bytes.append(char(v & 0xff)).append(char(v >> 8)); };
    auto put32 = [&](quint32 v) {
        put16(quint16(v & 0xffff));
        put16(quint16(v >> 16));
    };
    put32(8);
    const QList<std::array<quint32, 3>> entries = {
        {256, 4, columns}, {257, 4, rows}, {258, 3, 8},    {259, 3, 1},  {262, 3, 1},
        {273, 4, 200},     {277, 3, 1},    {278, 4, rows}, {279, 4, 16},
    };
    put16(quint16(entries.size()));
    for (const auto &[tag, type, value] : entries) {
        put16(quint16(tag));
        put16(quint16(type));
        put32(1);
        if (type == 3) {
            put16(quint16(value));
            put16(0);
        } else {
            put32(value);
        }
    }
    put32(0);
    bytes.append(QByteArray(200 - bytes.size(), '\0'));
    bytes.append(QByteArray(16, '\1'));
    return bytes;
}

constexpr qint64 mebibyte = qint64(1) << 20;

} // namespace

// Inputs found by fuzzing, and inputs built to make a reader take time or
// memory out of proportion to what it keeps.
class TestHostileInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nulEndsATokenLikeTheToolkitConversion_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<int>("value");
        QTest::newRow("digit then NUL") << QByteArray("9\0", 2) << 9;
        QTest::newRow("padding, NUL, junk") << QByteArray("\t9\t\0junk", 8) << 9;
        QTest::newRow("NUL after the digits hides more digits") << QByteArray("9\0"
                                                                              "5",
                                                                              3)
                                                                << 9;
        QTest::newRow("sign then NUL") << QByteArray("-\0"
                                                     "5",
                                                     3)
                                       << 0;
        QTest::newRow("NUL first") << QByteArray("\0"
                                                 "9",
                                                 2)
                                   << 0;
        QTest::newRow("NUL hides a non-ASCII byte") << QByteArray("1\0\x85", 3) << 1;
    }

    void nulEndsATokenLikeTheToolkitConversion()
    {
        QFETCH(QByteArray, token);
        QFETCH(int, value);
        // The map format converts tokens with QString::toInt, which reads
        // its text as a C string.
        QCOMPARE(QString::fromLatin1(token).toInt(nullptr, 10), value);
        QCOMPARE(parse(token + " x\n"), (Rows{{value}}));
        QCOMPARE(parse("1 " + token + " 2 \n"), (Rows{{1, value, 2}}));
    }

    void carriageReturnAtTheCutOfAnOverlongTextIsKept()
    {
        // Only a carriage return that ends the line is the Windows line end;
        // one that happens to fall on the last kept byte of a cut text is
        // part of the text.
        const qsizetype kept = 1 << 16;
        QByteArray content = QByteArray(kept - 1, 'a') + "\r" + QByteArray(10, 'b') + "\n";
        content += QByteArray(kept - 1, 'c') + "\r\n" + "x\ny\n3\n4\n";
        QBuffer device(&content);
        QVERIFY(device.open(QIODevice::ReadOnly));
        AppSettings settings;
        readConfig(settings, device);
        QCOMPARE(settings.randomPrefix, QString(kept - 1, QLatin1Char('a')) + QLatin1Char('\r'));
        QCOMPARE(settings.randomPostString, QString(kept - 1, QLatin1Char('c')));
        QCOMPARE(settings.fractalPrefix, QStringLiteral("x"));
        QCOMPARE(settings.fractalPostString, QStringLiteral("y"));
        QCOMPARE(settings.coverValue, 3);
        QCOMPARE(settings.matrixValue, 4);
    }

    void digitsWithoutSpacesKeepNothing()
    {
        if (ProcessMemory::residentBytes() < 0)
            QSKIP("the resident size cannot be read on this system");
        LandscapeGrid grid;
        const qint64 growth = residentGrowthWhileFeeding(grid, '7', 256 * mebibyte);
        QVERIFY(grid.isEmpty());
        QVERIFY2(growth < 16 * mebibyte, qPrintable(QString::number(growth)));
    }

    void millionEmptyLinesKeepNothing()
    {
        if (ProcessMemory::residentBytes() < 0)
            QSKIP("the resident size cannot be read on this system");
        LandscapeGrid grid;
        const qint64 growth = residentGrowthWhileFeeding(grid, '\n', 1 * mebibyte);
        QVERIFY(grid.isEmpty());
        QVERIFY2(growth < 16 * mebibyte, qPrintable(QString::number(growth)));
    }

    void lineOfSpacesCostsOnlyItsGrid()
    {
        if (ProcessMemory::residentBytes() < 0)
            QSKIP("the resident size cannot be read on this system");
        LandscapeGrid grid;
        const qint64 spaces = 16 * mebibyte;
        const qint64 growth = residentGrowthWhileFeeding(grid, ' ', spaces);
        QCOMPARE(grid.rowCount(), std::size_t(1));
        QCOMPARE(grid.cellCount(), std::size_t(spaces));
        // The grid's cells, and at most as much again while its vector
        // doubles, plus the sanitizer's shadow where there is one.
        const qint64 gridBytes = spaces * qint64(sizeof(qint32));
        QVERIFY2(growth < 2 * gridBytes + 32 * mebibyte, qPrintable(QString::number(growth)));
    }

    void mapTooLargeForMemoryIsRefused()
    {
        if (ProcessMemory::underAddressSanitizer())
            QSKIP("an address space limit cannot work under AddressSanitizer");
        // 64 MiB of spaces are 64 Mi cells, a 256 MiB grid, under a limit
        // that leaves 128 MiB to spare.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("spaces.txt"));
        writeRepeated(path, {{' ', 64 * mebibyte}, {'\n', 1}});
        LandscapeGrid grid;
        grid.appendRow(std::vector<qint32>{1, 2});
        FileResult error;
        {
            AddressSpaceLimit limit(ProcessMemory::virtualBytes() + 128 * mebibyte);
            error = MapFileReader::read(path, grid);
        }
        QVERIFY(error.has_value());
        QVERIFY(error->path.endsWith(QStringLiteral("spaces.txt")));
        QVERIFY2(error->reason.contains(QStringLiteral("memory")), qPrintable(error->reason));
        QVERIFY(grid.isEmpty());
    }

    // A few bytes that declare billions of cells are refused by what they
    // declare, before a cell is allocated or read.
    void declaredSizeBeyondTheLimitIsRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::newRow("GeoTIFF") << tiffDeclaring(2000000000, 1) << "wide.tif";
        QTest::newRow("ESRI grid") << QByteArray("ncols 2000000000\nnrows 1\nxllcorner 0\n"
                                                 "yllcorner 0\ncellsize 1\n1 0 1\n")
                                   << "wide.asc";
        QTest::newRow("GeoTIFF, square") << tiffDeclaring(60000, 60000) << "square.tif";
    }

    void declaredSizeBeyondTheLimitIsRefused()
    {
        if (ProcessMemory::underAddressSanitizer())
            QSKIP("an address space limit cannot work under AddressSanitizer");
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        writeFile(path, content);
        LandscapeGrid grid;
        FileResult error;
        {
            // Were the grid allocated, it would not fit.
            AddressSpaceLimit limit(ProcessMemory::virtualBytes() + 512 * mebibyte);
            error = readMap(path, grid);
        }
        QVERIFY(error.has_value());
        QVERIFY(error->path.endsWith(name));
        QVERIFY2(error->reason.contains(QString::number(maxMapCells)), qPrintable(error->reason));
        QVERIFY(grid.isEmpty());
    }

    void misleadingFirstBlockStillReads()
    {
        if (ProcessMemory::underAddressSanitizer())
            QSKIP("an address space limit cannot work under AddressSanitizer");
        // The first block is all spaces, as if the file were a 100 Mi-cell
        // map; the rest is one long unused token. The capacity that promise
        // suggests does not fit under the limit, but the map itself does.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("misleading.txt"));
        writeRepeated(path, {{' ', mebibyte}, {'5', 100 * mebibyte}});
        LandscapeGrid grid;
        FileResult error;
        {
            AddressSpaceLimit limit(ProcessMemory::virtualBytes() + 192 * mebibyte);
            error = MapFileReader::read(path, grid);
        }
        QVERIFY2(!error.has_value(), qPrintable(error ? error->message() : QString()));
        QCOMPARE(grid.rowCount(), std::size_t(1));
        QCOMPARE(grid.cellCount(), std::size_t(mebibyte));
    }
};

QTEST_GUILESS_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
