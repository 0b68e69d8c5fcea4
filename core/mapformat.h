#pragma once

#include <QString>

// The file formats a batch can write its maps in. Plain is the historic
// format the landscape-metrics program reads; AsciiGrid is the ESRI grid
// that GIS tools open directly.
enum class MapFormat { Plain, AsciiGrid };

// ".txt" for the plain format, ".asc" for the grid.
inline QString mapFormatExtension(MapFormat format)
{
    return format == MapFormat::AsciiGrid ? QStringLiteral(".asc") : QStringLiteral(".txt");
}
