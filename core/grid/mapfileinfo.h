// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/grid/mapformat.h"

#include <QString>

#include <optional>

// What a map file says about its cells besides their codes. The window and
// the previews need only the codes; measuring a map needs the size of its
// cells and which code marks cells outside it, and must know when the
// lenient plain format made up a cell.
struct MapFileInfo {
    // The format the file held, which the reader tells by its content.
    MapFormat format = MapFormat::Plain;
    // The sides of a cell in map units: an ESRI grid's cellsize, a GeoTIFF's
    // pixel size. Unset for the plain format, a header without a cellsize,
    // and a GeoTIFF without a geotransform.
    std::optional<double> cellWidth;
    std::optional<double> cellHeight;
    // The code of cells outside the map: an ESRI grid's NODATA_value, a
    // GeoTIFF band's NoData value. It may be a value no cell can hold (a
    // fraction, or beyond 32 bits); such a value marks no cell.
    std::optional<double> noData;
    // Where the plain format's lenient rules first read a token that is not
    // a whole number (an empty one, a fraction, a word) as a cell of 0,
    // such as "row 3, cell 7"; unset when every cell was a whole number.
    std::optional<QString> madeUpCell;
};
