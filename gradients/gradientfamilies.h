// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class MapFamily;

// Surfaces that model environmental trends, each rescaled to 0..1 and cut
// exactly: a plane rising towards a direction, its middle band (edge), a
// wave along it, the distance to source cells, Perlin noise, and fractal
// noise that wraps around (torus).
const MapFamily &planarFamily();
const MapFamily &edgeFamily();
const MapFamily &waveFamily();
const MapFamily &distanceFamily();
const MapFamily &perlinFamily();
const MapFamily &torusFamily();
