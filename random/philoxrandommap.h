// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/rng/philox.h"

#include <QtGlobal>

#include <cstdint>

// One random map drawn with Philox: every cell is habitat with probability
// exactly cover / 100, independently of every other cell and of every other
// map. The map is a pure function of (seed, size, cover, replicate), so it is
// the same whatever else its batch holds and in whatever order the batch
// draws, and a user can remake it from those four numbers alone. Where the
// classic generator links replicates through its one running state, two
// replicates here share nothing but their seed.
//
// The object holds only those numbers, and filling a row changes nothing,
// so any number of threads may fill rows of one map, or of several, at once.
// See random/philox.h for where each number goes in the key and the counter
// and for the rule that turns a 32-bit word into habitat.
class PhiloxRandomMap final {
public:
    // size is the number of rows and of columns, 1 to
    // philox::largestMapSize; cover lies in 0..100. replicate may be any
    // number from 0; a batch passes the one it writes into the map's file
    // name and manifest, counted from 1, so that the record is all a user
    // needs to make the map again.
    PhiloxRandomMap(quint32 seed, int size, int cover, int replicate);

    int size() const { return m_size; }

    // Writes the cells of row `row` (0 to size() - 1) into
    // habitat[0] .. habitat[size() - 1]: 1 for habitat, 0 for matrix.
    void fillRow(int row, std::uint8_t *habitat) const;

private:
    philox::Key m_key;
    int m_size = 0;
    std::uint32_t m_cover = 0;
    std::uint32_t m_replicate = 0;
    std::uint32_t m_habitatLimit = 0;
};
