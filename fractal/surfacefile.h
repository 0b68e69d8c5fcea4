// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/files/pendingfile.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"
#include "fractal/fbmblock.h"

#include <QString>

#include <vector>

// The rescaled surface block that fractal maps were cut from, as a file a
// user can classify again or check H on: a float32 GeoTIFF, or an ESRI grid
// with 7 significant digits for the text formats.
//
// The block is (size + 1) x (size + 1) values, its top-left size x size being
// the map; its top-left corner lies on the map's, so it reaches one cell
// beyond the map to the right and below.
//
// How values are stored: see writeSurfaceGrid.
FileResult writeSurfaceFile(const FbmBlock &block, const QString &path, MapFormat format,
                            const Georeference &mapGeoreference,
                            const std::vector<double> &thresholds, PendingFile &file);
