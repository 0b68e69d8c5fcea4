// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/mapfamily.h"

// Random maps: each cell is habitat with the cover as probability.
const MapFamily &randomFamily();
