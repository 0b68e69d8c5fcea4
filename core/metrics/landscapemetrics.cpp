// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/landscapemetrics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int wordBits = 64;

// The sum of the distances from the cells of one run to a centroid, in two
// lanes: the k-th cell of the run goes to lane k % 2. The order is fixed so
// that the vector and the plain code give the same bits; a lane past the end
// of the run adds +0, which changes no sum of distances.
inline void addRunDistances(std::int32_t start, std::int32_t end, double centreColumn, double dy,
                            double lanes[2])
{
    const double dy2 = dy * dy;
#if defined(__SSE2__)
    const __m128d dy2s = _mm_set1_pd(dy2);
    const __m128d centre = _mm_set1_pd(centreColumn);
    const __m128d last = _mm_set1_pd(double(end));
    __m128d sums = _mm_loadu_pd(lanes);
    // A run has at least one cell.
    std::int32_t c = start;
    do {
        const __m128d x = _mm_cvtepi32_pd(_mm_setr_epi32(c, c + 1, 0, 0));
        const __m128d dx = _mm_sub_pd(x, centre);
        const __m128d d = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), dy2s));
        sums = _mm_add_pd(sums, _mm_and_pd(d, _mm_cmple_pd(x, last)));
        c += 2;
    } while (c <= end);
    _mm_storeu_pd(lanes, sums);
#else
    for (std::int32_t c = start; c <= end; ++c) {
        const double dx = double(c) - centreColumn;
        lanes[(c - start) % 2] += std::sqrt(dx * dx + dy2);
    }
#endif
}

// The root of a label. Path halving keeps the trees flat, so that most
// lookups start at a root.
inline std::int32_t findRoot(std::int32_t *parent, std::int32_t id)
{
    while (parent[id] != id) {
        parent[id] = parent[parent[id]];
        id = parent[id];
    }
    return id;
}

// Kept runs pile up to this many (16 MiB) before a second pass, and to twice
// those still open after it. Maps of up to a few million cells are then
// summed once, at the end, and every later pass copies the open runs only
// after they have doubled.
constexpr std::size_t minimumKeptRuns = std::size_t(1) << 20;

} // namespace

LandscapeMetricsAccumulator::LandscapeMetricsAccumulator(int columns, int neighbours,
                                                         double cellSize)
    : m_columns(columns)
    , m_words((columns + wordBits - 1) / wordBits)
    , m_reach(neighbours == 4 ? 0 : 1)
    , m_cellSize(cellSize)
{
    Q_ASSERT(columns > 0);
    Q_ASSERT(neighbours == 4 || neighbours == 8);
    Q_ASSERT(cellSize > 0);
    m_bits.assign(m_words, 0);
    m_previousBits.assign(m_words, 0);
    // Runs are separated by at least one matrix cell.
    const int mostRuns = (columns + 1) / 2;
    for (std::vector<std::int32_t> *runs :
         {&m_start, &m_end, &m_patch, &m_previousStart, &m_previousPatch})
        runs->resize(mostRuns);
    m_sumAt = minimumKeptRuns;
    m_groupStarts.assign(m_words, 0);
    m_lastGroupStartBefore.assign(m_words, -1);
    m_groupPatch.resize(columns);
}

void LandscapeMetricsAccumulator::addRow(const std::uint8_t *habitat)
{
    packRow(habitat);
    findRuns();
    countEdges();
    findGroups();
    joinRuns();
    std::swap(m_bits, m_previousBits);
    std::swap(m_start, m_previousStart);
    std::swap(m_patch, m_previousPatch);
    m_previousRunCount = m_runCount;
    ++m_rows;
    if (m_keptRunCount >= m_sumAt)
        sumClosedPatches(false);
}

LandscapeMetrics LandscapeMetricsAccumulator::finish()
{
    sumClosedPatches(true);

    LandscapeMetrics metrics;
    metrics.habitatCells = m_habitatCells;
    metrics.patchCount = m_patchCount;
    const double mapCells = double(m_rows) * double(m_columns);
    if (mapCells > 0) {
        metrics.largestPatchIndex = 100.0 * double(m_largestArea) / mapCells;
        metrics.edgeDensity = double(m_edges) * 10000.0 / (mapCells * m_cellSize);
    }
    if (m_patchCount > 0) {
        const double cellArea = m_cellSize * m_cellSize;
        const double habitat = double(m_habitatCells);
        metrics.meanPatchArea = habitat * cellArea / double(m_patchCount);
        metrics.areaWeightedMeanPatchArea = m_areaSquareSum / habitat * cellArea;
        // a_i * g_i is the sum of the distances of patch i's cells.
        metrics.areaWeightedMeanGyration = m_distanceSum / habitat * m_cellSize;
    }

    std::fill(m_previousBits.begin(), m_previousBits.end(), 0);
    m_previousRunCount = 0;
    m_sumAt = minimumKeptRuns;
    m_rows = 0;
    m_habitatCells = 0;
    m_edges = 0;
    m_patchCount = 0;
    m_largestArea = 0;
    m_areaSquareSum = 0;
    m_distanceSum = 0;
    return metrics;
}

// Bit c of word c / 64 is set for habitat; bits past the last column stay
// clear, so that no run reaches beyond the map.
void LandscapeMetricsAccumulator::packRow(const std::uint8_t *habitat)
{
    const int fullWords = m_columns / wordBits;
    for (int w = 0; w < fullWords; ++w) {
        const std::uint8_t *cells = habitat + w * wordBits;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        std::uint64_t matrix = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(cells + 16 * part));
            const auto mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
            matrix |= std::uint64_t(mask) << (16 * part);
        }
        m_bits[w] = ~matrix;
#else
        std::uint64_t word = 0;
        for (int c = 0; c < wordBits; ++c)
            word |= std::uint64_t(cells[c] != 0) << c;
        m_bits[w] = word;
#endif
    }
    if (fullWords < m_words) {
        const std::uint8_t *cells = habitat + fullWords * wordBits;
        std::uint64_t word = 0;
        for (int c = 0; c < m_columns - fullWords * wordBits; ++c)
            word |= std::uint64_t(cells[c] != 0) << c;
        m_bits[fullWords] = word;
    }
}

// A run starts at a habitat bit whose left neighbour is clear and ends before
// the first clear bit after it, so runs are read off the words a run at a
// time, without a branch per cell. Bits past the last column are clear, so a
// run always ends inside the map.
void LandscapeMetricsAccumulator::findRuns()
{
    std::int32_t *start = m_start.data();
    std::int32_t *end = m_end.data();
    const std::uint64_t *bits = m_bits.data();
    int runs = 0;
    qint64 cells = 0;
    std::uint64_t left = 0;
    for (int w = 0; w < m_words; ++w) {
        const std::uint64_t word = bits[w];
        std::uint64_t first = word & ~((word << 1) | left);
        left = word >> 63;
        const std::int32_t base = w * wordBits;
        for (; first; first &= first - 1) {
            const int bit = std::countr_zero(first);
            const std::uint64_t clear = ~word >> bit;
            std::int32_t last;
            if (clear) {
                last = base + bit + std::countr_zero(clear) - 1;
            } else {
                // Rare: the run goes on into the next words.
                int v = w + 1;
                while (v < m_words && bits[v] == ~std::uint64_t(0))
                    ++v;
                last = v < m_words ? v * wordBits + std::countr_zero(~bits[v]) - 1
                                   : m_words * wordBits - 1;
            }
            start[runs] = base + bit;
            end[runs] = last;
            cells += last - (base + bit) + 1;
            ++runs;
        }
    }
    m_runCount = runs;
    m_habitatCells += cells;
}

// Every run has a habitat-matrix side at each end except where it meets the
// map border; the sides between this row and the one above are the columns
// where the two differ.
void LandscapeMetricsAccumulator::countEdges()
{
    qint64 edges = 2 * qint64(m_runCount);
    if (m_runCount > 0) {
        edges -= m_start[0] == 0;
        edges -= m_end[m_runCount - 1] == m_columns - 1;
    }
    if (m_rows > 0) {
        for (int w = 0; w < m_words; ++w)
            edges += std::popcount(m_bits[w] ^ m_previousBits[w]);
    }
    m_edges += edges;
}

// Within two rows, the runs that touch form groups of adjacent columns: with
// 8 neighbours a group is a run of columns that hold habitat in either row,
// since any two cells of neighbouring columns touch at a side or a corner.
// With 4 neighbours such a run of columns splits where a column with habitat
// only in one row meets a column with habitat only in the other. Every run
// lies in one group, named by its first column, so the runs are joined by
// looking up their groups instead of merging two sorted lists with a branch
// at every step.
void LandscapeMetricsAccumulator::findGroups()
{
    std::uint64_t left = 0;
    std::uint64_t leftOnlyHere = 0;
    std::uint64_t leftOnlyAbove = 0;
    std::int32_t lastStart = -1;
    std::int32_t *groupPatch = m_groupPatch.data();
    for (int w = 0; w < m_words; ++w) {
        const std::uint64_t here = m_bits[w];
        const std::uint64_t above = m_previousBits[w];
        const std::uint64_t either = here | above;
        std::uint64_t starts = either & ~((either << 1) | left);
        left = either >> 63;
        if (m_reach == 0) {
            const std::uint64_t onlyHere = here & ~above;
            const std::uint64_t onlyAbove = above & ~here;
            starts |= (((onlyHere << 1) | leftOnlyHere) & onlyAbove) |
                      (((onlyAbove << 1) | leftOnlyAbove) & onlyHere);
            leftOnlyHere = onlyHere >> 63;
            leftOnlyAbove = onlyAbove >> 63;
        }
        m_groupStarts[w] = starts;
        m_lastGroupStartBefore[w] = lastStart;
        const std::int32_t base = w * wordBits;
        if (starts)
            lastStart = base + std::bit_width(starts) - 1;
        for (; starts; starts &= starts - 1)
            groupPatch[base + std::countr_zero(starts)] = -1;
    }
}

inline LandscapeMetricsAccumulator::KeptRun &LandscapeMetricsAccumulator::keptRun(std::size_t index)
{
    return m_keptRunChunks[index >> keptRunChunkBits][index & (keptRunChunkSize - 1)];
}

void LandscapeMetricsAccumulator::joinRuns()
{
    // The loops work on local pointers: the compiler cannot tell that the
    // stores into the arrays leave the members alone, and would load every
    // member again for every run.
    std::int32_t *groupPatch = m_groupPatch.data();
    const std::uint64_t *groupStarts = m_groupStarts.data();
    const std::int32_t *lastGroupStartBefore = m_lastGroupStartBefore.data();
    const auto groupAt = [=](std::int32_t column) {
        const auto w = unsigned(column) / wordBits;
        // At bit 63 the shift wraps to zero and the mask keeps the whole word.
        const std::uint64_t starts =
            groupStarts[w] & ((std::uint64_t(2) << (unsigned(column) % wordBits)) - 1);
        return starts ? std::int32_t(w * wordBits + std::bit_width(starts) - 1)
                      : lastGroupStartBefore[w];
    };
    std::int32_t *parent = m_parent.data();
    qint64 *area = m_area.data();
    qint64 *doubleColumnSum = m_doubleColumnSum.data();
    qint64 *rowSum = m_rowSum.data();

    const std::int32_t *aboveStart = m_previousStart.data();
    const std::int32_t *abovePatch = m_previousPatch.data();
    const int aboveCount = m_previousRunCount;
    for (int k = 0; k < aboveCount; ++k) {
        const std::int32_t group = groupAt(aboveStart[k]);
        const std::int32_t root = findRoot(parent, abovePatch[k]);
        const std::int32_t joined = groupPatch[group];
        // The first run above a group names its patch; the select is written
        // with a mask because it is as often true as false.
        const std::int32_t target = joined ^ ((joined ^ root) & (joined >> 31));
        groupPatch[group] = target;
        // Rare: two patches apart so far meet in this row. The older label,
        // the smaller one, stays the root, since the patch that spans the map
        // is usually the oldest and is looked up the most.
        if (target != root) {
            const std::int32_t other = findRoot(parent, target);
            const std::int32_t kept = std::min(other, root);
            const std::int32_t merged = std::max(other, root);
            if (kept != merged) {
                parent[merged] = kept;
                area[kept] += area[merged];
                doubleColumnSum[kept] += doubleColumnSum[merged];
                rowSum[kept] += rowSum[merged];
            }
            groupPatch[group] = kept;
        }
    }

    // The patch of every run first, then the kept runs and the sums, in two
    // loops that each keep their few pointers in registers.
    const std::int32_t *start = m_start.data();
    const std::int32_t *end = m_end.data();
    std::int32_t *patch = m_patch.data();
    const int count = m_runCount;
    // A group without a run above holds only its one run, which takes the
    // next free label. Whether a run is the first of its patch is as random
    // as the map, so the label is chosen without a branch: the next label is
    // made its own root beforehand and used only when needed.
    std::size_t next = m_parent.size();
    m_parent.resize(next + std::size_t(count) + 1);
    parent = m_parent.data();
    for (int i = 0; i < count; ++i) {
        const std::int32_t group = groupAt(start[i]);
        const std::int32_t joined = groupPatch[group];
        parent[next] = std::int32_t(next);
        // Later merges of the row may have moved the root of a joined group.
        const std::int32_t id = findRoot(parent, joined < 0 ? std::int32_t(next) : joined);
        next += joined < 0;
        groupPatch[group] = id;
        patch[i] = id;
    }
    m_parent.resize(next);
    m_area.resize(m_parent.size());
    m_doubleColumnSum.resize(m_parent.size());
    m_rowSum.resize(m_parent.size());
    area = m_area.data();
    doubleColumnSum = m_doubleColumnSum.data();
    rowSum = m_rowSum.data();

    const std::int32_t row = m_rows;
    std::size_t kept = m_keptRunCount;
    for (int i = 0; i < count;) {
        const std::size_t index = kept / keptRunChunkSize;
        if (index == m_keptRunChunks.size())
            m_keptRunChunks.push_back(std::make_unique_for_overwrite<KeptRun[]>(keptRunChunkSize));
        KeptRun *chunk = m_keptRunChunks[index].get() + kept % keptRunChunkSize;
        const int last =
            int(std::min<std::size_t>(count, i + (keptRunChunkSize - kept % keptRunChunkSize)));
        kept += std::size_t(last - i);
        for (; i < last; ++i) {
            const std::int32_t s = start[i];
            const std::int32_t e = end[i];
            const std::int32_t id = patch[i];
            *chunk++ = KeptRun{row, s, e, id};
            const qint64 length = e - s + 1;
            area[id] += length;
            doubleColumnSum[id] += (qint64(s) + e) * length;
            rowSum[id] += qint64(row) * length;
        }
    }
    m_keptRunCount = kept;
}

// The second pass over the kept runs. A patch is open when a run of the last
// row added belongs to it; every other patch has all its runs kept, and is
// summed and forgotten. The runs of open patches stay, in order, and their
// labels are renumbered from zero in the order of their first run, so that
// the label tables stay as small as the open patches.
void LandscapeMetricsAccumulator::sumClosedPatches(bool all)
{
    constexpr std::int32_t closed = -1;
    constexpr std::int32_t open = -2;
    const std::size_t labels = m_parent.size();
    // Path halving may leave a label pointing at another that is not a root;
    // here every label is made to point at its root.
    for (std::size_t id = 0; id < labels; ++id)
        m_parent[id] = findRoot(m_parent.data(), std::int32_t(id));
    const std::int32_t *parent = m_parent.data();
    // Centroids for every root, open or not, so that one sweep does.
    m_pass.resize(labels);
    PassLabel *pass = m_pass.data();
    for (std::size_t id = 0; id < labels; ++id) {
        if (parent[id] == std::int32_t(id)) {
            const double area = double(m_area[id]);
            pass[id] = PassLabel{double(m_doubleColumnSum[id]) / (2.0 * area),
                                 double(m_rowSum[id]) / area,
                                 {0, 0},
                                 closed};
        }
    }
    if (!all) {
        for (int k = 0; k < m_previousRunCount; ++k)
            pass[parent[m_previousPatch[k]]].newLabel = open;
    }

    // Chunk by chunk on plain pointers; the runs that stay are written back
    // at or before where they were read.
    std::int32_t openLabels = 0;
    std::size_t keptRuns = 0;
    for (std::size_t first = 0; first < m_keptRunCount; first += keptRunChunkSize) {
        const KeptRun *run = m_keptRunChunks[first / keptRunChunkSize].get();
        const KeptRun *const end = run + std::min(keptRunChunkSize, m_keptRunCount - first);
        for (; run != end; ++run) {
            PassLabel &root = pass[parent[run->patch]];
            std::int32_t &label = root.newLabel;
            if (label == closed) {
                addRunDistances(run->start, run->end, root.centreColumn,
                                double(run->row) - root.centreRow, root.distances);
            } else {
                if (label == open)
                    label = openLabels++;
                keptRun(keptRuns++) = KeptRun{run->row, run->start, run->end, label};
            }
        }
    }
    m_keptRunCount = keptRuns;

    // Closed patches are counted; open ones move to their new labels, which
    // are never larger than the roots they replace, since both count in the
    // order of first runs.
    for (std::size_t id = 0; id < labels; ++id) {
        if (parent[id] != std::int32_t(id))
            continue;
        const PassLabel &root = pass[id];
        const qint64 area = m_area[id];
        if (root.newLabel == closed) {
            ++m_patchCount;
            m_largestArea = std::max(m_largestArea, area);
            m_areaSquareSum += double(area) * double(area);
            m_distanceSum += root.distances[0] + root.distances[1];
        } else {
            m_area[root.newLabel] = area;
            m_doubleColumnSum[root.newLabel] = m_doubleColumnSum[id];
            m_rowSum[root.newLabel] = m_rowSum[id];
        }
    }
    for (int k = 0; k < m_previousRunCount; ++k)
        m_previousPatch[k] = pass[parent[m_previousPatch[k]]].newLabel;
    m_parent.resize(std::size_t(openLabels));
    for (std::int32_t id = 0; id < openLabels; ++id)
        m_parent[id] = id;
    m_area.resize(std::size_t(openLabels));
    m_doubleColumnSum.resize(std::size_t(openLabels));
    m_rowSum.resize(std::size_t(openLabels));
    m_sumAt = std::max(minimumKeptRuns, 2 * keptRuns);
}

LandscapeMetrics landscapeMetrics(const std::uint8_t *cells, int rows, int columns, int neighbours,
                                  double cellSize)
{
    LandscapeMetricsAccumulator accumulator(columns, neighbours, cellSize);
    for (int r = 0; r < rows; ++r)
        accumulator.addRow(cells + qint64(r) * columns);
    return accumulator.finish();
}
