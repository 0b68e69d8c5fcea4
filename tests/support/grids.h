#pragma once

#include "core/landscapegrid.h"
#include "core/mapfilereader.h"

#include <QByteArray>

#include <string_view>
#include <vector>

// A grid's rows as plain vectors, which QCOMPARE can show when they differ.
using Rows = std::vector<std::vector<qint32>>;

inline Rows rowsOf(const LandscapeGrid &grid)
{
    Rows rows;
    for (std::size_t r = 0; r < grid.rowCount(); ++r) {
        const auto row = grid.row(r);
        rows.emplace_back(row.begin(), row.end());
    }
    return rows;
}

inline LandscapeGrid gridOf(const Rows &rows)
{
    LandscapeGrid grid;
    for (const auto &row : rows)
        grid.appendRow(row);
    return grid;
}

// What the plain-format reader makes of these bytes.
inline Rows parsePlain(const QByteArray &bytes)
{
    LandscapeGrid grid;
    MapFileReader reader(grid);
    reader.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    reader.finish();
    return rowsOf(grid);
}
