// SPDX-License-Identifier: GPL-3.0-or-later
// Templates, compositions and surfaces read from the rasters users hand us.
// Each fixture is written here, by hand for ESRI grids and by our own writer
// or GDAL's API for GeoTIFFs, so that the expected masks, places and counts
// come from the literals, not from the reader.
#include "core/grid/composition.h"
#include "core/grid/rasterinput.h"
#include "core/grid/studyarea.h"
#include "tests/support/files.h"
#include "tests/support/rasters.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#define QVERIFY_DONE(result)                                                                       \
    do {                                                                                           \
        const FileResult error_ = (result);                                                        \
        QVERIFY2(!error_, error_ ? qPrintable(error_->message()) : "");                            \
    } while (false)

namespace {

constexpr double noData = -9999;
constexpr int rows = 3;
constexpr int columns = 5;

// A template with holes and three classes, top row first.
const std::vector<double> pattern = {
    4,      7,  noData, 7,  4,      //
    noData, -2, 4,      7,  noData, //
    7,      7,  noData, -2, 4,      //
};

// 30 m cells whose lower-left corner is at (500000, 4100000).
Georeference place()
{
    Georeference georeference;
    georeference.cellSize = 30;
    georeference.originX = 500000;
    georeference.originY = 4100000;
    return georeference;
}

std::vector<quint8> insideOf(const std::vector<double> &values)
{
    std::vector<quint8> inside;
    for (const double value : values)
        inside.push_back(value != noData && !std::isnan(value));
    return inside;
}

QByteArray cellsText(const std::vector<double> &values, int width)
{
    QByteArray text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += QByteArray::number(values[i], 'g', 17) + ((i + 1) % width ? " " : "\n");
    return text;
}

std::vector<quint8> bytes(const StudyArea &area)
{
    return {area.inside.begin(), area.inside.end()};
}

bool samePlace(const Georeference &a, const Georeference &b)
{
    return a.cellSize == b.cellSize && a.originX == b.originX && a.originY == b.originY &&
           a.crs == b.crs;
}

} // namespace

class TestStudyArea : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The same template as an ESRI grid with corner and with centre
    // headers, as our GeoTIFF, and as a GDAL GeoTIFF with a reference
    // system: one mask, one shape, one lower-left corner.
    void templatesAgreeAcrossFormats()
    {
        QTemporaryDir dir;
        const QString corner = dir.filePath(QStringLiteral("corner.asc"));
        writeFile(corner, "ncols 5\nnrows 3\nxllcorner 500000\nyllcorner 4100000\ncellsize 30\n"
                          "NODATA_value -9999\n" +
                              cellsText(pattern, columns));
        // Keys in another order and case, cells spread over lines unevenly.
        const QString centre = dir.filePath(QStringLiteral("centre.asc"));
        writeFile(centre, "NROWS 3 NCOLS 5\nCELLSIZE 30\nYLLCENTER 4100015\nXLLCENTER 500015\n"
                          "nodata_value -9999\n" +
                              cellsText(pattern, 7));
        const QString own = dir.filePath(QStringLiteral("own.tif"));
        writeOwnTiff(own, rows, columns, pattern, RasterCellType::Int16, noData, place());
        const QString gdal = dir.filePath(QStringLiteral("gdal.tif"));
        writeGdalTiff(gdal, GDT_Int32, rows, columns, pattern,
                      {500000, 30, 0, 4100000 + rows * 30, 0, -30}, noData, "EPSG:32633");

        for (const QString &path : {corner, centre, own, gdal}) {
            StudyArea area;
            QVERIFY_DONE(readStudyArea(path, std::nullopt, area));
            QCOMPARE(area.rowCount, rows);
            QCOMPARE(area.columnCount, columns);
            QCOMPARE(bytes(area), insideOf(pattern));
            QCOMPARE(area.insideCount, qint64(11));
            Georeference expected = place();
            expected.crs = area.georeference.crs;
            QVERIFY2(samePlace(area.georeference, expected), qPrintable(path));
            QCOMPARE(area.georeference.crs.isEmpty(), path != gdal);
            QCOMPARE(area.path, path);
        }

        // Only GeoTIFF maps carry the template's reference system.
        StudyArea area;
        QVERIFY_DONE(readStudyArea(gdal, std::nullopt, area));
        QVERIFY(area.georeference.crs.contains(QLatin1String("32633")));
        QVERIFY(!studyAreaFormatRefusal(area, MapFormat::GeoTiff));
        for (const MapFormat format : {MapFormat::AsciiGrid, MapFormat::Plain}) {
            const auto refusal = studyAreaFormatRefusal(area, format);
            QVERIFY(refusal && refusal->contains(QLatin1String("GeoTIFF maps only")));
        }
        area.georeference.crs = QStringLiteral("EPSG:999999");
        QVERIFY(studyAreaFormatRefusal(area, MapFormat::GeoTiff));
        QVERIFY_DONE(readStudyArea(corner, std::nullopt, area));
        QVERIFY(!studyAreaFormatRefusal(area, MapFormat::AsciiGrid));
    }

    // Elevations: NoData and NaN cells are outside, every other value is a
    // value. A Float32 NoData of 0.1 is held by its cells as the float
    // nearest 0.1, which the file's text of the value is not.
    void floatTemplatesAndSurfaces()
    {
        QTemporaryDir dir;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const std::vector<double> dem = {812.5, 0.1, 790.25, nan, 0.5, 1e-3};
        const QString tif = dir.filePath(QStringLiteral("dem.tif"));
        writeOwnTiff(tif, 2, 3, dem, RasterCellType::Float32, 0.1, place());
        // An ESRI grid may start its cells with "nan", a letter like its keys.
        const QString asc = dir.filePath(QStringLiteral("dem.asc"));
        writeFile(asc, "ncols 3\nnrows 2\nxllcorner 500000\nyllcorner 4100000\ncellsize 30\n"
                       "NODATA_value -3.5\nnan 812.5 -3.5\n790.25 -0 1e-3\n");
        const std::vector<quint8> tifInside = {1, 0, 1, 0, 1, 1};
        const std::vector<quint8> ascInside = {0, 1, 0, 1, 1, 1};

        for (const auto &[path, inside] : {std::pair{tif, tifInside}, std::pair{asc, ascInside}}) {
            StudyArea area;
            QVERIFY_DONE(readStudyArea(path, std::nullopt, area));
            QCOMPARE(bytes(area), inside);
            QVERIFY(samePlace(area.georeference, place()));

            SurfaceRaster surface;
            QVERIFY_DONE(readSurfaceRaster(path, surface));
            QCOMPARE(bytes(surface.area), inside);
            QCOMPARE(surface.values.size(), std::size_t(6));
            for (std::size_t i = 0; i < 6; ++i)
                QCOMPARE(std::isnan(surface.values[i]), !inside[i]);
        }
        // Whole numbers are told by value: 812.5 is the first fraction in
        // both files, wherever the NoData cells lie.
        for (const QString &path : {tif, asc}) {
            RasterSummary summary;
            QVERIFY_DONE(readRaster(
                path, [](const RasterHeader &) { return std::nullopt; },
                [](int, int, std::span<const double>) { return std::nullopt; }, &summary));
            QVERIFY(summary.firstFraction);
            QCOMPARE(summary.firstFraction->row, qint64(1));
            QCOMPARE(summary.firstFraction->column, qint64(path == tif ? 1 : 2));
        }
        SurfaceRaster surface;
        QVERIFY_DONE(readSurfaceRaster(tif, surface));
        QCOMPARE(surface.values[0], 812.5);
        QCOMPARE(surface.values[5], double(float(1e-3)));
        QVERIFY_DONE(readSurfaceRaster(asc, surface));
        QCOMPARE(surface.values[3], 790.25);
        QCOMPARE(surface.values[5], 1e-3);
    }

    // A plain map has no NoData: the mask value marks the outside, and
    // without one every cell is inside, on unit cells at 0,0.
    void plainMapWithMaskValue()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mask.txt"));
        writeFile(path, "0 1 1 \n1 0 2 \n");
        StudyArea area;
        QVERIFY_DONE(readStudyArea(path, 0, area));
        QCOMPARE(bytes(area), (std::vector<quint8>{0, 1, 1, 1, 0, 1}));
        QCOMPARE(area.insideCount, qint64(4));
        QVERIFY(samePlace(area.georeference, Georeference{}));
        QVERIFY_DONE(readStudyArea(path, std::nullopt, area));
        QCOMPARE(area.insideCount, qint64(6));
        // The same value marks the outside of a grid too, beside its NoData.
        const QString asc = dir.filePath(QStringLiteral("mask.asc"));
        writeFile(asc, "ncols 3 nrows 2 NODATA_value 9\n0 1 9\n1 0 2\n");
        QVERIFY_DONE(readStudyArea(asc, 0, area));
        QCOMPARE(bytes(area), (std::vector<quint8>{0, 1, 0, 1, 0, 1}));
    }

    // A row longer than the stretches the reader hands over comes back
    // whole, holes at the stretches' seam included.
    void longRows()
    {
        QTemporaryDir dir;
        const int width = (1 << 20) + 3;
        std::vector<double> cells(std::size_t(width), 1.0);
        for (const int hole : {0, (1 << 20) - 1, 1 << 20, width - 1})
            cells[std::size_t(hole)] = noData;
        const QString asc = dir.filePath(QStringLiteral("long.asc"));
        writeFile(asc, "ncols " + QByteArray::number(width) + " nrows 1 NODATA_value -9999\n" +
                           cellsText(cells, width));
        const QString tif = dir.filePath(QStringLiteral("long.tif"));
        // In strips: our writer tiles a raster this wide, and a tile row of
        // it is a gigabyte.
        writeGdalTiff(tif, GDT_Int16, 1, width, cells, {0, 1, 0, 1, 0, -1}, noData);
        for (const QString &path : {asc, tif}) {
            StudyArea area;
            QVERIFY_DONE(readStudyArea(path, std::nullopt, area));
            QVERIFY2(bytes(area) == insideOf(cells), qPrintable(path));
            QCOMPARE(area.insideCount, qint64(width - 4));
        }
    }

    // Counts are the cells of each code inside the NoData mask, from an
    // ESRI grid and a GeoTIFF alike; shares are those counts over the
    // inside cells.
    void compositionShares()
    {
        QTemporaryDir dir;
        const QString asc = dir.filePath(QStringLiteral("land.asc"));
        writeFile(asc, "ncols 5\nnrows 3\nNODATA_value -9999\n" + cellsText(pattern, columns));
        const QString tif = dir.filePath(QStringLiteral("land.tif"));
        writeOwnTiff(tif, rows, columns, pattern, RasterCellType::Int16, noData, place());
        std::map<qint32, qint64> expected;
        for (const double value : pattern)
            if (value != noData)
                ++expected[qint32(value)];
        for (const QString &path : {asc, tif}) {
            Composition composition;
            QVERIFY_DONE(readComposition(path, composition));
            QCOMPARE(composition.insideCells, qint64(11));
            std::map<qint32, qint64> counted;
            double sum = 0;
            qint32 previous = std::numeric_limits<qint32>::min();
            for (const Composition::Class &entry : composition.classes) {
                QVERIFY(entry.code > previous);
                previous = entry.code;
                counted[entry.code] = entry.cells;
                QCOMPARE(entry.percent, 100.0 * double(entry.cells) / 11.0);
                sum += entry.percent;
            }
            QCOMPARE(counted, expected);
            QVERIFY(std::fabs(sum - 100.0) < 1e-9);
        }
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("reader");
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("maskValue");
        QTest::addColumn<QString>("reason");

        const auto row = [](const char *name, const char *reader, const char *fixture,
                            const QByteArray &content, const QString &reason,
                            const char *maskValue = "") {
            QTest::newRow(name) << QString::fromLatin1(reader) << QString::fromLatin1(fixture)
                                << content << QString::fromLatin1(maskValue) << reason;
        };
        const QString noFile = QString::fromLocal8Bit(std::strerror(ENOENT));
        for (const char *reader : {"area", "composition", "surface"}) {
            const QByteArray name(reader);
            row(name + " missing", reader, "missing", {}, noFile);
            row(name + " fifo", reader, "fifo", {}, QStringLiteral("a pipe, not a regular file"));
        }
        row("folder", "area", "folder", {}, QStringLiteral("a folder, not a regular file"));
        row("unreadable", "composition", "unreadable", "ncols 1 nrows 1\n1\n",
            QString::fromLocal8Bit(std::strerror(EACCES)));
        row("2^31 cells", "area", "file", "ncols 65536\nnrows 32768\n1 1 1\n",
            QStringLiteral("a map may hold at most 1073741824"));
        row("2^31 cells, composition", "composition", "file", "nrows 32768 ncols 65536\n1\n",
            QStringLiteral("a map may hold at most 1073741824"));
        row("2^31-cell GeoTIFF", "surface", "huge", {},
            QStringLiteral("a map may hold at most 1073741824"));
        row("short for its header", "surface", "file", "ncols 1000 nrows 1000\n1 2 3\n",
            QStringLiteral("more than the file's"));
        row("all NoData", "area", "file", "ncols 2 nrows 1 NODATA_value -1\n-1 -1\n",
            QStringLiteral("no cell lies inside"));
        row("all the mask value", "area", "file", "3 3 \n3 3 \n",
            QStringLiteral("every cell is NoData or 3"), "3");
        row("all NaN", "surface", "file", "ncols 2 nrows 1\nnan NaN\n",
            QStringLiteral("no cell lies inside"));
        row("composition all NoData", "composition", "file",
            "ncols 2 nrows 1 nodata_value 0\n0 0\n", QStringLiteral("every cell is NoData"));
        row("non-square grid", "area", "file", "ncols 2 nrows 1 dx 10 dy 20\n1 1\n",
            QStringLiteral("its cells are 10 wide and 20 high"));
        row("non-square GeoTIFF", "surface", "non-square", {},
            QStringLiteral("its cells are 10 wide and 20 high"));
        row("rotated GeoTIFF", "area", "rotated", {}, QStringLiteral("its grid is rotated"));
        row("cell size", "area", "file", "ncols 1 nrows 1 cellsize 1e10\n1\n",
            QStringLiteral("the cell size can be at most 1000000000"));
        row("origin", "surface", "file", "ncols 1 nrows 1 xllcorner 1e13\n1\n",
            QStringLiteral("the origin must be a point within"));
        row("ragged plain map", "area", "file", "1 1 1 \n1 1 \n",
            QStringLiteral("row 2 has 2 cells and row 1 has 3"));
        row("truncated grid", "area", "file", "ncols 2 nrows 2\n1 1 1\n",
            QStringLiteral("the grid ends after 3 of its 4 values"));

        QByteArray classes = "ncols 65 nrows 1\n";
        for (int code = 0; code < 65; ++code)
            classes += QByteArray::number(code * 3) + ' ';
        row("65 classes", "composition", "file", classes,
            QStringLiteral("it holds 65 classes; a map has at most 64"));
        QByteArray distinct = "ncols 5000 nrows 1\n";
        for (int code = 0; code < 5000; ++code)
            distinct += QByteArray::number(code) + ' ';
        row("thousands of classes", "composition", "file", distinct,
            QStringLiteral("more than 1000 distinct values"));
        row("fraction", "composition", "file",
            "ncols 3 nrows 2 NODATA_value 0.5\n1 2 0.5\n3 2.25 1\n",
            QStringLiteral("row 2, column 2 holds 2.25"));
        row("float band", "composition", "float", {},
            QStringLiteral("floating-point raster (Float64)"));
        row("code beyond 32 bits", "composition", "wide", {},
            QStringLiteral("row 1, column 2 holds 4000000000"));
    }

    void refusals()
    {
        QFETCH(QString, reader);
        QFETCH(QString, fixture);
        QFETCH(QByteArray, content);
        QFETCH(QString, maskValue);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("input"));
        const std::array<double, 6> transform = {0, 10, 0, 100, 0, -20};
        if (fixture == QLatin1String("file")) {
            writeFile(path, content);
        } else if (fixture == QLatin1String("folder")) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("input")));
        } else if (fixture == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (fixture == QLatin1String("unreadable")) {
            if (::geteuid() == 0)
                QSKIP("permissions do not stop root");
            writeFile(path, content);
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);
        } else if (fixture == QLatin1String("huge")) {
            // Sparse: no block is written, so the file is a few hundred bytes.
            GDALAllRegister();
            const char *const options[] = {"SPARSE_OK=YES", "TILED=YES", nullptr};
            GDALDatasetUniquePtr huge(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
                QFile::encodeName(path).constData(), 65536, 32768, 1, GDT_Byte,
                const_cast<char **>(options)));
            QVERIFY(huge);
        } else if (fixture == QLatin1String("non-square")) {
            writeGdalTiff(path, GDT_Float32, 2, 2, {1, 2, 3, 4}, transform);
        } else if (fixture == QLatin1String("rotated")) {
            writeGdalTiff(path, GDT_Byte, 2, 2, {1, 2, 3, 4}, {0, 10, 1, 100, 1, -10});
        } else if (fixture == QLatin1String("float")) {
            writeGdalTiff(path, GDT_Float64, 1, 2, {1, 2}, {0, 1, 0, 1, 0, -1});
        } else if (fixture == QLatin1String("wide")) {
            writeGdalTiff(path, GDT_UInt32, 1, 2, {1, 4e9}, {0, 1, 0, 1, 0, -1});
        }

        FileResult error;
        if (reader == QLatin1String("area")) {
            StudyArea area;
            error = readStudyArea(
                path,
                maskValue.isEmpty() ? std::nullopt : std::optional<qint64>(maskValue.toLongLong()),
                area);
            QVERIFY(area.inside.empty());
        } else if (reader == QLatin1String("composition")) {
            Composition composition;
            error = readComposition(path, composition);
            QVERIFY(composition.classes.empty());
        } else {
            SurfaceRaster surface;
            error = readSurfaceRaster(path, surface);
            QVERIFY(surface.values.empty());
        }
        QVERIFY(error);
        QCOMPARE(error->path, QDir::toNativeSeparators(path));
        QVERIFY2(error->reason.contains(reason), qPrintable(error->reason));
    }
};

QTEST_GUILESS_MAIN(TestStudyArea)
#include "tst_studyarea.moc"
