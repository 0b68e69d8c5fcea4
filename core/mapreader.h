#pragma once

#include "core/fileerror.h"
#include "core/landscapegrid.h"

#include <QString>

// Reads any map file the application shows: an ESRI ASCII grid as the grid
// it is, anything else with the lenient rules of the plain format. The
// window, the previews and every other reader of maps go through here, so
// they all see the same map in the same file.
FileResult readMap(const QString &path, LandscapeGrid &grid);
