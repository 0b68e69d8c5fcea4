// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where a map lies on the Earth. The defaults are the ones the ESRI ASCII
// grids have always had: unit cells with the lower-left corner at the origin
// and no coordinate reference system, so a cell's coordinates are its column
// and its row counted from the bottom.
struct Georeference {
    // Side of a square cell, in the units of the reference system.
    double cellSize = 1.0;
    // The lower-left corner of the map, as in an ASCII grid's header.
    double originX = 0.0;
    double originY = 0.0;
    // A definition GDAL's OGRSpatialReference::SetFromUserInput accepts,
    // such as "EPSG:3035", a WKT or PROJ string; empty for none.
    QString crs;
};

// Beyond these a map's areas and extent stop being finite numbers (a cell
// of 1e308 has no area a double can hold), while no reference system has
// cells or coordinates anywhere near them: a billion units is 25 times the
// Earth's circumference in metres.
constexpr double maxCellSize = 1e9;
constexpr double maxOriginMagnitude = 1e12;
