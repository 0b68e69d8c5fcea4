// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class MapFamily;

// Nearest-neighbour mosaics: seed cells drawn uniformly, each with a
// uniform value, every cell taking the value of its nearest seed; the
// surface is then cut exactly.
const MapFamily &mosaicFamily();
