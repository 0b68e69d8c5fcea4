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
// kept row by row. Within a row, the nearest patches are those whose runs
// follow each other, and every such pair is offered first. Then a run looks
// for the other patches in the rows above and below it, outwards, and stops
// at the first row farther away than the nearest patch its own patch has
// found so far (a distance found counts for both patches), passing over the
// rows that hold nothing but its own patch. In a row, the other patch nearest to a run is found
// by where the run falls among that row's runs (by a cursor that moves
// right in the rows next to it, by a binary search in the others) and the
// ends of the block of its own patch's runs it falls in. A patch that has
// met a neighbour as near as two patches can be searches no more. The work
// is thus about the runs times the rows to each patch's nearest neighbour,
// rather than the square of the cells: bench/bench_metrics.cpp measures it.
class NearestNeighbours final {
public:
    // One value per patch; valid until the next call. The storage is kept
    // for the next map, so that a batch does not fault in fresh pages for
    // every map.
    std::span<const std::int64_t> squares(std::span<const PatchRun> runs,
                                          std::span<const std::int32_t> patchClass, int classCount,
                                          int neighbours);

    // The runs of one class in the order of the map, cut into rows
    // (segments) and blocks: the runs of one patch that follow each other
    // in a row. A search in a row passes over a block of its own patch from
    // either end of it at once, so that a patch with many runs in a row
    // does not walk through them from each of its runs.
    struct ClassRuns {
        std::vector<PatchRun> runs;
        // The first run of each run's block.
        std::vector<std::uint32_t> blockStart;
        // At the first run of a block, the run after its last.
        std::vector<std::uint32_t> blockEnd;
        // Where each segment begins, and one past the last run.
        std::vector<std::uint32_t> segmentStart;
        std::vector<std::int32_t> segmentRow;
        std::uint32_t openBlock = 0;

        // Empties it for a map whose class has `runCount` runs.
        void clear(std::size_t runCount);
    };

    // Where the rows that hold a single patch are passed over.
    struct Scratch {
        std::vector<std::int32_t> onlyPatch;
        std::vector<std::int32_t> skipUp;
        std::vector<std::int32_t> skipDown;
    };

private:
    std::vector<std::int64_t> m_best;
    std::vector<std::int64_t> m_patches;
    std::vector<std::size_t> m_runsOfClass;
    std::vector<ClassRuns> m_classes;
    Scratch m_scratch;
};
