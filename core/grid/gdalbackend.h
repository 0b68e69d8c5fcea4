// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/grid/georeference.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// The cell types a GeoTIFF of ours can hold, named as GDAL names them.
enum class RasterCellType { Byte, UInt16, Int16, Int32, UInt32, Float32 };

// Everything GDAL is told about a raster it creates.
struct RasterCreation {
    // A file that already exists, empty, under its temporary name.
    QString path;
    int rowCount = 0;
    int columnCount = 0;
    RasterCellType type = RasterCellType::Byte;
    // Square tiles of tileSize cells, or strips of stripRows rows.
    bool tiled = false;
    int tileSize = 0;
    int stripRows = 0;
    int deflateLevel = 1;
    // Threads that compress tiles; strips are compressed by the caller.
    int threads = 1;
    // Horizontal differencing for integers; floats always get the
    // floating-point predictor.
    bool predictor = false;
    std::optional<double> noData;
    Georeference georeference;
};

// What GDAL says of a raster opened to be read as values rather than codes
// (see rasterinput.h), before any cell is read.
struct RasterLayout {
    int rowCount = 0;
    int columnCount = 0;
    // Rows in one of the band's blocks, the cheapest unit to read.
    int blockRows = 1;
    // Whether band 1 holds floating-point cells (Float32 or Float64).
    bool floatingType = false;
    // GDAL's name of the band's cell type, for messages.
    QString typeName;
    // The geotransform as GDAL gives it (x of the top-left corner, column
    // step in x, row step in x, y of the top-left corner, column step in y,
    // row step in y); unset when the file has none.
    std::optional<std::array<double, 6>> transform;
    // Whether the file is placed by ground control points instead, which no
    // geotransform describes.
    bool controlPoints = false;
    // The reference system as WKT, empty for none.
    QString crs;
    // Band 1's NoData value, which GDAL rounds to a Float32 band's
    // precision, so that it equals the cells that hold it.
    std::optional<double> noData;
};

// What the GeoTIFF code asks of GDAL. GDAL and the hundred-odd libraries it
// links take longer to load than a default batch takes to run, and hold
// tens of megabytes once loaded, so they live in a module of their own that
// is loaded by the first run that reads or writes a GeoTIFF or checks a
// reference system; every other run never loads them.
//
// Rasters are opaque handles, each used by one thread at a time. A failure
// comes back as GDAL's own words, or a plain description when GDAL gave
// none; the caller adds the file name.
class GdalBackend {
public:
    // Defined here, not in either binary: the module's class and the core's
    // callers each need the base's virtual table.
    virtual ~GdalBackend() = default;

    struct Raster;

    virtual Raster *create(const RasterCreation &raster, QString &failure) = 0;
    // One block (a tile, or a strip of stripRows rows) in the raster's
    // cell type, padded to the full block.
    virtual bool writeBlock(Raster *raster, int blockColumn, int blockRow, void *cells,
                            QString &failure) = 0;
    // Opens a map for reading: band 1, integer cells only. chunkRows is how
    // many rows its blocks hold, the cheapest unit to read.
    virtual Raster *openMap(const QString &path, int &rowCount, int &columnCount, int &chunkRows,
                            QString &failure) = 0;
    virtual bool readRows(Raster *raster, int firstRow, int rowCount, qint32 *cells,
                          QString &failure) = 0;
    // The size of a map's cells, from its geotransform (unset without one),
    // and its band's NoData value, if any.
    virtual void describeMap(Raster *raster, std::optional<double> &cellWidth,
                             std::optional<double> &cellHeight, std::optional<double> &noData) = 0;
    // Opens any numeric raster for reading as values: band 1, of any
    // integer or floating-point type (complex ones are refused).
    virtual Raster *openRaster(const QString &path, RasterLayout &layout, QString &failure) = 0;
    // A window of band 1 as doubles, row-major: `rowCount` rows from
    // `firstRow`, `columnCount` columns from `firstColumn`.
    virtual bool readValues(Raster *raster, int firstRow, int rowCount, int firstColumn,
                            int columnCount, double *values, QString &failure) = 0;
    // Closes the raster, writing what is left; false when GDAL reported a
    // failure while doing so (a full disk, say).
    virtual bool close(Raster *raster, QString &failure) = 0;
    virtual std::optional<QString> crsRefusal(const QString &crs) = 0;
};

// The backend, loaded on first use from the module beside the program (or
// the library) this code was linked into, or from the build tree. Null when
// it cannot be loaded, with the reason in `failure`.
GdalBackend *gdalBackend(QString &failure);

// Why `crs` cannot be written into a map, in words for the user (GDAL's
// own, since it is GDAL that reads the system), or nothing when it can (an empty text can: it means
// no reference system). The command line asks before it writes anything, so a mistyped system never
// costs a batch half-way through.
std::optional<QString> crsRefusal(const QString &crs);

// The same for a whole georeference: the reference system, and a cell size
// and origin that give finite coordinates.
std::optional<QString> georeferenceRefusal(const Georeference &georeference);
