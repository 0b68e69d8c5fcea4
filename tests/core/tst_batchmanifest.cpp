// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchmanifest.h"
#include "core/grid/mapfilewriter.h"
#include "core/grid/mapreader.h"
#include "core/version.h"
#include "fractal/fractalfamily.h"
#include "random/randomfamily.h"
#include "random/randommapgenerator.h"
#include "tests/support/batches.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

MapRecord randomRecord()
{
    MapRecord record;
    record.fileName = QStringLiteral("/data/run/RND_050_10x10_a3.txt");
    record.family = &randomFamily();
    record.rowCount = 10;
    record.columnCount = 10;
    record.requestedCover = 50;
    record.cellCount = 100;
    record.habitatCells = 47;
    record.seed = -42;
    record.replicate = 3;
    record.coverValue = 1;
    record.matrixValue = 0;
    return record;
}

MapRecord fractalRecord()
{
    MapRecord record;
    record.fileName = QStringLiteral("/data/run/FBM_0.80_030_00002.txt");
    record.family = &fractalFamily();
    record.rowCount = 3;
    record.columnCount = 3;
    record.requestedCover = 30;
    record.cellCount = 9;
    record.habitatCells = 3;
    // What repeated addition makes of 0.8 and of the sixth threshold.
    record.H = 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1;
    record.axis = *record.H;
    record.threshold = 0.1 + 0.01 + 0.01 + 0.01 + 0.01 + 0.01;
    record.seed = 199;
    record.replicate = 2;
    record.coverValue = -7;
    record.matrixValue = 99999;
    return record;
}

qint64 cellsHolding(const LandscapeGrid &grid, qint32 code)
{
    qint64 count = 0;
    for (std::size_t r = 0; r < grid.rowCount(); ++r)
        for (const qint32 value : grid.row(r))
            count += value == code;
    return count;
}

// A row's fields, followed by the version column every manifest ends with.
QByteArray released(const char *fields)
{
    return QByteArray(fields) + ',' + patchwrightVersion + '\n';
}

} // namespace

Q_DECLARE_METATYPE(MapRecord)

class TestBatchManifest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void headerNamesTheColumns()
    {
        const QList<QByteArray> columns = manifestHeader().trimmed().split(',');
        QCOMPARE(columns,
                 (QList<QByteArray>{"file", "kind", "size", "requested_cover", "realised_cover",
                                    "H", "seed", "replicate", "threshold", "cover_value",
                                    "matrix_value", "version"}));
        // Every row has as many fields as the header.
        QCOMPARE(manifestRow(randomRecord()).count(','), columns.size() - 1);
        QCOMPARE(manifestRow(fractalRecord()).count(','), columns.size() - 1);
    }

    void rows_data()
    {
        QTest::addColumn<MapRecord>("record");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("random") << randomRecord()
                                << released("RND_050_10x10_a3.txt,random,10,50,47.00,,-42,3,,1,0");
        // 0.1 plus five times 0.01 is 0.15000000000000002 to 17 digits; H is
        // shown as asked for, to two decimals.
        QTest::newRow("fractal")
            << fractalRecord()
            << released("FBM_0.80_030_00002.txt,fractal,3,30,33.33,0.80,199,2,0.15000000000000002,"
                        "-7,99999");

        MapRecord same = randomRecord();
        same.coverValue = 4;
        same.matrixValue = 4;
        QTest::newRow("equal codes: every cell holds the cover code")
            << same << released("RND_050_10x10_a3.txt,random,10,50,100.00,,-42,3,,4,4");

        MapRecord odd = randomRecord();
        odd.fileName = QStringLiteral("/data/a,b/R \"x\",ü_1.txt");
        odd.rowCount = 12;
        odd.habitatCells = 2;
        odd.cellCount = 3;
        QTest::newRow("quoted name, not square, rounding")
            << odd << released("\"R \"\"x\"\",\xc3\xbc_1.txt\",random,12x10,50,66.67,,-42,3,,1,0");
    }

    void rows()
    {
        QFETCH(MapRecord, record);
        QFETCH(QByteArray, expected);
        QCOMPARE(manifestRow(record), expected);
    }

    // Python and R hand fields over in the type their column declares, so a
    // declared type must fit every text the column can hold: 64-bit counts
    // at their largest, words that are no number.
    void everyFieldHoldsItsDeclaredType()
    {
        MapRecord record = fractalRecord();
        record.stream = std::numeric_limits<quint64>::max();
        record.tiedHabitat = std::numeric_limits<qint64>::max();
        record.draw = std::numeric_limits<qint64>::max();
        record.cellDraws = std::numeric_limits<qint64>::max();
        record.cellKept = 3;
        record.surfaceFile = QStringLiteral("FBM_0.80_surface_199.asc");
        LandscapeMetrics metrics;
        metrics.habitatCells = std::numeric_limits<qint64>::max();
        metrics.patchCount = std::numeric_limits<qint64>::max();
        metrics.largestPatchIndex = 12.5;
        metrics.meanPatchArea = 3;
        metrics.areaWeightedMeanPatchArea = 4.25;
        metrics.edgeDensity = 1e6;
        metrics.areaWeightedMeanGyration = 0.5;
        record.metrics = metrics;
        ManifestColumns columns;
        columns.family = samplingColumns();
        columns.surfaceFile = columns.metrics = columns.selection = true;
        record.parameters = samplingColumns();
        const QByteArray values[] = {
            "philox", "18446744073709551615", "exact", "9223372036854775807", "yes", "200", "0"};
        for (qsizetype i = 0; i < record.parameters.size(); ++i)
            record.parameters[i].value = values[i];
        const QList<ManifestField> fields = manifestFields(record, columns);
        QCOMPARE(fields.size(), manifestHeader(columns).count(',') + 1);
        for (const ManifestField &field : fields) {
            QVERIFY2(!field.value.isEmpty(), field.name);
            bool isDouble = false;
            field.value.toDouble(&isDouble);
            bool isInt = false;
            field.value.toInt(&isInt);
            bool isLong = false;
            field.value.toLongLong(&isLong);
            bool isULong = false;
            field.value.toULongLong(&isULong);
            switch (field.type) {
            case ManifestType::Text:
                QVERIFY2(!isDouble, field.name);
                break;
            case ManifestType::Measure:
                QVERIFY2(isDouble, field.name);
                break;
            case ManifestType::Whole:
                QVERIFY2(isInt, field.name);
                break;
            case ManifestType::LargeWhole:
                QVERIFY2((isLong || isULong) && !isInt, field.name);
                break;
            }
        }
    }

    // The percentage is rounded from the exact fraction of the counts, ties
    // to even, not from a double on its way through a formatter.
    void realisedCoverRoundsTheExactValue_data()
    {
        QTest::addColumn<qint64>("habitat");
        QTest::addColumn<qint64>("cells");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("43.625 down to even") << qint64(349) << qint64(800) << QByteArray("43.62");
        QTest::newRow("0.015 up to even") << qint64(3) << qint64(20000) << QByteArray("0.02");
        QTest::newRow("0.005, a tie the double hides")
            << qint64(1) << qint64(20000) << QByteArray("0.00");
        QTest::newRow("just above a tie")
            << qint64(100001) << qint64(20000000) << QByteArray("0.50");
        QTest::newRow("two thirds") << qint64(2) << qint64(3) << QByteArray("66.67");
        QTest::newRow("all") << qint64(7) << qint64(7) << QByteArray("100.00");
        QTest::newRow("none") << qint64(0) << qint64(7) << QByteArray("0.00");
        QTest::newRow("largest map")
            << qint64(2147395600) - 1 << qint64(2147395600) << QByteArray("100.00");
    }

    void realisedCoverRoundsTheExactValue()
    {
        QFETCH(qint64, habitat);
        QFETCH(qint64, cells);
        QFETCH(QByteArray, shown);
        MapRecord record = randomRecord();
        record.habitatCells = habitat;
        record.cellCount = cells;
        QCOMPARE(manifestRow(record).split(',').at(4), shown);
    }

    void randomBatchRecordsWhatIsOnDisk_data()
    {
        QTest::addColumn<MapFileWriter::Format>("format");
        QTest::addColumn<qint32>("coverValue");
        QTest::newRow("plain") << MapFileWriter::Format::Plain << 1;
        QTest::newRow("grid, negative cover code") << MapFileWriter::Format::AsciiGrid << -3;
    }

    void randomBatchRecordsWhatIsOnDisk()
    {
        QFETCH(MapFileWriter::Format, format);
        QFETCH(qint32, coverValue);
        QTemporaryDir dir;
        QStringList names;
        QList<MapRecord> records;
        NullProgress progress;
        RandomBatchRequest request;
        request.covers = {10, 90, 40};
        request.shape = {9, 9};
        request.replicates = 2;
        request.seed = -17;
        request.output.coverValue = coverValue;
        request.output.format = format;
        QVERIFY(writeMaps<RandomMapGenerator>(request, dir.filePath(QStringLiteral("R_")), names,
                                              progress, &records)
                    .ok());
        QCOMPARE(records.size(), 6);
        QCOMPARE(names.size(), records.size());
        for (qsizetype i = 0; i < records.size(); ++i) {
            const MapRecord &record = records.at(i);
            QCOMPARE(record.fileName, names.at(i));
            QVERIFY(record.fileName.endsWith(MapFileWriter::extension(format)));
            QCOMPARE(record.requestedCover, 10 + 40 * int(i / 2));
            QCOMPARE(record.replicate, int(i % 2) + 1);
            QCOMPARE(record.seed, qint64(-17));
            QCOMPARE(record.rowCount, 9);
            QCOMPARE(record.coverValue, coverValue);

            LandscapeGrid grid;
            const FileResult error = readMap(record.fileName, grid);
            QVERIFY(!error);
            QCOMPARE(record.cellCount, qint64(grid.cellCount()));
            QCOMPARE(record.habitatCells, cellsHolding(grid, coverValue));
            QCOMPARE(manifestRow(record).split(',').at(4),
                     QString::asprintf("%.2f", 100.0 * double(cellsHolding(grid, coverValue)) /
                                                   double(grid.cellCount()))
                         .toLatin1());
        }
    }

    void writtenWholeWithHeader()
    {
        QTemporaryDir dir;
        const QString prefix = dir.filePath(QStringLiteral("X_"));
        QCOMPARE(manifestFileName(prefix), prefix + QStringLiteral("manifest.csv"));
        QVERIFY(!writeManifest({randomRecord(), fractalRecord()}, prefix));
        QCOMPARE(readAll(manifestFileName(prefix)),
                 manifestHeader() + manifestRow(randomRecord()) + manifestRow(fractalRecord()));
        // A run that wrote nothing still says so, with the header alone.
        QVERIFY(!writeManifest({}, prefix));
        QCOMPARE(readAll(manifestFileName(prefix)), manifestHeader());
    }

    void failureNamesTheFileAndKeepsTheOldOne()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("gone/X_"));
        const FileResult error = writeManifest({randomRecord()}, missing);
        QVERIFY(error);
        QVERIFY(error->path.endsWith(QStringLiteral("X_manifest.csv")));
        QVERIFY(!error->reason.isEmpty());

        // A folder in the way cannot be replaced by the new file; the name
        // still holds what was there, and no temporary file is left behind.
        const QString prefix = dir.filePath(QStringLiteral("Y_"));
        QVERIFY(QDir().mkpath(manifestFileName(prefix)));
        QVERIFY(writeManifest({randomRecord()}, prefix));
        QVERIFY(QFileInfo(manifestFileName(prefix)).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestBatchManifest)
#include "tst_batchmanifest.moc"
