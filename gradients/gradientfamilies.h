// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class MapFamily;

// Surfaces that model environmental trends, each rescaled to 0..1 and cut
// exactly: a plane rising towards a direction, its middle band (edge), a
// wave along it, the distance to source cells, and Perlin noise.
const MapFamily &planarFamily();
const MapFamily &edgeFamily();
const MapFamily &waveFamily();
const MapFamily &distanceFamily();
const MapFamily &perlinFamily();
