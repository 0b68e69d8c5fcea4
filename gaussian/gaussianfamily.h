// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/mapfamily.h"

// Maps cut from Gaussian random fields or exact fBm surfaces.
const MapFamily &gaussianFamily();
