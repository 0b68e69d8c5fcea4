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
// classCount - 1; `neighbours` (4 or 8) is how the patches were joined.
//
// No pair of patches is compared cell by cell. The runs of each class are
// kept row by row; a run looks for the other patches in its own row and in
// the rows above and below it, outwards, and stops at the first row farther
// away than the nearest patch its own patch has found so far (a distance
// found counts for both patches), passing over the rows that hold nothing
// but its own patch. In a row, the other patch nearest to a
// run is found by where the run falls among that row's runs (merged once
// with the rows next to it, searched for in the others) and a link from
// each run to the next and the previous run of another patch. The work is
// thus about the runs times the rows to each patch's nearest neighbour,
// rather than the square of the cells: bench/bench_metrics.cpp measures it.
class NearestNeighbours final {
public:
    // One value per patch; valid until the next call. The storage is kept
    // for the next map, so that a batch does not fault in fresh pages for
    // every map.
    std::span<const std::int64_t> squares(std::span<const PatchRun> runs,
                                          std::span<const std::int32_t> patchClass, int classCount,
                                          int neighbours);

    // Where a class's runs and their links are kept while it is searched.
    struct Scratch {
        std::vector<std::uint32_t> segmentStart;
        std::vector<std::int32_t> segmentRow;
        std::vector<std::uint32_t> nextOther;
        std::vector<std::uint32_t> previousOther;
        std::vector<std::int32_t> onlyPatch;
        std::vector<std::int32_t> skipUp;
        std::vector<std::int32_t> skipDown;
    };

private:
    std::vector<std::int64_t> m_best;
    std::vector<std::int64_t> m_patches;
    std::vector<std::size_t> m_classStart;
    std::vector<std::size_t> m_next;
    std::vector<PatchRun> m_byClass;
    Scratch m_scratch;
};
