// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Classifying a surface of one's own into classes of exact sizes, as the
// command line's classify, Python's and R's classify() do alike: the cells
// inside the study area are ranked by value, ties in row-major order, and
// the classes take them in order of their proportions, the first class the
// lowest values (see ClassCutter in core/batch/classcut.h).
struct ClassifyRequest {
    // In percent, one a class, adding up to 100.
    std::vector<double> proportions;
    // The code of each class; empty for 1, 2, ..., k.
    std::vector<qint32> classValues;

    // Why the classes cannot be made, or nothing: proportions that are not
    // 2 to 64 shares adding up to 100, codes that are not one a class or
    // not all different, a code equal to `noData`.
    std::optional<QString> refusal(std::optional<qint64> noData = std::nullopt) const;
    // The codes in use: the given ones, or 1 to k.
    std::vector<qint32> codes() const;
};

// The class of every cell of a rows x columns surface, row-major: 0 to
// k - 1 inside, outsideClass (255) where `inside` (one byte a cell,
// nonzero inside; null for all) leaves a cell out or the value is NaN,
// which a surface read from a file holds where its NoData is. Counts of
// each class, inside cells only, go to `counts` when given.
std::vector<std::uint8_t> classifyCells(const double *values, int rows, int columns,
                                        const std::uint8_t *inside,
                                        std::span<const double> proportions,
                                        std::vector<qint64> *counts = nullptr);

// The NODATA value of a map of these codes when none is asked for: in a
// GeoTIFF the one its smallest cell type leaves (see GeoTiffMapWriter),
// elsewhere -9999, or the next value down that is not a code.
qint64 defaultClassNoData(std::span<const qint32> codes, MapFormat format);

// Writes class cells as a map file of `format` whole or not at all: every
// class its code, cells outside as `noData` (the NODATA value of an ESRI
// grid or a GeoTIFF, the code a plain map gives them).
FileResult writeClassMap(const QString &path, MapFormat format, std::span<const std::uint8_t> cells,
                         int rows, int columns, std::span<const qint32> codes, qint64 noData,
                         const Georeference &georeference);
