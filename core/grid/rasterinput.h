// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <span>

// What a raster a user hands us says before its cells: its shape, where it
// lies and what its cells are.
struct RasterHeader {
    MapFormat format = MapFormat::Plain;
    int rowCount = 0;
    int columnCount = 0;
    // The lower-left corner and the side of a cell; the defaults of an ESRI
    // grid (unit cells at 0,0, no reference system) for a plain map and for
    // a file that gives none.
    Georeference georeference;
    // Why the file's placement does not fit a Georeference (cells that are
    // not square, a rotated or flipped grid, control points), or nothing.
    // Only those who place maps by the file need to refuse it.
    std::optional<QString> placementRefusal;
    // Whether the band's cell type is floating-point: a GeoTIFF's Float32 or
    // Float64. ESRI grids and plain maps have no cell type; their values
    // tell (see RasterSummary::firstFraction).
    bool floatingType = false;
    // GDAL's name of a GeoTIFF band's type ("Float32"), empty otherwise.
    QString typeName;
    std::optional<double> noData;
};

// A cell's place, rows and columns counted from 1 the way messages give it.
struct CellPlace {
    qint64 row = 0;
    qint64 column = 0;
};

// What the whole read found, for those who read every cell.
struct RasterSummary {
    // The first cell (in row-major order) holding a value that is not a
    // whole number; NoData cells do not count.
    std::optional<CellPlace> firstFraction;
};

// Asked once the header is known, before any cell is read or anything is
// allocated for them; a reason stops the read.
using RasterHeaderCheck = std::function<std::optional<QString>(const RasterHeader &)>;

// Given every stretch of the raster in order, top row first: `values` are
// the cells of row `row` (from 0) from column `firstColumn` on, NaN where
// the cell is NoData. A row comes in one stretch unless it is longer than
// a million cells, so that memory stays bounded by a few megabytes however
// the raster is shaped. A reason stops the read.
using RasterPieces =
    std::function<std::optional<QString>(int row, int firstColumn, std::span<const double> values)>;

// Reads a raster a user hands us, told apart by its content as the map
// viewer does: an ESRI ASCII grid (integer or real cells; xllcorner or
// xllcenter, yllcorner or yllcenter; cellsize, or dx and dy; NODATA_value),
// a GeoTIFF of any numeric type (band 1; its NoData value; NaN cells of a
// real band count as NoData too), or a plain map (which has no NoData and
// no place). NaN cells of an ESRI grid are NoData as well.
//
// A path that is missing, unreadable, a folder, a FIFO or a device is
// refused without waiting on it; a raster declaring more cells than a map
// may hold (declaredSizeRefusal) is refused before anything is allocated,
// as is an ESRI grid whose header declares more cells than its bytes can
// hold. The error names the path and the reason, as every reader here does.
FileResult readRaster(const QString &path, const RasterHeaderCheck &checkHeader,
                      const RasterPieces &pieces, RasterSummary *summary = nullptr);
