// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/grid/landscapegrid.h"
#include "core/grid/mapfileinfo.h"

#include "core/files/readstop.h"

#include <QString>

// Reads any map file the application shows: an ESRI ASCII grid or a GeoTIFF
// as the grid it is, anything else with the lenient rules of the plain
// format. The
// window, the previews and every other reader of maps go through here, so
// they all see the same map in the same file.
//
// A file that is no map at all (binary content, or text without a single
// whole number; see MapContentCheck) is refused with a reason that starts
// with "not a map file", and the grid is left empty. Ragged, hand-made text
// still reads as the plain format reads it.
//
// `info`, if given, gets what the file says besides its codes: the cell
// size and NoData code of a grid or a GeoTIFF, and the first cell the plain
// format made up, and which format the file held.
FileResult readMap(const QString &path, LandscapeGrid &grid, const ReadStop &stop = {},
                   MapFileInfo *info = nullptr);
