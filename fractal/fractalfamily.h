// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/mapfamily.h"

// Fractal maps: midpoint-displacement fBm surfaces cut at the requested
// covers.
const MapFamily &fractalFamily();
