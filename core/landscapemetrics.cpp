#include "core/landscapemetrics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <initializer_list>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int wordBits = 64;

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
    for (RowRuns *runs : {&m_runs, &m_previousRuns}) {
        runs->start.resize(mostRuns);
        runs->end.resize(mostRuns);
        runs->patch.resize(mostRuns);
    }
}

void LandscapeMetricsAccumulator::addRow(const std::uint8_t *habitat)
{
    packRow(habitat);
    countRow();
    findRuns();
    joinRuns();
    closePatchesEndedBefore(m_rows);
    std::swap(m_bits, m_previousBits);
    std::swap(m_runs, m_previousRuns);
    ++m_rows;
}

LandscapeMetrics LandscapeMetricsAccumulator::finish()
{
    // No run follows the last row, so every patch still open ends there.
    m_runs.count = 0;
    closePatchesEndedBefore(m_rows);

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

    m_previousRuns.count = 0;
    m_patches.clear();
    m_freePatches.clear();
    m_mergedPatches.clear();
    m_keptRuns.clear();
    m_freeKeptRun = -1;
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
// clear, so that neither edges nor runs appear beyond the map.
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

void LandscapeMetricsAccumulator::countRow()
{
    qint64 cells = 0;
    qint64 edges = 0;
    for (int w = 0; w < m_words; ++w) {
        const std::uint64_t bits = m_bits[w];
        const std::uint64_t next = w + 1 < m_words ? m_bits[w + 1] : 0;
        cells += std::popcount(bits);
        // Each cell against its right neighbour.
        edges += std::popcount(bits ^ ((bits >> 1) | (next << 63)));
    }
    // The last column was compared with the clear bit beyond the map, which
    // is the border, not matrix.
    const int last = m_columns - 1;
    edges -= qint64((m_bits[last / wordBits] >> (last % wordBits)) & 1u);
    if (m_rows > 0) {
        for (int w = 0; w < m_words; ++w)
            edges += std::popcount(m_bits[w] ^ m_previousBits[w]);
    }
    m_habitatCells += cells;
    m_edges += edges;
}

// A run starts at a habitat bit whose left neighbour is clear and ends at one
// whose right neighbour is clear; the k-th start and the k-th end bound the
// k-th run, so both lists are read off the words without a branch per cell.
void LandscapeMetricsAccumulator::findRuns()
{
    std::int32_t *start = m_runs.start.data();
    std::int32_t *end = m_runs.end.data();
    int starts = 0;
    int ends = 0;
    std::uint64_t left = 0;
    for (int w = 0; w < m_words; ++w) {
        const std::uint64_t bits = m_bits[w];
        const std::uint64_t next = w + 1 < m_words ? m_bits[w + 1] : 0;
        std::uint64_t first = bits & ~((bits << 1) | left);
        std::uint64_t last = bits & ~((bits >> 1) | (next << 63));
        left = bits >> 63;
        const std::int32_t base = w * wordBits;
        for (; first; first &= first - 1)
            start[starts++] = base + std::countr_zero(first);
        for (; last; last &= last - 1)
            end[ends++] = base + std::countr_zero(last);
    }
    Q_ASSERT(starts == ends);
    m_runs.count = starts;
}

void LandscapeMetricsAccumulator::joinRuns()
{
    const std::int32_t *start = m_runs.start.data();
    const std::int32_t *end = m_runs.end.data();
    std::int32_t *patch = m_runs.patch.data();
    const std::int32_t *aboveStart = m_previousRuns.start.data();
    const std::int32_t *aboveEnd = m_previousRuns.end.data();
    const std::int32_t *abovePatch = m_previousRuns.patch.data();
    const int aboveCount = m_previousRuns.count;

    int first = 0;
    for (int i = 0; i < m_runs.count; ++i) {
        const std::int32_t s = start[i];
        const std::int32_t e = end[i];
        while (first < aboveCount && aboveEnd[first] + m_reach < s)
            ++first;
        std::int32_t id = -1;
        // The run above that reaches furthest right may touch the next run
        // too, so `first` is left on it.
        for (int k = first; k < aboveCount && aboveStart[k] <= e + m_reach; ++k) {
            const std::int32_t root = find(abovePatch[k]);
            id = id < 0 ? root : unite(id, root);
        }
        if (id < 0)
            id = newPatch();
        keepRun(id, s, e);
        patch[i] = id;
    }

    // Later runs of the row may have merged the patch of an earlier one.
    for (int i = 0; i < m_runs.count; ++i) {
        patch[i] = find(patch[i]);
        m_patches[patch[i]].lastRow = m_rows;
    }
}

// Closes every patch of the previous row that has no run in `row`.
void LandscapeMetricsAccumulator::closePatchesEndedBefore(std::int32_t row)
{
    const std::int32_t *abovePatch = m_previousRuns.patch.data();
    for (int k = 0; k < m_previousRuns.count; ++k) {
        const std::int32_t root = find(abovePatch[k]);
        if (m_patches[root].lastRow != row) {
            closePatch(root);
            // Marks it closed for the other runs of the row above.
            m_patches[root].lastRow = row;
        }
    }
    // Patches merged into others are only referenced by the runs of the row
    // above, which are done with now.
    m_freePatches.insert(m_freePatches.end(), m_mergedPatches.begin(), m_mergedPatches.end());
    m_mergedPatches.clear();
}

void LandscapeMetricsAccumulator::closePatch(std::int32_t id)
{
    const Patch &patch = m_patches[id];
    const qint64 area = patch.area;
    ++m_patchCount;
    m_largestArea = std::max(m_largestArea, area);
    m_areaSquareSum += double(area) * double(area);
    if (area > 1) {
        const double centreColumn = double(patch.columnSum) / double(area);
        const double centreRow = double(patch.rowSum) / double(area);
        double sum = 0;
        for (std::int32_t r = patch.firstRun; r >= 0; r = m_keptRuns[r].next) {
            const KeptRun &run = m_keptRuns[r];
            const double dy = double(run.row) - centreRow;
            const double dy2 = dy * dy;
            double runSum = 0;
            for (std::int32_t c = run.start; c <= run.end; ++c) {
                const double dx = double(c) - centreColumn;
                runSum += std::sqrt(dx * dx + dy2);
            }
            sum += runSum;
        }
        m_distanceSum += sum;
    }
    m_keptRuns[patch.lastRun].next = m_freeKeptRun;
    m_freeKeptRun = patch.firstRun;
    m_freePatches.push_back(id);
}

// Path halving keeps the trees flat; every root is looked up again at the end
// of its row, so paths never grow long.
std::int32_t LandscapeMetricsAccumulator::find(std::int32_t id)
{
    while (m_patches[id].parent != id) {
        const std::int32_t grandParent = m_patches[m_patches[id].parent].parent;
        m_patches[id].parent = grandParent;
        id = grandParent;
    }
    return id;
}

std::int32_t LandscapeMetricsAccumulator::unite(std::int32_t a, std::int32_t b)
{
    if (a == b)
        return a;
    if (m_patches[a].area < m_patches[b].area)
        std::swap(a, b);
    Patch &kept = m_patches[a];
    Patch &merged = m_patches[b];
    kept.area += merged.area;
    kept.columnSum += merged.columnSum;
    kept.rowSum += merged.rowSum;
    m_keptRuns[kept.lastRun].next = merged.firstRun;
    kept.lastRun = merged.lastRun;
    merged.parent = a;
    m_mergedPatches.push_back(b);
    return a;
}

std::int32_t LandscapeMetricsAccumulator::newPatch()
{
    std::int32_t id;
    if (!m_freePatches.empty()) {
        id = m_freePatches.back();
        m_freePatches.pop_back();
    } else {
        id = std::int32_t(m_patches.size());
        m_patches.emplace_back();
    }
    m_patches[id] = Patch{id, m_rows, -1, -1, 0, 0, 0};
    return id;
}

void LandscapeMetricsAccumulator::keepRun(std::int32_t id, std::int32_t start, std::int32_t end)
{
    std::int32_t r;
    if (m_freeKeptRun >= 0) {
        r = m_freeKeptRun;
        m_freeKeptRun = m_keptRuns[r].next;
        m_keptRuns[r] = KeptRun{m_rows, start, end, -1};
    } else {
        r = std::int32_t(m_keptRuns.size());
        m_keptRuns.push_back(KeptRun{m_rows, start, end, -1});
    }
    Patch &patch = m_patches[id];
    if (patch.lastRun >= 0)
        m_keptRuns[patch.lastRun].next = r;
    else
        patch.firstRun = r;
    patch.lastRun = r;
    const qint64 length = end - start + 1;
    patch.area += length;
    // The sum of the columns start..end, exact in integers.
    patch.columnSum += qint64(start + end) * length / 2;
    patch.rowSum += qint64(m_rows) * length;
}

LandscapeMetrics landscapeMetrics(const std::uint8_t *cells, int rows, int columns, int neighbours,
                                  double cellSize)
{
    LandscapeMetricsAccumulator accumulator(columns, neighbours, cellSize);
    for (int r = 0; r < rows; ++r)
        accumulator.addRow(cells + qint64(r) * columns);
    return accumulator.finish();
}
