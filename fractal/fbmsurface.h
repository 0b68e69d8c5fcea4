// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/files/fileerror.h"
#include "core/rng/rand15.h"
#include "fractal/fbmblock.h"

#include <QString>

#include <cmath>
#include <vector>

// One fractional Brownian motion surface, built by two-dimensional midpoint
// displacement on a lattice of (N + 1) x (N + 1) points with N = 2^maxLevel,
// then cropped to the central (size + 1) x (size + 1) points and rescaled to
// 0..1.
//
// The surface is a pure function of (H, size, maxLevel, seed): the batch run
// reuses the seeds 0, 1, 2, ... for every H, so maps of different H come from
// the same random draws and differ only in how strongly each level of detail
// is displaced. Every lattice point takes exactly one Gaussian draw, in a
// fixed order; that order is the surface's identity, and this class is kept
// deliberately plain so that it can serve as the reference any faster
// construction is checked against.
//
// With the Philox generator the draw of each lattice point comes from its
// own counter, the point's position in that same order, instead of from the
// running sequence; the surface is then a pure function of (H, size,
// maxLevel, seed) that shares no draw with the classic surface of the seed.
//
// H is expected to be 0 or more; a negative H makes the displacements grow
// at every level instead of shrinking.
class FbmSurface final {
public:
    enum class Status { Ok, SizeTooLarge, AllocationFailed };

    static constexpr int defaultMaxLevel = 12;
    static constexpr int drawsPerGaussian = 5;
    static constexpr int largestUniformDraw = Rand15::maxValue;

    // A sum of n uniform draws on [0, 1] has mean n / 2 and variance n / 12;
    // scaling the sum of five 15-bit draws by the factor and shifting it by
    // the offset gives a draw of mean 0 and variance 1 within +-sqrt(15).
    static inline const double gaussianOffset = std::sqrt(3.0 * drawsPerGaussian);
    static inline const double gaussianFactor =
        2.0 * gaussianOffset / (drawsPerGaussian * largestUniformDraw);

    FbmSurface() = default;

    // Builds a new surface, replacing the previous one. maxLevel must lie in
    // 0..30 and size in 0..2^maxLevel; a larger size is refused and leaves
    // the previous surface as it was. A failed allocation leaves no surface.
    Status generate(double H, int size, int maxLevel, int seed,
                    Generator generator = Generator::Classic);

    // The rescaled block, rows and columns 0..size(), after a successful
    // generate().
    double value(int row, int col) const { return values[index(row, col)]; }
    int size() const { return mapSize; }
    void copyBlock(FbmBlock &out) const;

    // Writes the top-left size() x size() cells cut at the threshold; see
    // covercut::writeCoverMap.
    FileResult writeCoverMap(const QString &fileName, double threshold, int belowCode,
                             int aboveCode) const;

private:
    // The corners and every stage, drawing from `draws`: one type per
    // generator, so that neither pays for the choice inside the loops.
    template <typename Draws> void build(double H, int maxLevel, Draws &draws);

    std::size_t index(int row, int col) const
    {
        return std::size_t(row) * std::size_t(side + 1) + std::size_t(col);
    }
    double &at(int row, int col) { return values[index(row, col)]; }
    // Neighbours enter a displacement by their integer parts only.
    int whole(int row, int col) const { return static_cast<int>(values[index(row, col)]); }

    int mapSize = 0;
    // N: lattice indices run from 0 to side in both directions.
    int side = 0;
    // One block for the whole lattice, kept from one surface to the next
    // when it is large enough, since a batch builds hundreds of surfaces of
    // the same size.
    std::vector<double> values;
    bool allocated = false;
};
