// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/bulkmemory.h"

#include <QtGlobal>

#include <cstddef>
#include <vector>

// The part of a fractal surface that maps are cut from: the central
// (rows + 1) x (columns + 1) points, rescaled so that their minimum is 0 and
// their maximum 1. The cover of a cut is measured on the whole block, while
// a map file holds only its top-left rows x columns cells.
struct FbmBlock {
    // Every value is written by the engine that fills the block, so its
    // storage is never cleared first: for a 4096 x 4096 map that is 134 MB.
    using Values = std::vector<double, BulkAllocator<double>>;

    // The cells of the map; the engines build square lattices, so both are
    // the lattice's side until cropTo() keeps a corner of it.
    int rows = 0;
    int columns = 0;
    // Row-major: values[row * stride() + col].
    Values values;

    qsizetype stride() const { return qsizetype(columns) + 1; }
    qint64 pointCount() const { return (qint64(rows) + 1) * (qint64(columns) + 1); }
    double at(int row, int col) const
    {
        return values[std::size_t(row) * std::size_t(stride()) + std::size_t(col)];
    }
    void setSquare(int side) { rows = columns = side; }

    // Keeps the top-left (rows + 1) x (columns + 1) points of a square
    // block, rescaled again to 0..1, so that a map of R x C cells is cut
    // from the corner of the lattice of its longer side by the same rules
    // as a square map from its whole block. A square shape leaves the block
    // as it is, bit for bit.
    void cropTo(int keptRows, int keptColumns);
};
