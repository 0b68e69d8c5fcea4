// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/bulkmemory.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

// The most cells a map read from a file may declare: 2^30, a 4 GiB grid,
// far beyond the largest map the window or the metrics have to take. A
// header claiming more, or more than the computer's memory holds, is
// refused before anything is allocated.
constexpr qint64 maxMapCells = qint64(1) << 30;

// Why a map of `rows` x `columns` cells is not read, or nothing.
std::optional<QString> declaredSizeRefusal(qint64 rows, qint64 columns);

// A map as read from a file: rows of 32-bit cell codes. Rows keep whatever
// length their line had, so hand-made files with ragged rows survive a load.
// The cells of all rows live in one vector to keep a 4096 x 4096 map to one
// allocation instead of four thousand.
class LandscapeGrid final {
public:
    LandscapeGrid() = default;

    std::size_t rowCount() const { return m_rowStarts.size(); }
    bool isEmpty() const { return m_rowStarts.empty(); }
    std::size_t cellCount() const { return m_cells.size(); }

    std::span<const qint32> row(std::size_t r) const
    {
        const std::size_t begin = m_rowStarts[r];
        const std::size_t end = r + 1 < m_rowStarts.size() ? m_rowStarts[r + 1] : m_cells.size();
        return {m_cells.data() + begin, end - begin};
    }

    qint32 at(std::size_t r, std::size_t c) const { return row(r)[c]; }
    // Every cell, row after row.
    std::span<const qint32> cells() const { return m_cells; }

    void clear()
    {
        m_cells.clear();
        m_cells.shrink_to_fit();
        m_rowStarts.clear();
        m_rowStarts.shrink_to_fit();
    }

    void appendRow(std::span<const qint32> values)
    {
        m_rowStarts.push_back(m_cells.size());
        m_cells.insert(m_cells.end(), values.begin(), values.end());
    }

    // Lets a reader that can estimate the map's extent allocate once.
    void reserve(std::size_t cells, std::size_t rows)
    {
        m_cells.reserve(cells);
        m_rowStarts.reserve(rows);
    }

    // Incremental building used by the streaming reader: start a row, then
    // push its cells.
    void beginRow() { m_rowStarts.push_back(m_cells.size()); }
    void pushCell(qint32 value) { m_cells.push_back(value); }

    // Room for `count` more cells of the open row, left unset for the caller
    // to write; dropCells() then gives back those it did not write.
    qint32 *addCells(std::size_t count)
    {
        const std::size_t used = m_cells.size();
        m_cells.resize(used + count);
        return m_cells.data() + used;
    }
    void dropCells(std::size_t count) { m_cells.resize(m_cells.size() - count); }

    friend bool operator==(const LandscapeGrid &a, const LandscapeGrid &b) = default;

private:
    std::vector<qint32, BulkAllocator<qint32>> m_cells;
    std::vector<std::size_t> m_rowStarts;
};
