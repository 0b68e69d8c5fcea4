// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/files/pendingfile.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"

#include <QString>

#include <vector>

// A surface that maps were cut from, as a file a user can classify again or
// measure: a float32 GeoTIFF, or an ESRI grid with 7 significant digits for
// the text formats. The surface is rows x columns values, row-major, `stride`
// values from one row to the next; its top-left corner lies where
// `georeference` puts it.
//
// Either precision rounds values, and a value rounded across a threshold of
// a cut would make the file disagree with the map. So each value is stored
// as the nearest one of the file's precision that lies on the same side of
// every threshold in `thresholds` as the value itself: cutting the file at a
// map's threshold (habitat strictly above it) gives back the map, except
// for the cells of an exact cut that equal its threshold, which the map
// takes in row-major order.
FileResult writeSurfaceGrid(const double *values, int rows, int columns, qsizetype stride,
                            const QString &path, MapFormat format, const Georeference &georeference,
                            const std::vector<double> &thresholds, PendingFile &file);
