// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/bulkmemory.h"
#include "core/files/fileerror.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

// The study area a batch is drawn in, taken from a template raster: the
// template's rows, columns and place, and which of its cells lie inside.
struct StudyArea {
    QString path;
    int rowCount = 0;
    int columnCount = 0;
    Georeference georeference;
    // One byte a cell, row-major from the top row: 1 inside, 0 outside.
    std::vector<quint8, BulkAllocator<quint8>> inside;
    qint64 insideCount = 0;
    // The value whose cells were also taken as outside, if any.
    std::optional<qint64> maskValue;

    bool isInside(int row, int column) const
    {
        return inside[std::size_t(row) * std::size_t(columnCount) + std::size_t(column)] != 0;
    }
};

// Reads the template at `path` (an ESRI grid, a GeoTIFF or a plain map; see
// readRaster()). Its NoData cells lie outside the study area. With
// `maskValue`, the cells that hold that value lie outside as well: that is
// how a plain map, which has no NoData, marks the outside, and it works the
// same for the other formats.
//
// Refused, with the path and the reason: everything readRaster() refuses
// (missing, unreadable, not a regular file, more cells than a map may hold),
// a template without a single inside cell, cells that are not square or a
// rotated or flipped grid (which a map's georeference cannot hold, and which
// are refused rather than distorted), and a cell size or origin beyond what
// georeferenceRefusal() allows. Its reference system is checked against the
// format of the maps by studyAreaFormatRefusal(). On failure `area` is left
// empty.
FileResult readStudyArea(const QString &path, std::optional<qint64> maskValue, StudyArea &area);

// Why maps in `format` cannot take the template's place, or nothing: a
// template with a reference system for a format that cannot store one
// (only GeoTIFF can), or with one GDAL cannot write.
std::optional<QString> studyAreaFormatRefusal(const StudyArea &area, MapFormat format);

// A surface of the user's own to classify: rows x columns values, row-major
// from the top row, NaN where the file has NoData, with the study area its
// NoData leaves (NoData cells lie outside it).
struct SurfaceRaster {
    StudyArea area;
    std::vector<double, BulkAllocator<double>> values;
};

// Reads a surface from `path`, of the formats readRaster() takes (a float
// ESRI grid or GeoTIFF, typically). Refused for the reasons readStudyArea()
// gives, a surface without a single value among them.
FileResult readSurfaceRaster(const QString &path, SurfaceRaster &surface);
