// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/bulkmemory.h"

#include <cstddef>
#include <vector>

// The part of a fractal surface that maps are cut from: the central
// (size + 1) x (size + 1) points, rescaled so that their minimum is 0 and
// their maximum 1. The cover of a cut is measured on the whole block, while
// a map file holds only its top-left size x size cells.
struct FbmBlock {
    // Every value is written by the engine that fills the block, so its
    // storage is never cleared first: for a 4096 x 4096 map that is 134 MB.
    using Values = std::vector<double, BulkAllocator<double>>;

    int size = 0;
    // Row-major: values[row * (size + 1) + col].
    Values values;

    double at(int row, int col) const
    {
        return values[std::size_t(row) * std::size_t(size + 1) + std::size_t(col)];
    }
};
