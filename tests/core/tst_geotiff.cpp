// SPDX-License-Identifier: GPL-3.0-or-later
// GeoTIFF maps and surfaces are checked with GDAL's own API rather than with
// our reader, so that a fault shared by the writer and the reader cannot
// hide itself, and with rasterio where it is installed.
#include "core/grid/geotiff.h"
#include "tests/support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

// Succeeds, or fails the test with the file and the reason.
#define QVERIFY_DONE(result)                                                                       \
    do {                                                                                           \
        const FileResult error_ = (result);                                                        \
        QVERIFY2(!error_, error_ ? qPrintable(error_->message()) : "");                            \
    } while (false)

namespace {

// An irregular pattern, so that a transposed, flipped or shifted raster
// does not match it by accident.
bool habitatAt(int row, int column)
{
    return (row * 7 + column * 3 + row / 5) % 5 < 2;
}

// Writes the pattern and returns the codes GDAL should read back, row-major.
std::vector<double> writePattern(GeoTiffMapWriter &writer, const QString &path, int rows,
                                 int columns, qint32 matrix, qint32 cover,
                                 const Georeference &georeference = {})
{
    std::vector<double> codes;
    if (FileResult error = writer.open(path, rows, columns, georeference)) {
        qWarning() << error->message();
        return codes;
    }
    for (int r = 0; r < rows; ++r) {
        writer.putRow([r](int c) { return habitatAt(r, c); });
        for (int c = 0; c < columns; ++c)
            codes.push_back(habitatAt(r, c) ? cover : matrix);
    }
    if (FileResult error = writer.commit()) {
        qWarning() << error->message();
        codes.clear();
    }
    return codes;
}

GDALDatasetUniquePtr openWithGdal(const QString &path)
{
    GDALAllRegister();
    return GDALDatasetUniquePtr(
        GDALDataset::Open(QFile::encodeName(path).constData(), GDAL_OF_RASTER | GDAL_OF_READONLY));
}

std::vector<double> gdalValues(GDALDataset &dataset)
{
    const int columns = dataset.GetRasterXSize();
    const int rows = dataset.GetRasterYSize();
    std::vector<double> values(std::size_t(rows) * std::size_t(columns));
    if (dataset.GetRasterBand(1)->RasterIO(GF_Read, 0, 0, columns, rows, values.data(), columns,
                                           rows, GDT_Float64, 0, 0, nullptr) != CE_None)
        values.clear();
    return values;
}

QString imageStructure(GDALDataset &dataset, const char *key)
{
    return QString::fromUtf8(dataset.GetMetadataItem(key, "IMAGE_STRUCTURE"));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// Points stderr at a file for as long as it lives, to prove that GDAL's
// complaints reach the caller and not the terminal.
class StderrCapture final {
public:
    explicit StderrCapture(const QString &path)
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        m_file = std::fopen(QFile::encodeName(path).constData(), "w");
        ::dup2(::fileno(m_file), 2);
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        std::fclose(m_file);
    }

private:
    int m_saved = -1;
    std::FILE *m_file = nullptr;
};

} // namespace

class TestGeoTiff : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mapsRoundTripThroughGdal_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<qint32>("matrix");
        QTest::addColumn<qint32>("cover");
        QTest::addColumn<std::optional<qint64>>("noData");
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("expectedNoData");
        QTest::addColumn<QString>("crs");

        const std::optional<qint64> none;
        const QString noCrs;
        const QString laea = QStringLiteral("EPSG:3035");
        QTest::newRow("0/1, strips") << 3 << 5 << 0 << 1 << none << int(GDT_Byte) << 255.0 << noCrs;
        QTest::newRow("0/1, partial tiles both ways")
            << 530 << 700 << 0 << 1 << none << int(GDT_Byte) << 255.0 << laea;
        QTest::newRow("one row above the threshold")
            << 1 << 512 << 2 << 1 << none << int(GDT_Byte) << 255.0 << noCrs;
        QTest::newRow("codes 254/255")
            << 4 << 4 << 254 << 255 << none << int(GDT_Byte) << 253.0 << noCrs;
        QTest::newRow("UInt16") << 20 << 30 << 0 << 300 << none << int(GDT_UInt16) << 65535.0
                                << laea;
        QTest::newRow("negative, Int16")
            << 40 << 30 << -1 << 5 << none << int(GDT_Int16) << -9999.0 << noCrs;
        QTest::newRow("codes take -9999")
            << 6 << 7 << -9999 << 32767 << none << int(GDT_Int16) << 32766.0 << noCrs;
        QTest::newRow("Int32, tiled")
            << 600 << 260 << -100000 << 7 << none << int(GDT_Int32) << -9999.0 << noCrs;
        QTest::newRow("explicit NoData widens Byte to Int16")
            << 5 << 5 << 0 << 1 << std::optional<qint64>(-1) << int(GDT_Int16) << -1.0 << noCrs;
        QTest::newRow("explicit NoData kept in Byte")
            << 5 << 5 << 0 << 1 << std::optional<qint64>(7) << int(GDT_Byte) << 7.0 << noCrs;
        QTest::newRow("explicit NoData needs UInt32")
            << 5 << 5 << 0 << 1 << std::optional<qint64>(4294967295) << int(GDT_UInt32)
            << 4294967295.0 << laea;
    }

    void mapsRoundTripThroughGdal()
    {
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(qint32, matrix);
        QFETCH(qint32, cover);
        QFETCH(std::optional<qint64>, noData);
        QFETCH(int, type);
        QFETCH(double, expectedNoData);
        QFETCH(QString, crs);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map.tif"));
        const Georeference georeference{30.0, 4321000.0, 3210000.0, crs};
        GeoTiffMapWriter writer(matrix, cover, noData);
        const std::vector<double> codes =
            writePattern(writer, path, rows, columns, matrix, cover, georeference);
        QVERIFY(!codes.empty());
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("map.tif")});
        qint64 habitat = 0;
        for (double code : codes)
            habitat += code == cover;
        QCOMPARE(writer.habitatCellCount(), habitat);

        GDALDatasetUniquePtr dataset = openWithGdal(path);
        QVERIFY(dataset);
        QCOMPARE(dataset->GetRasterCount(), 1);
        QCOMPARE(dataset->GetRasterXSize(), columns);
        QCOMPARE(dataset->GetRasterYSize(), rows);
        GDALRasterBand *band = dataset->GetRasterBand(1);
        QCOMPARE(int(band->GetRasterDataType()), type);
        int hasNoData = 0;
        QCOMPARE(band->GetNoDataValue(&hasNoData), expectedNoData);
        QVERIFY(hasNoData);
        QVERIFY(gdalValues(*dataset) == codes);

        double transform[6] = {};
        QCOMPARE(dataset->GetGeoTransform(transform), CE_None);
        QCOMPARE(transform[0], 4321000.0);
        QCOMPARE(transform[1], 30.0);
        QCOMPARE(transform[2], 0.0);
        QCOMPARE(transform[3], 3210000.0 + 30.0 * rows);
        QCOMPARE(transform[4], 0.0);
        QCOMPARE(transform[5], -30.0);
        const OGRSpatialReference *reference = dataset->GetSpatialRef();
        if (crs.isEmpty()) {
            QVERIFY(!reference);
        } else {
            QVERIFY(reference);
            QCOMPARE(reference->GetAuthorityCode(nullptr), "3035");
        }

        QCOMPARE(imageStructure(*dataset, "COMPRESSION"), QStringLiteral("DEFLATE"));
        QVERIFY(imageStructure(*dataset, "PREDICTOR").isEmpty());
        int blockColumns = 0;
        int blockRows = 0;
        band->GetBlockSize(&blockColumns, &blockRows);
        if (rows >= 512 || columns >= 512) {
            QCOMPARE(blockColumns, 512);
            QCOMPARE(blockRows, 512);
        } else {
            QCOMPARE(blockColumns, columns);
        }

        // Our own reader, where the values fit the map's 32-bit codes.
        LandscapeGrid grid;
        QVERIFY_DONE(readGeoTiff(path, grid));
        QCOMPARE(grid.rowCount(), std::size_t(rows));
        LandscapeGrid stopped;
        const FileResult error = readGeoTiff(path, stopped, [] { return true; });
        QVERIFY(error && error->reason == readStoppedReason() && stopped.isEmpty());
        std::vector<double> read;
        for (std::size_t r = 0; r < grid.rowCount(); ++r)
            for (qint32 value : grid.row(r))
                read.push_back(value);
        QVERIFY(read == codes);
    }

    void surfaceKeepsEveryFloat()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("surface.tif"));
        const int rows = 520;
        const int columns = 300;
        std::vector<double> values;
        GeoTiffSurfaceWriter writer;
        QVERIFY_DONE(writer.open(path, rows, columns, {2.5, -10.0, 20.0, QString()}));
        std::vector<double> row(std::size_t(columns) + 1);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c <= columns; ++c)
                row[std::size_t(c)] = double(r * 3001 + c * 17 % 1000) / 1e6;
            writer.putRow(row);
            for (int c = 0; c < columns; ++c)
                values.push_back(double(float(row[std::size_t(c)])));
        }
        QVERIFY_DONE(writer.commit());

        GDALDatasetUniquePtr dataset = openWithGdal(path);
        QVERIFY(dataset);
        QCOMPARE(dataset->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
        QCOMPARE(imageStructure(*dataset, "PREDICTOR"), QStringLiteral("3"));
        QVERIFY(gdalValues(*dataset) == values);
        double transform[6] = {};
        QCOMPARE(dataset->GetGeoTransform(transform), CE_None);
        QCOMPARE(transform[3], 20.0 + 2.5 * rows);
        dataset.reset();

        LandscapeGrid grid;
        const FileResult refused = readGeoTiff(path, grid);
        QVERIFY(refused);
        QVERIFY2(refused->reason.contains(QStringLiteral("floating-point")),
                 qPrintable(refused->reason));
        QVERIFY(grid.isEmpty());
    }

    void readsBandOneOfAnyIntegerTiff()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("two bands.tif"));
        GDALAllRegister();
        GDALDriver *driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        GDALDatasetUniquePtr dataset(
            driver->Create(QFile::encodeName(path).constData(), 3, 2, 2, GDT_Int16, nullptr));
        QVERIFY(dataset);
        qint16 first[] = {1, -2, 3, 4, 5, -6};
        qint16 second[] = {9, 9, 9, 9, 9, 9};
        QCOMPARE(dataset->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, 3, 2, first, 3, 2, GDT_Int16,
                                                     0, 0, nullptr),
                 CE_None);
        QCOMPARE(dataset->GetRasterBand(2)->RasterIO(GF_Write, 0, 0, 3, 2, second, 3, 2, GDT_Int16,
                                                     0, 0, nullptr),
                 CE_None);
        dataset.reset();

        QVERIFY(looksLikeTiff(path));
        LandscapeGrid grid;
        QVERIFY_DONE(readGeoTiff(path, grid));
        LandscapeGrid expected;
        expected.appendRow(std::vector<qint32>{1, -2, 3});
        expected.appendRow(std::vector<qint32>{4, 5, -6});
        QVERIFY(grid == expected);
    }

    // GDAL reads any integer raster as 32-bit codes by clamping, which would
    // merge every class beyond the range into one: such a cell is refused
    // with its row and column, in whatever integer type it is stored.
    void valuesBeyondTheCodesAreRefused_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("refused");
        QTest::newRow("UInt32 beyond") << int(GDT_UInt32) << 3e9 << true;
        QTest::newRow("Int64 beyond") << int(GDT_Int64) << 1099511627776.0 << true;
        QTest::newRow("Int64 below") << int(GDT_Int64) << -1099511627776.0 << true;
        QTest::newRow("UInt64 beyond") << int(GDT_UInt64) << 4294967296.0 << true;
        QTest::newRow("Int64 within") << int(GDT_Int64) << -2147483648.0 << false;
    }

    void valuesBeyondTheCodesAreRefused()
    {
        QFETCH(int, type);
        QFETCH(double, value);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wide.tif"));
        GDALAllRegister();
        GDALDriver *driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        GDALDatasetUniquePtr dataset(driver->Create(QFile::encodeName(path).constData(), 3, 2, 1,
                                                    GDALDataType(type), nullptr));
        QVERIFY(dataset);
        double cells[] = {1, 0, 1, 0, 1, value};
        QCOMPARE(dataset->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, 3, 2, cells, 3, 2, GDT_Float64,
                                                     0, 0, nullptr),
                 CE_None);
        dataset.reset();
        LandscapeGrid grid;
        const FileResult result = readGeoTiff(path, grid);
        if (!refused) {
            QVERIFY_DONE(result);
            QCOMPARE(grid.at(1, 2), qint32(value));
            return;
        }
        QVERIFY(result);
        QVERIFY2(result->reason.contains(QStringLiteral("row 2, column 3 ")),
                 qPrintable(result->reason));
        QVERIFY(result->path.endsWith(QStringLiteral("wide.tif")));
        QVERIFY(grid.isEmpty());
    }

    void textIsNotTaken()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map.tif"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("0 1 \n1 0 \n");
        file.close();
        QVERIFY(!looksLikeTiff(path));
        LandscapeGrid grid;
        grid.appendRow(std::vector<qint32>{1});
        const FileResult error = readGeoTiff(path, grid);
        QVERIFY(error);
        QVERIFY(error->path.endsWith(QStringLiteral("map.tif")));
        QVERIFY(grid.isEmpty());
    }

    void writesNothingWhereItFails_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("setUp");
        QTest::newRow("missing folder") << QStringLiteral("missing/map.tif") << QString();
        QTest::newRow("folder is a file")
            << QStringLiteral("plain/map.tif") << QStringLiteral("file plain");
        QTest::newRow("read-only folder")
            << QStringLiteral("locked/map.tif") << QStringLiteral("locked locked");
        QTest::newRow("target is a folder")
            << QStringLiteral("map.tif") << QStringLiteral("folder map.tif");
    }

    void writesNothingWhereItFails()
    {
        QFETCH(QString, target);
        QFETCH(QString, setUp);
        QTemporaryDir dir;
        const QString root = dir.path();
        if (setUp == QLatin1String("file plain")) {
            QFile file(dir.filePath(QStringLiteral("plain")));
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (setUp == QLatin1String("folder map.tif")) {
            QVERIFY(QDir(root).mkdir(QStringLiteral("map.tif")));
        } else if (setUp == QLatin1String("locked locked")) {
            if (::geteuid() == 0)
                QSKIP("permissions do not stop root");
            QVERIFY(QDir(root).mkdir(QStringLiteral("locked")));
            QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                                  QFile::ReadOwner | QFile::ExeOwner);
        }
        const QStringList before = entries(root);
        const QString path = dir.filePath(target);

        FileResult error;
        {
            StderrCapture quiet(dir.filePath(QStringLiteral("stderr")));
            GeoTiffMapWriter writer(0, 1);
            error = writer.open(path, 600, 600);
            if (!error) {
                for (int r = 0; r < 600; ++r)
                    writer.putRow([r](int c) { return habitatAt(r, c); });
                error = writer.commit();
            }
        }
        QVERIFY(error);
        QCOMPARE(error->path, QDir::toNativeSeparators(path));
        QVERIFY(!error->reason.isEmpty());
        QCOMPARE(QFile(dir.filePath(QStringLiteral("stderr"))).size(), 0);
        QCOMPARE(entries(root), before + QStringList{QStringLiteral("stderr")});
        if (setUp == QLatin1String("folder map.tif"))
            QVERIFY(entries(path).isEmpty());
        QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void fullDiskLeavesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map.tif"));
        FileResult error;
        {
            StderrCapture quiet(dir.filePath(QStringLiteral("stderr")));
            // A random map of this size compresses to far more than the limit.
            FileSizeLimit limit(16 * 1024);
            GeoTiffMapWriter writer(0, 1);
            QVERIFY_DONE(writer.open(path, 1000, 1000));
            for (int r = 0; r < 1000; ++r)
                writer.putRow([r](int c) { return (r * 2654435761u ^ c * 40503u) >> 7 & 1; });
            error = writer.commit();
        }
        QVERIFY(error);
        QCOMPARE(error->path, QDir::toNativeSeparators(path));
        QCOMPARE(QFile(dir.filePath(QStringLiteral("stderr"))).size(), 0);
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("stderr")});
    }

    void incompleteOrDroppedMapsLeaveNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map.tif"));
        GeoTiffMapWriter writer(0, 1);
        QVERIFY_DONE(writer.open(path, 10, 10));
        writer.putRow([](int) { return true; });
        const FileResult short_ = writer.commit();
        QVERIFY(short_);
        QVERIFY(short_->reason.contains(QStringLiteral("1 of")));
        QVERIFY(entries(dir.path()).isEmpty());

        QVERIFY_DONE(writer.open(path, 10, 10));
        writer.discard();
        QVERIFY(entries(dir.path()).isEmpty());
        {
            GeoTiffMapWriter abandoned(0, 1);
            QVERIFY_DONE(abandoned.open(path, 10, 10));
        }
        QVERIFY(entries(dir.path()).isEmpty());
    }

    // A link at the map's name is refused, never written through; a file
    // there is replaced as a whole.
    void refusesLinksAndReplacesFilesAsAWhole()
    {
        QTemporaryDir dir;
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.txt"));
        QFile file(elsewhere);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        const QString link = dir.filePath(QStringLiteral("link.tif"));
        QVERIFY(QFile::link(elsewhere, link));
        GeoTiffMapWriter refused(0, 1);
        const FileResult error = refused.open(link, 4, 4);
        QVERIFY(error && error->reason.contains(QStringLiteral("symbolic link")));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));

        const QString path = dir.filePath(QStringLiteral("map.tif"));
        for (int round = 0; round < 2; ++round) {
            GeoTiffMapWriter writer(0, round + 1);
            QVERIFY(!writePattern(writer, path, 4, 4, 0, round + 1).empty());
            GDALDatasetUniquePtr dataset = openWithGdal(path);
            QVERIFY(dataset);
            QCOMPARE(gdalValues(*dataset)[0], double(habitatAt(0, 0) ? round + 1 : 0));
        }
    }

    void refusesWhatCannotBeStored()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map.tif"));
        GeoTiffMapWriter clash(0, 1, 1);
        QVERIFY(clash.open(path, 2, 2));
        GeoTiffMapWriter tooWide(-1, 1, 4294967295);
        QVERIFY(tooWide.open(path, 2, 2));
        GeoTiffMapWriter writer(0, 1);
        const FileResult badCrs =
            writer.open(path, 2, 2, {1.0, 0.0, 0.0, QStringLiteral("nonsense")});
        QVERIFY(badCrs);
        QVERIFY(badCrs->reason.contains(QStringLiteral("nonsense")));
        QVERIFY(writer.open(path, 2, 2, {0.0, 0.0, 0.0, QString()}));
        QVERIFY(entries(dir.path()).isEmpty());

        QVERIFY(crsRefusal(QStringLiteral("nonsense")));
        QVERIFY(!crsRefusal(QStringLiteral("EPSG:3035")));
        QVERIFY(!crsRefusal(QString()));
    }

    // Compressing on GDAL's worker threads must not change a byte, and
    // writers on several threads of ours must not disturb each other.
    void sameBytesFromAnyThreads()
    {
        QTemporaryDir dir;
        std::vector<QByteArray> files(3);
        std::vector<std::thread> threads;
        for (int i = 0; i < 3; ++i) {
            threads.emplace_back([&dir, &files, i] {
                const QString path = dir.filePath(QStringLiteral("map%1.tif").arg(i));
                GeoTiffMapWriter writer(0, 1);
                writer.setOptions({1, i + 1});
                if (writePattern(writer, path, 700, 900, 0, 1).empty())
                    return;
                QFile file(path);
                if (file.open(QIODevice::ReadOnly))
                    files[std::size_t(i)] = file.readAll();
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY(!files[0].isEmpty());
        QCOMPARE(files[1], files[0]);
        QCOMPARE(files[2], files[0]);
    }

    void rasterioReadsTheMap()
    {
        const QString python = QStringLiteral("/usr/bin/python3");
        if (QProcess::execute(python, {QStringLiteral("-c"), QStringLiteral("import rasterio")}) !=
            0)
            QSKIP("rasterio is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("map.tif"));
        GeoTiffMapWriter writer(3, 8);
        const std::vector<double> codes = writePattern(
            writer, path, 513, 40, 3, 8, {25.0, 100.0, 200.0, QStringLiteral("EPSG:3035")});
        QVERIFY(!codes.empty());
        double sum = 0;
        for (double code : codes)
            sum += code;

        QProcess process;
        process.start(python, {QStringLiteral("-c"),
                               QStringLiteral("import sys, rasterio\n"
                                              "with rasterio.open(sys.argv[1]) as f:\n"
                                              "    a = f.read(1)\n"
                                              "    print(f.dtypes[0], f.nodata, f.crs.to_epsg(),\n"
                                              "          f.bounds.left, f.bounds.bottom,\n"
                                              "          a.shape[0], a.shape[1], int(a.sum()))\n"),
                               path});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
                 QStringLiteral("uint8 255.0 3035 100.0 200.0 513 40 %1").arg(qint64(sum)));
    }
};

QTEST_GUILESS_MAIN(TestGeoTiff)
#include "tst_geotiff.moc"
