// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/files/pendingfile.h"
#include "core/files/readstop.h"
#include "core/grid/gdalbackend.h"
#include "core/grid/georeference.h"
#include "core/grid/landscapegrid.h"
#include "core/grid/mapfileinfo.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// How a GeoTIFF is stored. The defaults are what batches use; they were
// chosen with bench/bench_geotiff.cpp, which also runs the alternatives.
struct GeoTiffOptions {
    // DEFLATE level: 1 costs less than a seventh of the CPU time of the
    // usual 6 on a random 4096 x 4096 map and a tenth less on a clumped one,
    // for files a sixth to a fifth larger.
    int level = 1;
    // Threads GDAL compresses tiles on while the writing thread makes the
    // next rows. With a core to spare they take a quarter off the time a
    // 4096 x 4096 map takes; on busy cores they add a tenth to a fifth to
    // its CPU time. Strips are always compressed by the writing thread.
    int threads = 2;
    // Side of a tile. GDAL's threads pay a fixed cost per tile, which 512
    // pays a quarter as often as 256.
    int tileSize = 512;
    // Horizontal differencing for integer maps. It suits smooth values, not
    // two codes: it turns every patch edge into a third value, which made
    // 4096 x 4096 maps 12 to 16 % larger and slower to write. Surfaces
    // always get the floating-point predictor, which suits them.
    bool predictor = false;
};

// What every GeoTIFF writer of ours shares: one single-band raster written
// top row first, a block of rows at a time, to a temporary file that takes
// the target's name only once it is complete.
//
// The file is DEFLATE-compressed, floats with the floating-point predictor
// and integers as they are (see GeoTiffOptions). A raster with a side of
// 512 cells or more is cut into square tiles, so that GIS tools can read a
// window of it without inflating whole rows; a smaller one is one strip.
// Rows are collected until a row of tiles is complete and then handed to
// GDAL tile by tile, which keeps GDAL's block cache, a process-wide
// resource, out of the way, and lets GDAL's threads compress the tiles
// while the next rows are made.
//
// The temporary file is the target's name, a dot and six random letters or
// digits, as with every other map of this project, so a crashed run leaves
// only names that the README's clean-up command finds. On commit the dataset
// is closed, the file is synced to disk and then renamed over the target. A
// symbolic link under the target's name is replaced, never followed. On any
// failure the temporary file is removed and the error names the target and
// GDAL's or the system's reason; GDAL itself prints nothing.
//
// Each writer has its own dataset, so writers may run on several threads at
// once.
class GeoTiffRaster final {
public:
    static constexpr int tilingThreshold = 512;

    GeoTiffRaster() = default;
    ~GeoTiffRaster();

    GeoTiffRaster(const GeoTiffRaster &) = delete;
    GeoTiffRaster &operator=(const GeoTiffRaster &) = delete;

    static int cellBytes(RasterCellType type);

    FileResult open(const QString &path, int rowCount, int columnCount, RasterCellType type,
                    std::optional<double> noData, const Georeference &georeference,
                    const GeoTiffOptions &options = {});

    // Storage for the next row's cells in the raster's cell type, or null
    // once every row was given or after a failure, when the row is dropped.
    std::byte *nextRow()
    {
        if (m_failure || m_rowsDone >= m_rowCount)
            return nullptr;
        return m_block.get() + std::size_t(m_rowsInBlock) * m_rowBytes;
    }
    // Marks the row returned by nextRow() as filled.
    void rowDone()
    {
        ++m_rowsDone;
        if (++m_rowsInBlock == m_blockRows || m_rowsDone == m_rowCount)
            writeBlockRow();
    }

    // Publishes the raster under its name, once it is on disk.
    FileResult commit();
    // Completes the file under its temporary name and hands it over, to be
    // synced and published with others.
    FileResult finish(PendingFile &file);
    void discard();

private:
    void writeBlockRow();
    void fail(const QString &reason);
    void fillCells(std::byte *cells, std::size_t count) const;

    QString m_path;
    PendingFile m_pending;
    GdalBackend *m_gdal = nullptr;
    GdalBackend::Raster *m_dataset = nullptr;
    int m_rowCount = 0;
    int m_columnCount = 0;
    int m_cellBytes = 1;
    bool m_tiled = false;
    int m_tileSize = 0;
    int m_blockRows = 0;
    std::size_t m_rowBytes = 0;
    std::unique_ptr<std::byte[]> m_block;
    std::unique_ptr<std::byte[]> m_tile;
    std::byte m_fill[4] = {};
    int m_rowsInBlock = 0;
    int m_rowsDone = 0;
    int m_blockRowIndex = 0;
    std::optional<QString> m_failure;
};

// Writes one map as a single-band integer GeoTIFF, with the same two codes
// as the text formats.
//
// The cell type is the smallest of Byte, UInt16, Int16, Int32 and UInt32
// (tried in that order) that holds both codes and the NoData value, so a
// 0/1 map takes one byte a cell before compression. The NoData value is
// set on the band even though no cell of a generated map is missing: GIS
// tools then agree on what a cell outside the map is. Without an explicit
// value it is -9999 when that fits the type chosen for the codes alone and
// is not a code; otherwise it is the largest value of that type that is not
// a code (255 for a 0/1 map, which stays Byte). An explicit value never
// narrows the type but widens it when needed (codes 0/1 with NoData -1 give
// Int16); a value that no type holds together with the codes (negative
// codes and a NoData above 2^31 - 1), or that equals a code, is refused by
// open().
class GeoTiffMapWriter final {
public:
    struct Layout {
        RasterCellType type = RasterCellType::Byte;
        qint64 noData = 0;
    };
    static std::optional<Layout> layout(qint32 matrixValue, qint32 coverValue,
                                        std::optional<qint64> noData = std::nullopt);
    // The same rule for the codes of any number of classes.
    static std::optional<Layout> layout(std::span<const qint32> codes,
                                        std::optional<qint64> noData);

    GeoTiffMapWriter(qint32 matrixValue, qint32 coverValue,
                     std::optional<qint64> noData = std::nullopt);

    // Applies to every later open().
    void setOptions(const GeoTiffOptions &options) { m_options = options; }

    FileResult open(const QString &path, int rowCount, int columnCount,
                    const Georeference &georeference = {});

    // The next row, top first: isHabitat(column) for every column in order.
    // Rows past the last one, or after a failed write, are ignored; the
    // failure comes out of commit().
    template <typename IsHabitat> void putRow(IsHabitat isHabitat)
    {
        std::byte *row = m_raster.nextRow();
        if (!row)
            return;
        switch (m_cellBytes) {
        case 1:
            m_habitatCells += fillRow<quint8>(row, isHabitat);
            break;
        case 2:
            m_habitatCells += fillRow<quint16>(row, isHabitat);
            break;
        default:
            m_habitatCells += fillRow<quint32>(row, isHabitat);
            break;
        }
        m_cells += m_columnCount;
        m_raster.rowDone();
    }

    // A map of classes: the codes of classes 0, 1, ..., and the NoData
    // value a cell outside the study area (class 255) takes. Rows are then
    // put with putClasses().
    GeoTiffMapWriter(std::vector<qint32> codes, std::optional<qint64> noData);
    void putClasses(const std::uint8_t *classes);

    qint64 cellCount() const { return m_cells; }
    qint64 habitatCellCount() const { return m_habitatCells; }

    // Publishes the map under its name once every row was put.
    FileResult commit() { return m_raster.commit(); }
    FileResult finish(PendingFile &file) { return m_raster.finish(file); }
    // Drops the map; nothing appears under its name.
    void discard() { m_raster.discard(); }

private:
    // Codes are stored as their two's complement bit patterns cut to the
    // cell's width, which is the value for the signed and the unsigned types
    // alike once the type holds it. Everything the loop reads is a local:
    // a byte store may alias any member, which would otherwise be reloaded
    // for every cell.
    template <typename Cell, typename IsHabitat>
    qint64 fillRow(std::byte *bytes, IsHabitat &isHabitat)
    {
        Cell *const cells = reinterpret_cast<Cell *>(bytes);
        const int columnCount = m_columnCount;
        const Cell matrix = Cell(quint32(m_matrixValue));
        const Cell cover = Cell(quint32(m_coverValue));
        qint64 habitatCells = 0;
        for (int column = 0; column < columnCount; ++column) {
            const bool habitat = isHabitat(column);
            cells[column] = habitat ? cover : matrix;
            habitatCells += habitat;
        }
        return habitatCells;
    }

    template <typename Cell> void fillClasses(std::byte *bytes, const std::uint8_t *classes);

    qint32 m_matrixValue;
    qint32 m_coverValue;
    std::optional<qint64> m_noData;
    // The codes of a map of classes; empty for a map of habitat.
    std::vector<qint32> m_codes;
    qint64 m_outside = 0;
    int m_columnCount = 0;
    int m_cellBytes = 1;
    qint64 m_cells = 0;
    qint64 m_habitatCells = 0;
    GeoTiffOptions m_options;
    GeoTiffRaster m_raster;
};

// Writes a surface, such as a rescaled fBm block with values from 0 to 1, as
// a single-band Float32 GeoTIFF. The values need no NoData: every cell of a
// surface has one.
class GeoTiffSurfaceWriter final {
public:
    void setOptions(const GeoTiffOptions &options) { m_options = options; }

    FileResult open(const QString &path, int rowCount, int columnCount,
                    const Georeference &georeference = {});

    // The next row, top first; its first columnCount values are taken, each
    // rounded to the nearest float.
    void putRow(std::span<const double> values)
    {
        std::byte *row = m_raster.nextRow();
        if (!row)
            return;
        Q_ASSERT(values.size() >= std::size_t(m_columnCount));
        float *cells = reinterpret_cast<float *>(row);
        for (int column = 0; column < m_columnCount; ++column)
            cells[column] = float(values[std::size_t(column)]);
        m_raster.rowDone();
    }

    FileResult commit() { return m_raster.commit(); }
    FileResult finish(PendingFile &file) { return m_raster.finish(file); }
    void discard() { m_raster.discard(); }

private:
    int m_columnCount = 0;
    GeoTiffOptions m_options;
    GeoTiffRaster m_raster;
};

// Whether the file starts as a TIFF or a BigTIFF does, in either byte order:
// what the viewer checks to pick a reader by content rather than by name.
bool looksLikeTiff(const QString &path);
// The same for the first bytes of a file.
bool looksLikeTiff(const QByteArray &start);

// Replaces `grid` with band 1 of an integer GeoTIFF (any single- or
// multi-band TIFF GDAL reads). Floating-point and complex rasters are
// refused: they are surfaces, not maps. Values beyond the 32-bit range of a
// map's codes are clamped to it. On failure the grid holds the rows read
// before it.
// `stopped`, asked between blocks of rows, ends the read with
// readStoppedReason() when it says so. `info`, if given, gets the cell size
// and the band's NoData value.
FileResult readGeoTiff(const QString &path, LandscapeGrid &grid, const ReadStop &stopped = {},
                       MapFileInfo *info = nullptr);
