// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/grid/landscapegrid.h"
#include "core/grid/mapfileinfo.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

// Reads an ESRI ASCII grid, the form in which the command line writes maps
// for GIS tools, so that the viewer and the previews show such a map as the
// map it is rather than as plain-format text (where its header would become
// rows of zeros and the last value of every row would be dropped).
//
// The header is a list of "key value" lines, in any order and any case:
// ncols and nrows are required, xllcorner or xllcenter, yllcorner or
// yllcenter, cellsize and NODATA_value are accepted and play no part in the
// picture (the cell size and the NoData code go into a MapFileInfo for
// those who measure the map). Then come nrows x ncols whole numbers
// separated by any white space; how they are spread over lines does not
// matter. A NODATA cell keeps its code like any other.
class AsciiGridReader final {
public:
    // Whether a file that begins with these bytes is a grid: its first word
    // is "ncols" or "nrows", which no plain map can begin with.
    static bool isAsciiGrid(const QByteArray &start);
    static constexpr qint64 bytesToTell = 256;

    // Replaces `grid` with the cells, one row per grid row. A file that is
    // not a complete grid leaves `grid` empty, and the error says what is
    // wrong and where. Only a regular file is read. `info`, if given, gets
    // the header's cell size and NoData code.
    static FileResult read(const QString &path, LandscapeGrid &grid, MapFileInfo *info = nullptr);
    // The same from a device already open for reading, named `shownPath` in
    // errors.
    static FileResult read(QIODevice &device, const QString &shownPath, LandscapeGrid &grid,
                           MapFileInfo *info = nullptr);
};
