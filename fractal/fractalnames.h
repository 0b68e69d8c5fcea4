// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/mapfamily.h"

// How the fractal family names its maps and surfaces.
const NameScheme &fractalNames();
