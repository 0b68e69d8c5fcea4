// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/landscapemetrics.h"

#include "core/metrics/centroiddistances.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <utility>

namespace {

// Kept runs pile up to this many (16 MiB) before a second pass, and to twice
// those still open after it. Maps of up to a few million cells are then
// summed once, at the end, and every later pass copies the open runs only
// after they have doubled.
constexpr std::size_t minimumKeptRuns = std::size_t(1) << 20;

} // namespace

LandscapeMetricsAccumulator::LandscapeMetricsAccumulator(int columns, int neighbours,
                                                         double cellSize)
    : m_columns(columns)
    , m_words(bitrows::wordCount(columns))
    , m_reach(neighbours == 4 ? 0 : 1)
    , m_cellSize(cellSize)
    , m_habitat(columns)
{
    Q_ASSERT(columns > 0);
    Q_ASSERT(neighbours == 4 || neighbours == 8);
    Q_ASSERT(cellSize > 0);
    m_sumAt = minimumKeptRuns;
}

void LandscapeMetricsAccumulator::addRow(const std::uint8_t *habitat)
{
    bitrows::pack(habitat, m_columns, m_habitat.bits.data());
    m_habitat.findRunsAndGroups(m_reach > 0);
    for (const std::uint64_t word : m_habitat.bits)
        m_sums.habitatCells += std::popcount(word);
    countEdges();
    joinRuns();
    m_habitat.advance();
    ++m_rows;
    if (m_keptRunCount >= m_sumAt)
        sumClosedPatches(false);
}

LandscapeMetrics landscapeMetrics(const HabitatSums &sums, double mapCells, double cellSize)
{
    LandscapeMetrics metrics;
    metrics.habitatCells = sums.habitatCells;
    metrics.patchCount = sums.patchCount;
    if (mapCells > 0) {
        metrics.largestPatchIndex = 100.0 * double(sums.largestArea) / mapCells;
        metrics.edgeDensity = double(sums.edges) * 10000.0 / (mapCells * cellSize);
    }
    if (sums.patchCount > 0) {
        const double cellArea = cellSize * cellSize;
        const double habitat = double(sums.habitatCells);
        metrics.meanPatchArea = habitat * cellArea / double(sums.patchCount);
        metrics.areaWeightedMeanPatchArea = sums.areaSquareSum / habitat * cellArea;
        // a_i * g_i is the sum of the distances of patch i's cells.
        metrics.areaWeightedMeanGyration = sums.distanceSum / habitat * cellSize;
    }
    return metrics;
}

LandscapeMetrics LandscapeMetricsAccumulator::finish()
{
    sumClosedPatches(true);
    const LandscapeMetrics metrics =
        landscapeMetrics(m_sums, double(m_rows) * double(m_columns), m_cellSize);
    m_habitat.clear();
    m_sumAt = minimumKeptRuns;
    m_rows = 0;
    m_sums = {};
    return metrics;
}

bool LandscapeMetricsAccumulator::sumsInOnePass(qint64 rows, int columns)
{
    // A pass comes after the row that brings the kept runs to
    // minimumKeptRuns; a row holds at most every other cell's run.
    return rows * ((qint64(columns) + 1) / 2) < qint64(minimumKeptRuns);
}

// Every run has a habitat-matrix side at each end except where it meets the
// map border; the sides between this row and the one above are the columns
// where the two differ.
void LandscapeMetricsAccumulator::countEdges()
{
    qint64 edges = 2 * qint64(m_habitat.count);
    if (m_habitat.count > 0) {
        edges -= m_habitat.start[0] == 0;
        edges -= m_habitat.end[m_habitat.count - 1] == m_columns - 1;
    }
    if (m_rows > 0) {
        for (int w = 0; w < m_words; ++w)
            edges += std::popcount(m_habitat.bits[w] ^ m_habitat.previousBits[w]);
    }
    m_sums.edges += edges;
}

inline LandscapeMetricsAccumulator::KeptRun &LandscapeMetricsAccumulator::keptRun(std::size_t index)
{
    return m_keptRunChunks[index >> keptRunChunkBits][index & (keptRunChunkSize - 1)];
}

void LandscapeMetricsAccumulator::joinRuns()
{
    // The older label, the smaller one, stays the root, since the patch
    // that spans the map is usually the oldest and is looked up the most.
    // Merges join labels of earlier rows only, whose storage the new
    // labels have not yet moved.
    m_habitat.linkRuns(m_parent, [parent = m_parent.data(), area = m_area.data(),
                                  doubleColumnSum = m_doubleColumnSum.data(),
                                  rowSum = m_rowSum.data()](std::int32_t label, std::int32_t root) {
        const std::int32_t other = bitrows::findRoot(parent, label);
        const std::int32_t kept = std::min(other, root);
        const std::int32_t merged = std::max(other, root);
        if (kept != merged) {
            parent[merged] = kept;
            area[kept] += area[merged];
            doubleColumnSum[kept] += doubleColumnSum[merged];
            rowSum[kept] += rowSum[merged];
        }
        return kept;
    });
    m_area.resize(m_parent.size());
    m_doubleColumnSum.resize(m_parent.size());
    m_rowSum.resize(m_parent.size());

    // Then the kept runs and the sums, in a loop that keeps its few
    // pointers in registers.
    const std::int32_t *start = m_habitat.start.data();
    const std::int32_t *end = m_habitat.end.data();
    const std::int32_t *patch = m_habitat.patch.data();
    const int count = m_habitat.count;
    qint64 *area = m_area.data();
    qint64 *doubleColumnSum = m_doubleColumnSum.data();
    qint64 *rowSum = m_rowSum.data();

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
        m_parent[id] = bitrows::findRoot(m_parent.data(), std::int32_t(id));
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
        for (int k = 0; k < m_habitat.previousCount; ++k)
            pass[parent[m_habitat.previousPatch[k]]].newLabel = open;
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
            ++m_sums.patchCount;
            m_sums.largestArea = std::max(m_sums.largestArea, area);
            m_sums.areaSquareSum += double(area) * double(area);
            m_sums.distanceSum += root.distances[0] + root.distances[1];
        } else {
            m_area[root.newLabel] = area;
            m_doubleColumnSum[root.newLabel] = m_doubleColumnSum[id];
            m_rowSum[root.newLabel] = m_rowSum[id];
        }
    }
    for (int k = 0; k < m_habitat.previousCount; ++k)
        m_habitat.previousPatch[k] = pass[parent[m_habitat.previousPatch[k]]].newLabel;
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
