// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/philoxrandommap.h"

#include <algorithm>

namespace {

// Cells drawn into one buffer of words before they are compared: small
// enough for the first-level cache, large enough that a row of a large map
// costs few rounds of the outer loop.
constexpr int groupsPerChunk = 256;
constexpr int cellsPerGroup = 4;

// Fills `count` cells from group `firstGroup` on and returns whether any of
// their words was rejected. Drawing whole groups into a buffer and then
// comparing lets the compiler run both loops on vector units; a word that is
// rejected reads as matrix here and is put right by the caller.
PW_PHILOX_CLONES bool fillCells(philox::Key key, std::uint32_t row, std::uint32_t replicate,
                                std::uint32_t cover, std::uint32_t limit, int firstGroup, int count,
                                std::uint8_t *habitat)
{
    std::uint32_t words[cellsPerGroup * groupsPerChunk];
    const int groups = (count + cellsPerGroup - 1) / cellsPerGroup;
    for (int g = 0; g < groups; ++g) {
        const philox::Counter out = philox::bits(
            key, philox::cellCounter(std::uint32_t(firstGroup + g), row, replicate, cover));
        // Written out word by word: a loop here hides the pattern from the
        // vectorizer.
        words[cellsPerGroup * g] = out.v[0];
        words[cellsPerGroup * g + 1] = out.v[1];
        words[cellsPerGroup * g + 2] = out.v[2];
        words[cellsPerGroup * g + 3] = out.v[3];
    }
    std::uint32_t rejected = 0;
    for (int i = 0; i < count; ++i) {
        habitat[i] = words[i] < limit ? 1 : 0;
        rejected |= words[i] >= philox::acceptedLimit ? 1u : 0u;
    }
    return rejected != 0;
}

} // namespace

PhiloxRandomMap::PhiloxRandomMap(quint32 seed, int rows, int columns, int cover, int replicate)
    : m_key(philox::key(seed, philox::randomMapDomain, std::uint32_t(std::max(rows, columns))))
    , m_rows(rows)
    , m_columns(columns)
    , m_cover(std::uint32_t(cover))
    , m_replicate(std::uint32_t(replicate))
    , m_habitatLimit(std::uint32_t(cover) * philox::habitatStep)
{
    Q_ASSERT(rows >= 1 && columns >= 1 &&
             std::uint32_t(std::max(rows, columns)) <= philox::largestMapSize);
    Q_ASSERT(cover >= 0 && cover <= 100);
    Q_ASSERT(replicate >= 0);
}

void PhiloxRandomMap::fillRow(int row, std::uint8_t *habitat) const
{
    Q_ASSERT(row >= 0 && row < m_rows);
    const std::uint32_t r = std::uint32_t(row);
    constexpr int chunk = cellsPerGroup * groupsPerChunk;
    bool rejected = false;
    for (int first = 0; first < m_columns; first += chunk)
        rejected |= fillCells(m_key, r, m_replicate, m_cover, m_habitatLimit, first / cellsPerGroup,
                              std::min(chunk, m_columns - first), habitat + first);
    if (!rejected)
        return;

    // A word at or above the accepted limit is replaced by the same cell's
    // word of the next round until one is accepted. After the last round,
    // which has probability below 10^-2000, the cell stays matrix.
    for (int group = 0; group * cellsPerGroup < m_columns; ++group) {
        const philox::Counter first =
            philox::bits(m_key, philox::cellCounter(std::uint32_t(group), r, m_replicate, m_cover));
        for (int i = 0; i < cellsPerGroup && group * cellsPerGroup + i < m_columns; ++i) {
            if (first.v[i] < philox::acceptedLimit)
                continue;
            for (int round = 1; round <= philox::lastRedrawRound; ++round) {
                const std::uint32_t word =
                    philox::bits(m_key, philox::cellCounter(std::uint32_t(group), r, m_replicate,
                                                            m_cover, std::uint32_t(round)))
                        .v[i];
                if (word < philox::acceptedLimit) {
                    habitat[group * cellsPerGroup + i] = word < m_habitatLimit ? 1 : 0;
                    break;
                }
            }
        }
    }
}

PhiloxUniformMap::PhiloxUniformMap(quint32 seed, int rows, int columns, int replicate)
    : m_key(philox::key(seed, philox::classMapDomain, std::uint32_t(std::max(rows, columns))))
    , m_columns(columns)
    , m_replicate(std::uint32_t(replicate))
{
    Q_ASSERT(rows >= 1 && columns >= 1 &&
             std::uint32_t(std::max(rows, columns)) <= philox::largestMapSize);
}

void PhiloxUniformMap::fillRow(int row, std::uint64_t *bits) const
{
    for (int column = 0; column < m_columns; column += 2) {
        const philox::Counter out = philox::bits(
            m_key,
            philox::Counter{{std::uint32_t(column / 2), std::uint32_t(row), m_replicate, 0}});
        bits[column] = std::uint64_t(out.v[0]) | std::uint64_t(out.v[1]) << 32;
        if (column + 1 < m_columns)
            bits[column + 1] = std::uint64_t(out.v[2]) | std::uint64_t(out.v[3]) << 32;
    }
}

void PhiloxUniformMap::fillRow(int row, double *values) const
{
    const auto uniform = [](std::uint32_t low, std::uint32_t high) {
        return double((std::uint64_t(low) | std::uint64_t(high) << 32) >> 11) * 0x1p-53;
    };
    for (int column = 0; column < m_columns; column += 2) {
        const philox::Counter out = philox::bits(
            m_key,
            philox::Counter{{std::uint32_t(column / 2), std::uint32_t(row), m_replicate, 0}});
        values[column] = uniform(out.v[0], out.v[1]);
        if (column + 1 < m_columns)
            values[column + 1] = uniform(out.v[2], out.v[3]);
    }
}
