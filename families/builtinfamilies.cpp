// SPDX-License-Identifier: GPL-3.0-or-later
// The list of families: adding a family is its own folder and one line
// here. Every program links it with the core, whose registry calls it once.
#include "core/batch/mapfamily.h"
#include "fractal/fractalfamily.h"
#include "gaussian/gaussianfamily.h"
#include "random/randomfamily.h"

void registerBuiltinFamilies(FamilyRegistry &registry)
{
    registry.add(randomFamily());
    registry.add(fractalFamily());
    registry.add(gaussianFamily());
}
