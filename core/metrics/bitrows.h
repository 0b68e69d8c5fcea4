// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <bit>
#include <cstdint>
#include <vector>

// The rows of a two-class map as bits, one per cell, and what both of its
// measurers read off them: runs of set cells, and the groups that the runs
// of two rows form. Working on words of 64 cells, they spend their time per
// run, not per cell, and take no branch that depends on a single cell.
namespace bitrows {

constexpr int wordBits = 64;

constexpr int wordCount(int columns)
{
    return (columns + wordBits - 1) / wordBits;
}

// Bit c of word c / 64 is set for a nonzero byte; bits past the last column
// stay clear, so that no run reaches beyond the map.
void pack(const std::uint8_t *cells, int columns, std::uint64_t *words);

// The first and last column (inclusive) of every run of set bits, from the
// left; returns how many. `start` and `end` hold (columns + 1) / 2 each.
int findRuns(const std::uint64_t *words, int wordCount, std::int32_t *start, std::int32_t *end);

// Within two rows, the runs that touch form groups of adjacent columns: with
// corners joining, a group is a run of columns set in either row, since any
// two cells of neighbouring columns touch at a side or a corner. With sides
// only, such a run of columns splits where a column set only in one row
// meets a column set only in the other. Every run of either row lies in one
// group, named by its first column, so that runs are joined by looking up
// their groups instead of merging two sorted lists with a branch at every
// step.
class Groups {
public:
    explicit Groups(int columns);

    // Finds the groups of `here` and `above` and sets groupPatch[g] to -1 at
    // the first column g of each.
    void find(const std::uint64_t *here, const std::uint64_t *above, bool corners,
              std::int32_t *groupPatch);

    // The first column of the group that holds `column`, a set column of
    // either row.
    std::int32_t at(std::int32_t column) const
    {
        const auto w = unsigned(column) / wordBits;
        // At bit 63 the shift wraps to zero and the mask keeps the whole word.
        const std::uint64_t starts =
            m_starts[w] & ((std::uint64_t(2) << (unsigned(column) % wordBits)) - 1);
        return starts ? std::int32_t(w * wordBits + std::bit_width(starts) - 1)
                      : m_lastStartBefore[w];
    }

private:
    // The columns where a group begins, and the last such column before
    // each word.
    std::vector<std::uint64_t> m_starts;
    std::vector<std::int32_t> m_lastStartBefore;
};

// One class of a two-class map, row by row: this row's cells of the class
// as bits and the row above's, the runs of both, and the patches of the
// runs, which the measurer gives them.
struct ClassRows {
    explicit ClassRows(int columns);

    // Finds this row's runs and the groups they form with those above.
    void findRunsAndGroups(bool corners);
    // Gives this row's runs their patches in `parent`, a union-find forest
    // of patch labels: the patches of the runs above that share a group are
    // joined by merge(a, b), which joins the trees of two labels, b a root,
    // and returns the root it keeps; then each run takes its group's patch,
    // or, alone in its group, the next label, which `parent` grows by.
    template <typename Merge> void linkRuns(std::vector<std::int32_t> &parent, Merge merge);
    // This row becomes the row above.
    void advance();
    // Before the first row of a map.
    void clear();

    std::vector<std::uint64_t> bits;
    std::vector<std::uint64_t> previousBits;
    // The runs of this row, first and last column inclusive, and their
    // patches; of the row above only what joining needs.
    std::vector<std::int32_t> start;
    std::vector<std::int32_t> end;
    std::vector<std::int32_t> patch;
    int count = 0;
    std::vector<std::int32_t> previousStart;
    std::vector<std::int32_t> previousPatch;
    int previousCount = 0;
    Groups groups;
    // The patch of each group by its first column, -1 until a run joins it.
    std::vector<std::int32_t> groupPatch;
};

// The root of a patch label in a union-find forest. Path halving keeps the
// trees flat, so that most lookups start at a root.
inline std::int32_t findRoot(std::int32_t *parent, std::int32_t id)
{
    while (parent[id] != id) {
        parent[id] = parent[parent[id]];
        id = parent[id];
    }
    return id;
}

template <typename Merge> void ClassRows::linkRuns(std::vector<std::int32_t> &parent, Merge merge)
{
    // The loops work on local copies: the compiler cannot tell that the
    // stores into the arrays leave the members alone, and would load every
    // member again for every run.
    std::int32_t *const patchOfGroup = groupPatch.data();
    const Groups &joined = groups;
    std::int32_t *roots = parent.data();
    const std::int32_t *aboveStart = previousStart.data();
    const std::int32_t *abovePatch = previousPatch.data();
    const int aboveCount = previousCount;
    // A group's patch is read into a local before the lookups, whose stores
    // into the forest would otherwise make the compiler read it again.
    for (int k = 0; k < aboveCount; ++k) {
        const std::int32_t group = joined.at(aboveStart[k]);
        const std::int32_t named = patchOfGroup[group];
        const std::int32_t root = findRoot(roots, abovePatch[k]);
        // The first run above a group names its patch; the select is written
        // with a mask because it is as often true as false.
        const std::int32_t target = named ^ ((named ^ root) & (named >> 31));
        // Rare: two patches apart so far meet in this row.
        patchOfGroup[group] = target == root ? target : merge(target, root);
    }

    // A group without a run above holds only its one run, which takes the
    // next free label. Whether a run is the first of its patch is as random
    // as the map, so the label is chosen without a branch: the next label is
    // made its own root beforehand and used only when needed.
    const std::int32_t *here = start.data();
    std::int32_t *patchOfRun = patch.data();
    const int hereCount = count;
    std::size_t next = parent.size();
    parent.resize(next + std::size_t(hereCount) + 1);
    roots = parent.data();
    for (int i = 0; i < hereCount; ++i) {
        const std::int32_t group = joined.at(here[i]);
        const std::int32_t named = patchOfGroup[group];
        roots[next] = std::int32_t(next);
        // Later merges of the row may have moved the root of a joined group.
        const std::int32_t id = findRoot(roots, named < 0 ? std::int32_t(next) : named);
        next += named < 0;
        patchOfGroup[group] = id;
        patchOfRun[i] = id;
    }
    parent.resize(next);
}

} // namespace bitrows
