// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/rng/philox.h"

#include <QtGlobal>

#include <cstdint>

// The random map's draws (see core/rng/philox.h for the key, whose size word
// holds the map's size).
//
// Counter of a random map's cells, four cells per call, one 32-bit word
// each, word i for the cell at column 4 * group + i:
//   ctr[0]           the group of four cells within the row, column / 4
//   ctr[1]           the row
//   ctr[2]           the replicate
//   ctr[3] bits 0-7  the cover, 0 to 100
//   ctr[3] bits 8-15 the redraw round: 0 for the first draws, 1 to 255 for
//                    the draws that replace rejected words (see below)
//
namespace philox {

constexpr Domain randomMapDomain{0x52u};

// A word u is habitat at cover c when u < c * habitatStep. Words from
// acceptedLimit up are rejected and redrawn, so that the accepted words are
// uniform on 0..100 * habitatStep - 1 and a cell is habitat with
// probability exactly c / 100: cover 0 gives no habitat, cover 100 only
// habitat. A rejected word of round r is replaced by the same cell's word of
// round r + 1; a word is rejected with probability 96 / 2^32, so a map of
// ten million cells redraws about two of them.
constexpr std::uint32_t habitatStep = 42949672u;
constexpr std::uint32_t acceptedLimit = 100u * habitatStep;
constexpr int lastRedrawRound = 255;

// The uniform draws of maps of classes, in a domain of their own: counter
// (column / 2, row, replicate, 0), words 0-1 the 64 bits of the even
// column, words 2-3 those of the odd one, low word first.
constexpr Domain classMapDomain{0x43u};

constexpr Counter cellCounter(std::uint32_t group, std::uint32_t row, std::uint32_t replicate,
                              std::uint32_t cover, std::uint32_t round = 0)
{
    return Counter{{group, row, replicate, (cover & 0xFFu) | (round << 8)}};
}

} // namespace philox

// One random map drawn with Philox: every cell is habitat with probability
// exactly cover / 100, independently of every other cell and of every other
// map. The map is a pure function of (seed, shape, cover, replicate), so it is
// the same whatever else its batch holds and in whatever order the batch
// draws, and a user can remake it from those four numbers alone. Where the
// classic generator links replicates through its one running state, two
// replicates here share nothing but their seed.
//
// The object holds only those numbers, and filling a row changes nothing,
// so any number of threads may fill rows of one map, or of several, at once.
// See above for where each number goes in the key and the counter
// and for the rule that turns a 32-bit word into habitat.
class PhiloxRandomMap final {
public:
    // The map has `rows` rows of `columns` cells, each side 1 to
    // philox::largestMapSize; cover lies in 0..100. replicate may be any
    // number from 0; a batch passes the one it writes into the map's file
    // name and manifest, counted from 1, so that the record is all a user
    // needs to make the map again.
    //
    // The key holds the longer side: a map of R x C cells is the top-left
    // corner of the square map of that side, as a fractal map is cut from
    // the lattice of its longer side.
    PhiloxRandomMap(quint32 seed, int rows, int columns, int cover, int replicate);
    PhiloxRandomMap(quint32 seed, int size, int cover, int replicate)
        : PhiloxRandomMap(seed, size, size, cover, replicate)
    {}

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }

    // Writes the cells of row `row` (0 to rows() - 1) into
    // habitat[0] .. habitat[columns() - 1]: 1 for habitat, 0 for matrix.
    void fillRow(int row, std::uint8_t *habitat) const;

private:
    philox::Key m_key;
    int m_rows = 0;
    int m_columns = 0;
    std::uint32_t m_cover = 0;
    std::uint32_t m_replicate = 0;
    std::uint32_t m_habitatLimit = 0;
};

// One 64-bit uniform integer for every cell of a map, drawn with Philox: a
// pure function of (seed, longer side, replicate, cell), like the cells of
// PhiloxRandomMap, so that a map of R x C cells is the corner of the square
// one and a study area leaves its inside cells as they are. Maps of classes
// draw each cell's class from its integer, or rank the cells by it.
class PhiloxUniformMap final {
public:
    PhiloxUniformMap(quint32 seed, int rows, int columns, int replicate);
    // The integers of row `row`, columns() of them.
    void fillRow(int row, std::uint64_t *bits) const;
    // The same as doubles in [0, 1), the top 53 bits.
    void fillRow(int row, double *values) const;
    int columns() const { return m_columns; }

private:
    philox::Key m_key;
    int m_columns;
    std::uint32_t m_replicate;
};
