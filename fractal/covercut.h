// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/surfacecut.h"
#include "core/files/fileerror.h"
#include "core/grid/mapfilewriter.h"
#include "fractal/fbmblock.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <vector>

// Where a surface is cut to make a map, and what cover the cut gives: the
// arithmetic that the fractal batch and the surface pipeline share. A cut
// of the ladder is measured as it always has been (on the whole
// (rows + 1) x (columns + 1) block, truncated to a whole percentage, at
// thresholds built by repeated addition), since which maps a seed gives
// depends on every rounding of it.
namespace covercut {

constexpr int thresholdCount = ladderSteps;

// 0.10, 0.11, ... 0.89, built by repeated addition, drift included.
std::array<double, thresholdCount> thresholds();

// Share of the (rows + 1) x (columns + 1) block strictly above the threshold.
double coverFraction(const FbmBlock &block, double threshold);
// The whole percentage a fraction counts as, truncated toward zero.
inline int coverPercent(double fraction)
{
    return static_cast<int>(fraction * 100.0);
}

// For every threshold of the ladder, the number of block values strictly
// above it: what coverFraction counts, for all thresholds in one pass.
std::array<qint64, thresholdCount> aboveCounts(const FbmBlock &block);

// The covers some threshold cut of a map of rows x columns can give: those
// c for which some count k of block points above the threshold, 1 <= k < n
// with n = (rows + 1)(columns + 1), has coverPercent(k / n) == c. The block always holds a
// 0, which no threshold leaves above it, and a 1, which every threshold
// does, so k = 0 and k = n never occur; every other k does for some
// surface.
std::array<bool, 101> reachableCovers(int rows, int columns);

// The exact cuts (see ExactCutter) of the map's rows x columns cells.
using ExactCut = ExactCoverCut;
ExactCutter exactCutter(const FbmBlock &block);

// Writes the top-left rows x columns cells of the block: aboveCode where the
// value is strictly above the threshold, belowCode elsewhere. Nothing
// appears under the name unless the whole file could be written. The
// number of aboveCode cells written goes to habitatCells when given.
FileResult writeCoverMap(const FbmBlock &block, const QString &fileName, double threshold,
                         int belowCode, int aboveCode,
                         MapFileWriter::Format format = MapFileWriter::Format::Plain,
                         qint64 *habitatCells = nullptr);

} // namespace covercut
