// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/surfacefile.h"

#include "core/grid/surfacegrid.h"

FileResult writeSurfaceFile(const FbmBlock &block, const QString &path, MapFormat format,
                            const Georeference &mapGeoreference,
                            const std::vector<double> &thresholds, PendingFile &file)
{
    // The block's top-left corner is the map's, and it has one row more.
    Georeference georeference = mapGeoreference;
    georeference.originY -= georeference.cellSize;
    return writeSurfaceGrid(block.values.data(), block.rows + 1, block.columns + 1, block.stride(),
                            path, format, georeference, thresholds, file);
}
