// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Cells `start` to `end` (inclusive) of row `row`, all of patch `patch`.
struct PatchRun {
    std::int32_t row;
    std::int32_t start;
    std::int32_t end;
    std::int32_t patch;
};

// The Euclidean nearest-neighbour distance of every patch, as the reference
// tool measures it: from the centre of one of its cells to the nearest
// centre of a cell of another patch of the same class, squared and in
// cells, so that it is exact; -1 for a patch whose class has no other.
//
// `runs` come row by row from the top, each row's from the left, as a
// measurer keeps them; `patchClass` gives each patch's class, 0 to
// classCount - 1.
//
// No pair of patches is compared cell by cell. The runs of each class are
// kept row by row; a run looks for the other patches in its own row and in
// the rows above and below it, outwards, and stops at the first row farther
// away than the nearest patch its own patch has found so far (a distance
// found counts for both patches). In a row, the other patch nearest to a
// run is found by a binary search and a link from each run to the next and
// the previous run of another patch. The work is thus about the runs times
// the rows to each patch's nearest neighbour, rather than the square of the
// cells: bench/bench_metrics.cpp measures it.
std::vector<std::int64_t> nearestNeighbourSquares(std::span<const PatchRun> runs,
                                                  std::span<const std::int32_t> patchClass,
                                                  int classCount);
