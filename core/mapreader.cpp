#include "core/mapreader.h"

#include "core/asciigridreader.h"
#include "core/mapfilereader.h"
#include "core/regularfile.h"

#include <QDir>
#include <QFile>

FileResult readMap(const QString &path, LandscapeGrid &grid)
{
    grid.clear();
    // One open for both the look at the first bytes and the read, so that
    // what is read is the file that was looked at.
    QFile file;
    if (FileResult error = openRegularFile(path, file))
        return error;
    const QString shown = QDir::toNativeSeparators(path);
    if (AsciiGridReader::isAsciiGrid(file.peek(AsciiGridReader::bytesToTell)))
        return AsciiGridReader::read(file, shown, grid);
    return MapFileReader::read(file, shown, grid);
}
