// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "fractal/fbmblock.h"
#include "fractal/fbmsurface.h"
#include "fractal/surfacedraws.h"

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <vector>

// Builds exactly the block that FbmSurface::generate followed by copyBlock
// gives, value for value and bit for bit, without building the whole
// lattice.
//
// Two facts make that possible. The generator is a linear congruential one,
// so its state after any number of steps is reached by a jump, and the order
// in which the plain construction draws its points is known in closed form:
// the draw of any lattice point can be made without the draws before it.
// And a point depends only on earlier points within one half step of it,
// so the block needs, at each stage, only the points in the block widened
// by a margin that shrinks with the half step. A 100 x 100 map thus
// costs about fifteen thousand points instead of sixteen million; a map as
// large as the lattice still needs all of them, and then the gain comes
// from drawing several points of a run at once and keeping the lattice as
// 32-bit integers, which is all that a neighbour ever contributes.
//
// With the Philox generator no jump is needed at all: the draw of a point
// is made from its draw number directly, which is also what the plain
// surface does with that generator.
//
// The object keeps its scratch storage from one surface to the next, so a
// batch pays for it once. It is not shared between threads; a pipeline
// gives each worker its own. It can itself split the rows of each large
// stage between two threads; every point is computed from the same inputs
// either way, so the block does not depend on the split.
class FastFbmSurface final {
public:
    using Status = FbmSurface::Status;
    static constexpr int maxLevelLimit = 12;

    FastFbmSurface() = default;

    // Fills block with the rescaled (size + 1) x (size + 1) central points of
    // the surface of (H, size, maxLevel, seed). maxLevel lies in 0..12 (the
    // batch uses 12) and size in 0..2^maxLevel; a larger size is refused and
    // leaves the block as it was. A failed allocation leaves an empty block.
    Status generate(double H, int size, int maxLevel, int seed, FbmBlock &block,
                    Generator generator = Generator::Classic);

    // With two threads, a stage whose needed points number at least
    // minimumPoints has its rows split between the calling thread and a
    // helper started for it, and so has the final rescale. Starting a thread
    // costs tens of microseconds, which the default keeps to stages that take
    // a millisecond or more; tests pass 0 to split every stage that has rows
    // on both sides of a split. Counts above two are taken as two, and
    // without a helper (if none can be started) the same rows run in turn.
    static constexpr qint64 defaultMinimumSplitPoints = qint64(1) << 18;
    void setThreadCount(int count, qint64 minimumPoints = defaultMinimumSplitPoints);

private:
    // The points of one stage that are kept, on that stage's lattice: rows
    // and columns origin, origin + step, ... covering the same index range
    // in both directions, since the block is square and centred. The cells
    // lie in the block's own storage (see generate()).
    struct Grid {
        std::int32_t *cells = nullptr;
        int origin = 0;
        int shift = 0;
        int side = 0;

        static std::size_t cellCount(int first, int last, int stepShift)
        {
            const std::size_t side = std::size_t((last - first) >> stepShift) + 1;
            return side * side;
        }
        void shape(int first, int last, int stepShift, std::int32_t *storage);
        int column(int index) const { return (index - origin) >> shift; }
        std::int32_t *row(int index)
        {
            return cells + std::size_t(column(index)) * std::size_t(side);
        }
        const std::int32_t *row(int index) const
        {
            return cells + std::size_t(column(index)) * std::size_t(side);
        }
    };

    struct Stage;
    void refine(const Stage &stage);
    // The stage's rows from..to, odd and even, in an order that keeps the
    // work in cache; an even row is done only if both its odd neighbours
    // lie in the range.
    void refineRows(const Stage &stage, int from, int to, std::int32_t *sums);
    // Crops, finds the extremes and rescales as the plain surface does,
    // putting back the fractional corners the block holds.
    void writeBlock(int N, int off, int size, const double corners[4], FbmBlock &block);
    void oddRow(const Stage &stage, int x, std::int32_t *sums);
    void evenRow(const Stage &stage, int x, std::int32_t *sums);
    // Fills sums with the sums of the five uniform values of `count`
    // consecutive draws starting at draw number `first`.
    void drawSums(std::uint64_t first, int count, std::int32_t *sums) const;
    bool splits(qint64 points) const { return m_threads > 1 && points >= m_minimumSplitPoints; }

    Generator m_generator = Generator::Classic;
    std::uint32_t m_seedState = 0;
    philox::Key m_philoxKey{};
    int m_threads = 1;
    qint64 m_minimumSplitPoints = defaultMinimumSplitPoints;
    // The x index of the first edge point whose draws m_edgeSums holds.
    int m_edgeFirst = 0;
    Grid m_coarse;
    Grid m_fine;
    // One buffer of draws for each thread that may work on a stage.
    std::vector<std::int32_t> m_sums[2];
    std::vector<std::int32_t> m_edgeSums;
    // One row of the last stage, read before its place is rescaled over.
    std::vector<std::int32_t> m_row;
};
