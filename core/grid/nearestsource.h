// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

// The exact Euclidean feature transform of a grid: for every cell, the
// source cell nearest to it by the distance between cell centres, in time
// linear in the cells (Felzenszwalb and Huttenlocher 2012, "Distance
// transforms of sampled functions": a pass down the columns, then the lower
// envelope of parabolas along each row). Mosaics give each cell its nearest
// seed's value, cluster maps fill the cells between clusters, distance
// gradients take the distance from it.
//
// A cell equally near to several sources takes the one of the lowest tie
// key: the families say which source comes first (the seed drawn first, the
// cell first in row-major order), and every comparison is made in whole
// numbers, so the answer never rests on a rounding.
//
// `cells` holds rows x columns entries, row-major: on entry a source's own
// index, noSource for every other cell; on return the index of each cell's
// nearest source, or noSource everywhere when there is none. It is the only
// memory the transform takes beyond a few rows.
namespace nearestsource {

constexpr std::uint32_t noSource = 0xFFFFFFFFu;

// The tie key of the source at a cell index; lower comes first.
using TieKey = std::function<std::uint64_t(std::uint32_t cell)>;

void transform(std::uint32_t *cells, int rows, int columns, const TieKey &tieKey);
// Ties to the source first in row-major order.
void transform(std::uint32_t *cells, int rows, int columns);

// The distance gradient of a transform's result: each cell's distance to
// its nearest source, divided by the largest (0 everywhere when every cell
// is a source), into rows x columns values.
void scaledDistances(const std::uint32_t *nearest, int rows, int columns, double *out);

} // namespace nearestsource
