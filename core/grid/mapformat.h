// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The file formats a batch can write its maps in. Plain is the historic
// format the landscape-metrics program reads; AsciiGrid is the ESRI grid
// and GeoTiff the compressed raster that GIS tools open directly.
enum class MapFormat { Plain, AsciiGrid, GeoTiff };

// Every format with its extension, in one place: the names a batch writes,
// the names the window lists and opens, and the readers all take them from
// here.
struct MapFormatExtension {
    MapFormat format;
    const char *extension;
};
inline constexpr MapFormatExtension mapFormatExtensions[] = {
    {MapFormat::Plain, ".txt"},
    {MapFormat::AsciiGrid, ".asc"},
    {MapFormat::GeoTiff, ".tif"},
};

// ".txt" for the plain format, ".asc" for the grid, ".tif" for GeoTIFF.
inline QString mapFormatExtension(MapFormat format)
{
    for (const MapFormatExtension &entry : mapFormatExtensions)
        if (entry.format == format)
            return QLatin1String(entry.extension);
    return QStringLiteral(".txt");
}

// The format a file name's extension (with its dot) stands for, as a batch
// writes it.
inline std::optional<MapFormat> mapFormatOfExtension(QStringView extension)
{
    for (const MapFormatExtension &entry : mapFormatExtensions)
        if (extension == QLatin1String(entry.extension))
            return entry.format;
    return std::nullopt;
}

// "*.txt", "*.asc", "*.tif": the map files of a folder.
inline QStringList mapFileFilters()
{
    QStringList filters;
    for (const MapFormatExtension &entry : mapFormatExtensions)
        filters.append(QLatin1Char('*') + QLatin1String(entry.extension));
    return filters;
}

// A surface is written in real values: as a GeoTIFF beside GeoTIFF maps, as
// an ESRI grid beside the others.
inline MapFormat surfaceFormat(MapFormat mapFormat)
{
    return mapFormat == MapFormat::GeoTiff ? MapFormat::GeoTiff : MapFormat::AsciiGrid;
}
