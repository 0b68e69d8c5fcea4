// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class MapFamily;

// Random cluster maps (Saura and Martinez-Millan 2000): cells marked with a
// probability, the marked cells joined into clusters, each cluster given a
// class, and the cells between them filled from their neighbours.
const MapFamily &clusterFamily();
