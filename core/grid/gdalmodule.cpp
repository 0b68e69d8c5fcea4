// SPDX-License-Identifier: GPL-3.0-or-later
// The GDAL side of GdalBackend, built as a module of its own (see
// gdalbackend.h for why) and loaded by the core on first use.

#include "core/grid/gdalbackend.h"
#include "core/grid/gdalsupport.h"

#include <QCoreApplication>
#include <QFile>

#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GeoTiff", text);
}

// Opens a GeoTIFF to read, or says why it cannot. Only the GeoTIFF driver
// may open the file: a map name must never make GDAL follow a virtual
// raster's references to other files.
GDALDatasetUniquePtr openGeoTiff(const QString &path, QString &failure)
{
    registerGdalDrivers();
    GdalErrorCapture errors;
    const char *const drivers[] = {"GTiff", nullptr};
    GDALDatasetUniquePtr dataset(
        GDALDataset::Open(QFile::encodeName(path).constData(),
                          GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, drivers));
    if (!dataset)
        failure = errors.reason(tr("not a GeoTIFF file"));
    return dataset;
}

GDALDataType gdalType(RasterCellType type)
{
    switch (type) {
    case RasterCellType::Byte:
        return GDT_Byte;
    case RasterCellType::UInt16:
        return GDT_UInt16;
    case RasterCellType::Int16:
        return GDT_Int16;
    case RasterCellType::Int32:
        return GDT_Int32;
    case RasterCellType::UInt32:
        return GDT_UInt32;
    case RasterCellType::Float32:
        return GDT_Float32;
    }
    return GDT_Unknown;
}

// A reference system is looked up in the local PROJ database; a map batch
// must never stall on a network request for one, nor read a file that a
// definition named.
const char *const crsOptions[] = {"ALLOW_NETWORK_ACCESS=NO", "ALLOW_FILE_ACCESS=NO", nullptr};

class Gdal final : public GdalBackend {
public:
    Raster *create(const RasterCreation &raster, QString &failure) override
    {
        registerGdalDrivers();
        GdalErrorCapture errors;
        GDALDriver *driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        if (!driver) {
            failure = tr("GDAL was built without its GeoTIFF driver");
            return nullptr;
        }
        CPLStringList creation;
        creation.SetNameValue("COMPRESS", "DEFLATE");
        creation.SetNameValue("ZLEVEL", QByteArray::number(raster.deflateLevel).constData());
        if (raster.type == RasterCellType::Float32)
            creation.SetNameValue("PREDICTOR", "3");
        else if (raster.predictor)
            creation.SetNameValue("PREDICTOR", "2");
        creation.SetNameValue("BIGTIFF", "IF_SAFER");
        if (raster.tiled) {
            const QByteArray side = QByteArray::number(raster.tileSize);
            creation.SetNameValue("TILED", "YES");
            creation.SetNameValue("BLOCKXSIZE", side.constData());
            creation.SetNameValue("BLOCKYSIZE", side.constData());
            if (raster.threads > 1)
                creation.SetNameValue("NUM_THREADS",
                                      QByteArray::number(raster.threads).constData());
        } else {
            creation.SetNameValue("BLOCKYSIZE", QByteArray::number(raster.stripRows).constData());
        }
        GDALDataset *dataset =
            driver->Create(QFile::encodeName(raster.path).constData(), raster.columnCount,
                           raster.rowCount, 1, gdalType(raster.type), creation.List());
        if (dataset) {
            // GDAL places the first row at the top: the top-left corner lies
            // rowCount cells above the lower-left origin, and rows step down.
            const Georeference &place = raster.georeference;
            double transform[6] = {
                place.originX, place.cellSize,
                0.0,           place.originY + double(raster.rowCount) * place.cellSize,
                0.0,           -place.cellSize};
            dataset->SetGeoTransform(transform);
            if (!place.crs.isEmpty()) {
                OGRSpatialReference reference;
                reference.SetFromUserInput(place.crs.toUtf8().constData(), crsOptions);
                dataset->SetSpatialRef(&reference);
            }
            if (raster.noData)
                dataset->GetRasterBand(1)->SetNoDataValue(*raster.noData);
        }
        if (!dataset || errors.failed()) {
            failure = errors.reason(tr("GDAL could not create the file"));
            if (dataset)
                GDALClose(GDALDataset::ToHandle(dataset));
            return nullptr;
        }
        return reinterpret_cast<Raster *>(dataset);
    }

    bool writeBlock(Raster *raster, int blockColumn, int blockRow, void *cells,
                    QString &failure) override
    {
        GdalErrorCapture errors;
        if (datasetOf(raster)->GetRasterBand(1)->WriteBlock(blockColumn, blockRow, cells) ==
            CE_None)
            return true;
        failure = errors.reason(tr("GDAL could not write the file"));
        return false;
    }

    Raster *openMap(const QString &path, int &rowCount, int &columnCount, int &chunkRows,
                    QString &failure) override
    {
        GDALDatasetUniquePtr dataset = openGeoTiff(path, failure);
        if (!dataset)
            return nullptr;
        if (dataset->GetRasterCount() < 1) {
            failure = tr("a TIFF without raster bands, not a map");
            return nullptr;
        }
        GDALRasterBand *band = dataset->GetRasterBand(1);
        const GDALDataType type = band->GetRasterDataType();
        if (GDALDataTypeIsComplex(type)) {
            failure = tr("a complex-valued raster, not a map");
            return nullptr;
        }
        if (GDALDataTypeIsFloating(type)) {
            failure = tr("a floating-point raster, not a map");
            return nullptr;
        }
        rowCount = dataset->GetRasterYSize();
        columnCount = dataset->GetRasterXSize();
        int blockColumns = 0;
        band->GetBlockSize(&blockColumns, &chunkRows);
        return reinterpret_cast<Raster *>(dataset.release());
    }

    bool readRows(Raster *raster, int firstRow, int rowCount, qint32 *cells,
                  QString &failure) override
    {
        GDALDataset *dataset = datasetOf(raster);
        // GDAL reads wider integers as 32-bit codes by clamping them, which
        // would merge every class beyond the range into one: they are read
        // whole and refused when they do not fit.
        switch (dataset->GetRasterBand(1)->GetRasterDataType()) {
        case GDT_UInt32:
        case GDT_Int64:
            return readWide<qint64>(dataset, GDT_Int64, firstRow, rowCount, cells, failure);
        case GDT_UInt64:
            return readWide<quint64>(dataset, GDT_UInt64, firstRow, rowCount, cells, failure);
        default:
            return readAs(dataset, GDT_Int32, firstRow, rowCount, cells, failure);
        }
    }

    void describeMap(Raster *raster, std::optional<double> &cellWidth,
                     std::optional<double> &cellHeight, std::optional<double> &noData) override
    {
        GdalErrorCapture errors;
        GDALDataset *dataset = datasetOf(raster);
        double transform[6] = {};
        // A rotated raster's cell sides are the lengths of the geotransform's
        // column and row steps.
        if (dataset->GetGeoTransform(transform) == CE_None) {
            cellWidth = std::hypot(transform[1], transform[4]);
            cellHeight = std::hypot(transform[2], transform[5]);
        }
        int hasNoData = 0;
        const double value = dataset->GetRasterBand(1)->GetNoDataValue(&hasNoData);
        if (hasNoData)
            noData = value;
    }

    Raster *openRaster(const QString &path, RasterLayout &layout, QString &failure) override
    {
        GDALDatasetUniquePtr dataset = openGeoTiff(path, failure);
        if (!dataset)
            return nullptr;
        if (dataset->GetRasterCount() < 1) {
            failure = tr("a TIFF without raster bands");
            return nullptr;
        }
        GDALRasterBand *band = dataset->GetRasterBand(1);
        const GDALDataType type = band->GetRasterDataType();
        if (GDALDataTypeIsComplex(type)) {
            failure = tr("a complex-valued raster, which holds no single value per cell");
            return nullptr;
        }
        layout = {};
        layout.rowCount = dataset->GetRasterYSize();
        layout.columnCount = dataset->GetRasterXSize();
        int blockColumns = 0;
        band->GetBlockSize(&blockColumns, &layout.blockRows);
        layout.floatingType = GDALDataTypeIsFloating(type);
        layout.typeName = QString::fromLatin1(GDALGetDataTypeName(type));
        std::array<double, 6> transform = {};
        if (dataset->GetGeoTransform(transform.data()) == CE_None)
            layout.transform = transform;
        layout.controlPoints = dataset->GetGCPCount() > 0;
        if (const OGRSpatialReference *reference = dataset->GetSpatialRef()) {
            // WKT2 keeps what WKT1 drops; one line, so that it fits a
            // manifest's cell.
            const char *const options[] = {"FORMAT=WKT2_2019", "MULTILINE=NO", nullptr};
            char *wkt = nullptr;
            if (reference->exportToWkt(&wkt, options) == OGRERR_NONE && wkt)
                layout.crs = QString::fromUtf8(wkt);
            CPLFree(wkt);
        }
        int hasNoData = 0;
        const double noData = band->GetNoDataValue(&hasNoData);
        // GDAL gives a Float32 band's value rounded to a float, as its
        // cells hold it.
        if (hasNoData)
            layout.noData = noData;
        // GDAL's errors while describing the file (an unreadable reference
        // system, say) leave the raster readable; the values are what counts.
        return reinterpret_cast<Raster *>(dataset.release());
    }

    bool readValues(Raster *raster, int firstRow, int rowCount, int firstColumn, int columnCount,
                    double *values, QString &failure) override
    {
        GdalErrorCapture errors;
        if (datasetOf(raster)->GetRasterBand(1)->RasterIO(
                GF_Read, firstColumn, firstRow, columnCount, rowCount, values, columnCount,
                rowCount, GDT_Float64, 0, 0, nullptr) == CE_None)
            return true;
        failure = errors.reason(tr("GDAL could not read the raster"));
        return false;
    }

    bool close(Raster *raster, QString &failure) override
    {
        // GDAL 3.6 reports a failure while closing, such as a full disk when
        // the last blocks are written, only through its error handler.
        GdalErrorCapture errors;
        GDALClose(GDALDataset::ToHandle(datasetOf(raster)));
        if (!errors.failed())
            return true;
        failure = errors.reason(tr("GDAL could not finish the file"));
        return false;
    }

    std::optional<QString> crsRefusal(const QString &crs) override
    {
        registerGdalDrivers();
        GdalErrorCapture errors;
        OGRSpatialReference reference;
        if (reference.SetFromUserInput(crs.toUtf8().constData(), crsOptions) == OGRERR_NONE)
            return std::nullopt;
        return errors.reason(QCoreApplication::translate("Georeference", "not recognised"));
    }

private:
    static GDALDataset *datasetOf(Raster *raster)
    {
        return reinterpret_cast<GDALDataset *>(raster);
    }

    static bool readAs(GDALDataset *dataset, GDALDataType type, int firstRow, int rowCount,
                       void *cells, QString &failure)
    {
        GdalErrorCapture errors;
        const int columnCount = dataset->GetRasterXSize();
        if (dataset->GetRasterBand(1)->RasterIO(GF_Read, 0, firstRow, columnCount, rowCount, cells,
                                                columnCount, rowCount, type, 0, 0,
                                                nullptr) == CE_None)
            return true;
        failure = errors.reason(tr("GDAL could not read the raster"));
        return false;
    }

    template <typename Wide>
    static bool readWide(GDALDataset *dataset, GDALDataType type, int firstRow, int rowCount,
                         qint32 *cells, QString &failure)
    {
        const auto columnCount = std::size_t(dataset->GetRasterXSize());
        std::vector<Wide> wide(std::size_t(rowCount) * columnCount);
        if (!readAs(dataset, type, firstRow, rowCount, wide.data(), failure))
            return false;
        for (std::size_t i = 0; i < wide.size(); ++i) {
            if (!std::in_range<qint32>(wide[i])) {
                failure = tr("row %1, column %2 holds %3, beyond the codes a map can hold (%4 "
                             "to %5)")
                              .arg(qint64(firstRow) + qint64(i / columnCount) + 1)
                              .arg(i % columnCount + 1)
                              .arg(wide[i])
                              .arg(std::numeric_limits<qint32>::min())
                              .arg(std::numeric_limits<qint32>::max());
                return false;
            }
            cells[i] = qint32(wide[i]);
        }
        return true;
    }
};

} // namespace

extern "C" Q_DECL_EXPORT GdalBackend *patchwrightGdalBackend()
{
    static Gdal gdal;
    return &gdal;
}
