// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/gridshape.h"

#include <QCoreApplication>

std::optional<QString> raggedRefusal(const LandscapeGrid &grid, const QString &path,
                                     const QString &shape)
{
    const std::size_t rows = grid.rowCount();
    const std::size_t columns = rows > 0 ? grid.row(0).size() : 0;
    for (std::size_t r = 1; r < rows; ++r)
        if (grid.row(r).size() != columns)
            // One arg() call, so that a path holding "%2" is shown as it is.
            return QCoreApplication::translate("MapReader",
                                               "%1: its rows differ in length (row 1 has %2 "
                                               "cells, row %3 has %4); a ragged grid cannot be "
                                               "a %5")
                .arg(path, QString::number(columns), QString::number(r + 1),
                     QString::number(grid.row(r).size()), shape);
    return std::nullopt;
}
