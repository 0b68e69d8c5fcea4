// SPDX-License-Identifier: GPL-3.0-or-later
// The list of families: adding a family is its own folder and one line
// here. Every program links it with the core, whose registry calls it once.
#include "cluster/clusterfamily.h"
#include "core/batch/mapfamily.h"
#include "fractal/fractalfamily.h"
#include "gaussian/gaussianfamily.h"
#include "gradients/gradientfamilies.h"
#include "mosaic/mosaicfamily.h"
#include "random/randomfamily.h"
#include "rectangles/rectanglesfamily.h"

void registerBuiltinFamilies(FamilyRegistry &registry)
{
    registry.add(randomFamily());
    registry.add(fractalFamily());
    registry.add(gaussianFamily());
    registry.add(clusterFamily());
    registry.add(mosaicFamily());
    registry.add(rectanglesFamily());
    registry.add(planarFamily());
    registry.add(edgeFamily());
    registry.add(distanceFamily());
    registry.add(waveFamily());
    registry.add(perlinFamily());
    registry.add(torusFamily());
}
