// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/nearestneighbour.h"

#include <QtGlobal>

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();

// The runs of one class, in rows (segments) from the top. Each run links to
// the next and the previous run of its row that belongs to another patch,
// so that a search in a row skips the runs of the patch looking.
class ClassRows {
public:
    ClassRows(std::span<const PatchRun> runs, std::vector<std::int64_t> &best)
        : m_runs(runs)
        , m_best(best)
    {
        const auto count = std::uint32_t(runs.size());
        m_segmentOf.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (i == 0 || runs[i].row != runs[i - 1].row) {
                m_segmentStart.push_back(i);
                m_segmentRow.push_back(runs[i].row);
            }
            m_segmentOf[i] = std::uint32_t(m_segmentStart.size() - 1);
        }
        m_segmentStart.push_back(count);
        m_nextOther.resize(count);
        m_previousOther.resize(count);
        for (std::size_t s = 0; s + 1 < m_segmentStart.size(); ++s) {
            const std::uint32_t begin = m_segmentStart[s];
            const std::uint32_t end = m_segmentStart[s + 1];
            m_nextOther[end - 1] = end;
            for (std::uint32_t i = end - 1; i-- > begin;)
                m_nextOther[i] = runs[i + 1].patch != runs[i].patch ? i + 1 : m_nextOther[i + 1];
            m_previousOther[begin] = none;
            for (std::uint32_t i = begin + 1; i < end; ++i)
                m_previousOther[i] =
                    runs[i - 1].patch != runs[i].patch ? i - 1 : m_previousOther[i - 1];
        }
    }

    void search(std::uint32_t i)
    {
        const PatchRun &run = m_runs[i];
        const std::uint32_t own = m_segmentOf[i];
        // In its own row no other run overlaps it; its own patch may hold
        // the runs beside it.
        const std::uint32_t end = m_segmentStart[own + 1];
        if (i > m_segmentStart[own]) {
            const std::uint32_t left =
                m_runs[i - 1].patch != run.patch ? i - 1 : m_previousOther[i - 1];
            if (left != none)
                offer(run.patch, left, run, 0);
        }
        if (i + 1 < end) {
            const std::uint32_t right =
                m_runs[i + 1].patch != run.patch ? i + 1 : m_nextOther[i + 1];
            if (right < end)
                offer(run.patch, right, run, 0);
        }
        // Then row by row outwards, the nearer row first.
        auto up = std::int64_t(own) - 1;
        auto down = std::int64_t(own) + 1;
        const auto rows = std::int64_t(m_segmentRow.size());
        for (;;) {
            const std::int64_t dyUp = up >= 0 ? run.row - m_segmentRow[std::size_t(up)] : unknown;
            const std::int64_t dyDown =
                down < rows ? m_segmentRow[std::size_t(down)] - run.row : unknown;
            const bool goUp = dyUp <= dyDown;
            const std::int64_t dy = goUp ? dyUp : dyDown;
            if (dy == unknown || dy * dy >= m_best[std::size_t(run.patch)])
                return;
            searchRow(goUp ? up-- : down++, run, dy * dy);
        }
    }

private:
    // The other patches nearest to `run` in segment `s`, dy2 rows away
    // squared.
    void searchRow(std::int64_t s, const PatchRun &run, std::int64_t dy2)
    {
        const std::uint32_t begin = m_segmentStart[std::size_t(s)];
        const std::uint32_t end = m_segmentStart[std::size_t(s) + 1];
        // The first run that ends at or after the run's first cell: the runs
        // from it on are no nearer than the first of another patch, those
        // before it no nearer than the last of another patch.
        const PatchRun *first =
            std::partition_point(m_runs.data() + begin, m_runs.data() + end,
                                 [&run](const PatchRun &other) { return other.end < run.start; });
        const auto at = std::uint32_t(first - m_runs.data());
        if (at < end) {
            const std::uint32_t right = m_runs[at].patch != run.patch ? at : m_nextOther[at];
            if (right < end)
                offer(run.patch, right, run, dy2);
        }
        if (at > begin) {
            const std::uint32_t left =
                m_runs[at - 1].patch != run.patch ? at - 1 : m_previousOther[at - 1];
            if (left != none)
                offer(run.patch, left, run, dy2);
        }
    }

    // The distance between `run` and run `j` of another patch counts for
    // both patches.
    void offer(std::int32_t patch, std::uint32_t j, const PatchRun &run, std::int64_t dy2)
    {
        const PatchRun &other = m_runs[j];
        if (other.patch == patch)
            return;
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

    std::span<const PatchRun> m_runs;
    std::vector<std::int64_t> &m_best;
    std::vector<std::uint32_t> m_segmentOf;
    std::vector<std::uint32_t> m_segmentStart;
    std::vector<std::int32_t> m_segmentRow;
    std::vector<std::uint32_t> m_nextOther;
    std::vector<std::uint32_t> m_previousOther;
};

} // namespace

std::vector<std::int64_t> nearestNeighbourSquares(std::span<const PatchRun> runs,
                                                  std::span<const std::int32_t> patchClass,
                                                  int classCount)
{
    Q_ASSERT(runs.size() < none);
    std::vector<std::int64_t> best(patchClass.size(), unknown);
    std::vector<std::int64_t> patches(std::size_t(classCount), 0);
    for (const std::int32_t c : patchClass)
        ++patches[std::size_t(c)];

    // The runs grouped by class, each class's still in the order of the map.
    std::vector<std::size_t> classStart(std::size_t(classCount) + 1, 0);
    for (const PatchRun &run : runs)
        ++classStart[std::size_t(patchClass[std::size_t(run.patch)]) + 1];
    for (std::size_t c = 0; c < std::size_t(classCount); ++c)
        classStart[c + 1] += classStart[c];
    std::vector<PatchRun> byClass(runs.size());
    {
        std::vector<std::size_t> next(classStart.begin(), classStart.end() - 1);
        for (const PatchRun &run : runs)
            byClass[next[std::size_t(patchClass[std::size_t(run.patch)])]++] = run;
    }

    for (std::size_t c = 0; c < std::size_t(classCount); ++c) {
        if (patches[c] < 2)
            continue;
        const std::span<const PatchRun> classRuns(byClass.data() + classStart[c],
                                                  classStart[c + 1] - classStart[c]);
        ClassRows rows(classRuns, best);
        for (std::uint32_t i = 0; i < classRuns.size(); ++i)
            rows.search(i);
    }
    for (std::int64_t &d2 : best)
        if (d2 == unknown)
            d2 = -1;
    return best;
}
