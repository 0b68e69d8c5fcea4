#include "core/mapreader.h"

#include "core/asciigridreader.h"
#include "core/mapfilereader.h"

FileResult readMap(const QString &path, LandscapeGrid &grid)
{
    return AsciiGridReader::isAsciiGrid(path) ? AsciiGridReader::read(path, grid)
                                              : MapFileReader::read(path, grid);
}
