// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/nearestneighbour.h"

#include <QtGlobal>

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();

using ClassRuns = NearestNeighbours::ClassRuns;

// The search in the runs of one class.
class ClassRows {
public:
    ClassRows(const ClassRuns &runs, std::vector<std::int64_t> &best,
              NearestNeighbours::Scratch &scratch)
        : m_runs(runs.runs)
        , m_best(best)
        , m_blockStart(runs.blockStart)
        , m_blockEnd(runs.blockEnd)
        , m_segmentStart(runs.segmentStart)
        , m_segmentRow(runs.segmentRow)
        , m_onlyPatch(scratch.onlyPatch)
        , m_skipUp(scratch.skipUp)
        , m_skipDown(scratch.skipDown)
    {
        // Rows that hold runs of one patch only are passed over in a block
        // by the runs of that patch: a patch that fills many rows and whose
        // nearest neighbour lies beyond them would otherwise search every
        // one of its rows from each of its runs.
        const auto segments = std::int32_t(m_segmentRow.size());
        m_onlyPatch.resize(std::size_t(segments));
        m_skipUp.resize(std::size_t(segments));
        m_skipDown.resize(std::size_t(segments));
        for (std::int32_t t = 0; t < segments; ++t) {
            const std::uint32_t begin = m_segmentStart[std::size_t(t)];
            const std::uint32_t end = m_segmentStart[std::size_t(t) + 1];
            m_onlyPatch[std::size_t(t)] = m_blockEnd[begin] < end ? -1 : m_runs[begin].patch;
        }
        for (std::int32_t t = 0; t < segments; ++t)
            m_skipUp[std::size_t(t)] =
                t > 0 && m_onlyPatch[std::size_t(t)] >= 0 &&
                        m_onlyPatch[std::size_t(t) - 1] == m_onlyPatch[std::size_t(t)]
                    ? m_skipUp[std::size_t(t) - 1]
                    : t - 1;
        for (std::int32_t t = segments; t-- > 0;)
            m_skipDown[std::size_t(t)] =
                t + 1 < segments && m_onlyPatch[std::size_t(t)] >= 0 &&
                        m_onlyPatch[std::size_t(t) + 1] == m_onlyPatch[std::size_t(t)]
                    ? m_skipDown[std::size_t(t) + 1]
                    : t + 1;
    }

    // Every run searches, row by row from the top. `nearest` is the least
    // square distance two patches of a class can be apart.
    void searchAll(std::int64_t nearest)
    {
        const auto segments = std::uint32_t(m_segmentRow.size());
        // In its own row no other run overlaps a run, and the nearest of
        // another patch lies across an end of its block. Those pairs are
        // offered first, in every row, before any row is searched: a patch
        // that meets another there as near as patches can be searches no
        // row at all, whereas in the order of the map its first runs would
        // have searched before one further down met it.
        for (std::uint32_t own = 0; own < segments; ++own) {
            const std::uint32_t last = m_segmentStart[own + 1] - 1;
            for (std::uint32_t i = m_segmentStart[own]; i < last; ++i)
                if (m_runs[i].patch != m_runs[i + 1].patch)
                    offer(m_runs[i].patch, i + 1, m_runs[i], 0);
        }
        for (std::uint32_t own = 0; own < segments; ++own) {
            // Most searches end in the rows next to a run's own. The runs of
            // a row come from the left, so where each falls among the runs
            // of those rows only moves right: a cursor in each finds it, and
            // only for the runs that still search.
            Cursor above{own > 0 ? m_segmentStart[own - 1] : none, own - 1};
            Cursor below{own + 1 < segments ? m_segmentStart[own + 1] : none, own + 1};
            for (std::uint32_t i = m_segmentStart[own]; i < m_segmentStart[own + 1]; ++i) {
                // A patch that has met another as near as patches can be
                // needs no more searching; on a random map that is most of
                // them, early.
                if (m_best[std::size_t(m_runs[i].patch)] > nearest)
                    search(i, own, nearest, above, below);
            }
        }
    }

private:
    // The first run of segment `segment` that may end at or after the first
    // cell of the runs still to search.
    struct Cursor {
        std::uint32_t at;
        std::uint32_t segment;
    };

    void search(std::uint32_t i, std::uint32_t own, std::int64_t nearest, Cursor &above,
                Cursor &below)
    {
        const PatchRun &run = m_runs[i];
        // Its own row is offered already (searchAll); row by row outwards,
        // the nearer row first.
        auto up = std::int64_t(own) - 1;
        auto down = std::int64_t(own) + 1;
        const auto rows = std::int64_t(m_segmentRow.size());
        for (;;) {
            if (up >= 0 && m_onlyPatch[std::size_t(up)] == run.patch)
                up = m_skipUp[std::size_t(up)];
            if (down < rows && m_onlyPatch[std::size_t(down)] == run.patch)
                down = m_skipDown[std::size_t(down)];
            const std::int64_t dyUp = up >= 0 ? run.row - m_segmentRow[std::size_t(up)] : unknown;
            const std::int64_t dyDown =
                down < rows ? m_segmentRow[std::size_t(down)] - run.row : unknown;
            const bool goUp = dyUp <= dyDown;
            const std::int64_t dy = goUp ? dyUp : dyDown;
            const std::int64_t best = m_best[std::size_t(run.patch)];
            if (dy == unknown || dy * dy >= best || best <= nearest)
                return;
            const std::int64_t s = goUp ? up-- : down++;
            if (s == std::int64_t(above.segment)) {
                searchRow(s, run, dy * dy, above.at);
            } else if (s == std::int64_t(below.segment)) {
                searchRow(s, run, dy * dy, below.at);
            } else {
                std::uint32_t at = none;
                searchRow(s, run, dy * dy, at);
            }
        }
    }

    // The other patches nearest to `run` in segment `s`, dy2 rows away
    // squared. `at` is a run there that ends before the run's first cell,
    // or the first that does not, or `none` when it is still to be found;
    // it is left at the first that does not. The runs from there on are no
    // nearer than the first of another patch, those before it no nearer
    // than the last of another patch.
    void searchRow(std::int64_t s, const PatchRun &run, std::int64_t dy2, std::uint32_t &at)
    {
        const std::uint32_t begin = m_segmentStart[std::size_t(s)];
        const std::uint32_t end = m_segmentStart[std::size_t(s) + 1];
        if (at == none)
            at = std::uint32_t(std::partition_point(m_runs.data() + begin, m_runs.data() + end,
                                                    [&run](const PatchRun &other) {
                                                        return other.end < run.start;
                                                    }) -
                               m_runs.data());
        else
            while (at < end && m_runs[at].end < run.start)
                ++at;
        if (at < end) {
            const std::uint32_t right =
                m_runs[at].patch != run.patch ? at : m_blockEnd[m_blockStart[at]];
            if (right < end)
                offer(run.patch, right, run, dy2);
        }
        if (at > begin) {
            if (m_runs[at - 1].patch != run.patch)
                offer(run.patch, at - 1, run, dy2);
            else if (m_blockStart[at - 1] > begin)
                offer(run.patch, m_blockStart[at - 1] - 1, run, dy2);
        }
    }

    // The distance between `run` and run `j`, of another patch, counts for
    // both patches.
    void offer(std::int32_t patch, std::uint32_t j, const PatchRun &run, std::int64_t dy2)
    {
        const PatchRun &other = m_runs[j];
        std::int64_t dx = 0;
        if (other.start > run.end)
            dx = std::int64_t(other.start) - run.end;
        else if (other.end < run.start)
            dx = std::int64_t(run.start) - other.end;
        const std::int64_t d2 = dx * dx + dy2;
        std::int64_t &mine = m_best[std::size_t(patch)];
        std::int64_t &theirs = m_best[std::size_t(other.patch)];
        mine = std::min(mine, d2);
        theirs = std::min(theirs, d2);
    }

    const std::vector<PatchRun> &m_runs;
    std::vector<std::int64_t> &m_best;
    const std::vector<std::uint32_t> &m_blockStart;
    const std::vector<std::uint32_t> &m_blockEnd;
    const std::vector<std::uint32_t> &m_segmentStart;
    const std::vector<std::int32_t> &m_segmentRow;
    std::vector<std::int32_t> &m_onlyPatch;
    std::vector<std::int32_t> &m_skipUp;
    std::vector<std::int32_t> &m_skipDown;
};

} // namespace

std::span<const std::int64_t> NearestNeighbours::squares(std::span<const PatchRun> runs,
                                                         std::span<const std::int32_t> patchClass,
                                                         int classCount, int neighbours)
{
    // Cells of one class that share a side are one patch, and so are those
    // that share a corner when corners join.
    const std::int64_t nearest = neighbours == 8 ? 4 : 2;
    Q_ASSERT(runs.size() < none);
    const auto classes = std::size_t(classCount);
    m_best.assign(patchClass.size(), unknown);
    m_patches.assign(classes, 0);
    for (const std::int32_t c : patchClass)
        ++m_patches[std::size_t(c)];

    // The runs of each class, still in the order of the map, cut into rows
    // and into blocks of runs of one patch, in one pass: the passes over
    // every run are most of the time on a map where nearly every patch has
    // a neighbour as near as patches can be.
    if (m_classes.size() < classes)
        m_classes.resize(classes);
    // Each class's storage at its size at once: grown run by run, the
    // tables of a map of a million cells would be copied a dozen times into
    // fresh pages, which take longer to fault in than the search takes.
    m_runsOfClass.assign(classes, 0);
    for (const PatchRun &run : runs)
        ++m_runsOfClass[std::size_t(patchClass[std::size_t(run.patch)])];
    for (std::size_t c = 0; c < classes; ++c)
        m_classes[c].clear(m_runsOfClass[c]);
    for (const PatchRun &run : runs) {
        ClassRuns &into = m_classes[std::size_t(patchClass[std::size_t(run.patch)])];
        const auto i = std::uint32_t(into.runs.size());
        if (i == 0 || into.runs.back().row != run.row) {
            if (i > 0)
                into.blockEnd[into.openBlock] = i;
            into.segmentStart.push_back(i);
            into.segmentRow.push_back(run.row);
            into.openBlock = i;
        } else if (into.runs.back().patch != run.patch) {
            into.blockEnd[into.openBlock] = i;
            into.openBlock = i;
        }
        into.runs.push_back(run);
        into.blockStart.push_back(into.openBlock);
        into.blockEnd.push_back(none);
    }

    for (std::size_t c = 0; c < classes; ++c) {
        ClassRuns &of = m_classes[c];
        if (m_patches[c] < 2)
            continue;
        of.blockEnd[of.openBlock] = std::uint32_t(of.runs.size());
        of.segmentStart.push_back(std::uint32_t(of.runs.size()));
        ClassRows(of, m_best, m_scratch).searchAll(nearest);
    }
    for (std::int64_t &d2 : m_best)
        if (d2 == unknown)
            d2 = -1;
    return m_best;
}

void NearestNeighbours::ClassRuns::clear(std::size_t runCount)
{
    runs.clear();
    blockStart.clear();
    blockEnd.clear();
    segmentStart.clear();
    segmentRow.clear();
    runs.reserve(runCount);
    blockStart.reserve(runCount);
    blockEnd.reserve(runCount);
    openBlock = 0;
}
