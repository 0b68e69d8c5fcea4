// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The file formats a batch can write its maps in. Plain is the historic
// format the landscape-metrics program reads; AsciiGrid is the ESRI grid
// and GeoTiff the compressed raster that GIS tools open directly.
enum class MapFormat { Plain, AsciiGrid, GeoTiff };

// ".txt" for the plain format, ".asc" for the grid, ".tif" for GeoTIFF.
inline QString mapFormatExtension(MapFormat format)
{
    switch (format) {
    case MapFormat::AsciiGrid:
        return QStringLiteral(".asc");
    case MapFormat::GeoTiff:
        return QStringLiteral(".tif");
    case MapFormat::Plain:
        break;
    }
    return QStringLiteral(".txt");
}
