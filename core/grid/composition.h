// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"

#include <QString>
#include <QtGlobal>

#include <vector>

// The classes of a categorical raster and their shares, so that neutral maps
// can be given the composition of a real landscape.
struct Composition {
    struct Class {
        qint32 code = 0;
        qint64 cells = 0;
        // cells over the inside cells, in percent; the shares sum to 100 up
        // to the rounding of each.
        double percent = 0.0;
    };
    QString path;
    // Ascending by code.
    std::vector<Class> classes;
    // The cells that are not NoData.
    qint64 insideCells = 0;
};

// As many classes as a map may be given.
constexpr int maxCompositionClasses = 64;

// Reads the classes of the raster at `path` (an ESRI grid, a GeoTIFF or a
// plain map; see readRaster()) inside its NoData mask. Its place does not
// matter, only its cells.
//
// Refused, with the path and the reason: everything readRaster() refuses, a
// raster with no cell outside NoData, a floating-point band (measurements,
// not classes, whatever values it holds), a cell that is not a whole number
// (named by its row and column) or is beyond the 32-bit codes a map holds,
// and more than maxCompositionClasses classes. Counting those stops at a
// thousand, so a raster of a million distinct values is not tabled.
FileResult readComposition(const QString &path, Composition &composition);
