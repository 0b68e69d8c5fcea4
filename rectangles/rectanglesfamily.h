// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class MapFamily;

// Random rectangular clusters: rectangles of random sides at random
// places, each with a uniform value, painted one over the other until they
// cover the map; the surface is then cut exactly.
const MapFamily &rectanglesFamily();
