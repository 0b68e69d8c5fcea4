// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/grid/landscapegrid.h"

#include <QString>

#include <optional>

// Why the map read from `path` cannot be handed over as one rectangle (an
// array, a raster), or nothing when every row is as long as the first.
// `shape` names what it would have been. The viewer draws ragged maps; the
// Python and R front ends cannot.
std::optional<QString> raggedRefusal(const LandscapeGrid &grid, const QString &path,
                                     const QString &shape);
